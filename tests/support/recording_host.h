// A recording double of the script host's functions, for testing the native
// call layer and the plug-in shell without the simulator: every host call is
// logged, and native results come from a queue the test fills.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace test {

struct HostCall {
  std::string function;           // "nativeInit", "nativePush64", "scriptRegister", ...
  std::uint64_t value = 0;        // the hash, slot, ms, or module handle
  const void* pointer = nullptr;  // the script entry or keyboard handler
};

struct RecordingHost {
  std::vector<HostCall> calls;
  // Result slots handed back by the next nativeCall; zeros when empty.
  std::deque<std::vector<std::uint64_t>> results;
  std::uint64_t resultBuffer[4] = {};

  void Reset() {
    calls.clear();
    results.clear();
  }
  // The slots pushed for the n-th native call (0-based), and its hash.
  std::vector<std::uint64_t> PushesOfCall(std::size_t n) const;
  std::uint64_t HashOfCall(std::size_t n) const;
  std::size_t NativeCallCount() const;
};

RecordingHost& Host();

}  // namespace test
