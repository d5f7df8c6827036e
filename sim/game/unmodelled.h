// The natives the simulated game accepts without modelling what they do, but
// counts: how often each was called and its last arguments, for tests and
// the fuzzer to read. The catalogue marks them (callsRecorded); this area
// gives them all one handler and keeps them by their catalogue entry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/game/handlers.h"

namespace sim {

struct UnmodelledCall {
  static constexpr std::size_t kKeptArgs = 4;

  const NativeSignature* native = nullptr;  // its catalogue entry
  std::int64_t calls = 0;
  std::array<std::uint64_t, kKeptArgs> lastArgs{};  // the raw slots of the last call

  // The last call's argument i read as the game reads an int.
  std::int32_t LastInt(std::size_t i) const {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(lastArgs[i]));
  }
};

struct UnmodelledCalls : QuietArea {
  // Room for every native the catalogue marks; fixed, so that recording a
  // call never allocates (the simulator counts its own allocations a frame).
  static constexpr std::size_t kCapacity = 8;

  static constexpr const char* kName = "unmodelled";  // the area's name in notes and checks
  // One handler for every native the catalogue marks callsRecorded.
  static void RegisterNatives(HandlerRegistry& registry);
  void Configure(const ScenarioNode& /*root*/) {}

  void Record(const CallFrame& call);
  // The record of a native by its catalogue name; null before its first call.
  const UnmodelledCall* Of(std::string_view native) const;
  // Calls of a native by its catalogue name, 0 before its first.
  std::int64_t Calls(std::string_view native) const {
    const UnmodelledCall* record = Of(native);
    return record != nullptr ? record->calls : 0;
  }

 private:
  std::array<UnmodelledCall, kCapacity> records_{};
  std::size_t count_ = 0;
};

}  // namespace sim
