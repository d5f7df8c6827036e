#include "tests/support/recording_host.h"

#include "src/host/host_api.h"

namespace test {

RecordingHost& Host() {
  static RecordingHost host;
  return host;
}

std::vector<std::uint64_t> RecordingHost::PushesOfCall(std::size_t n) const {
  std::vector<std::uint64_t> pushes;
  std::size_t seen = 0;
  bool inCall = false;
  for (const auto& c : calls) {
    if (c.function == "nativeInit") {
      inCall = seen == n;
      ++seen;
    } else if (c.function == "nativePush64" && inCall) {
      pushes.push_back(c.value);
    } else if (c.function == "nativeCall" && inCall) {
      break;
    }
  }
  return pushes;
}

std::uint64_t RecordingHost::HashOfCall(std::size_t n) const {
  std::size_t seen = 0;
  for (const auto& c : calls) {
    if (c.function == "nativeInit" && seen++ == n) return c.value;
  }
  return 0;
}

std::size_t RecordingHost::NativeCallCount() const {
  std::size_t n = 0;
  for (const auto& c : calls) n += c.function == "nativeCall" ? 1 : 0;
  return n;
}

}  // namespace test

extern "C" {
void scriptRegister(rebound::ModuleHandle module, rebound::ScriptEntry entry) {
  test::Host().calls.push_back({"scriptRegister", reinterpret_cast<std::uintptr_t>(module),
                                reinterpret_cast<const void*>(entry)});
}
void scriptUnregister(rebound::ModuleHandle module) {
  test::Host().calls.push_back({"scriptUnregister", reinterpret_cast<std::uintptr_t>(module)});
}
void keyboardHandlerRegister(rebound::KeyboardHandler handler) {
  test::Host().calls.push_back(
      {"keyboardHandlerRegister", 0, reinterpret_cast<const void*>(handler)});
}
void keyboardHandlerUnregister(rebound::KeyboardHandler handler) {
  test::Host().calls.push_back(
      {"keyboardHandlerUnregister", 0, reinterpret_cast<const void*>(handler)});
}
void scriptWait(std::uint32_t ms) { test::Host().calls.push_back({"scriptWait", ms}); }
void nativeInit(std::uint64_t hash) { test::Host().calls.push_back({"nativeInit", hash}); }
void nativePush64(std::uint64_t value) { test::Host().calls.push_back({"nativePush64", value}); }
std::uint64_t* nativeCall() {
  auto& host = test::Host();
  host.calls.push_back({"nativeCall"});
  for (auto& slot : host.resultBuffer) slot = 0;
  if (!host.results.empty()) {
    const auto& next = host.results.front();
    for (std::size_t i = 0; i < next.size() && i < 4; ++i) host.resultBuffer[i] = next[i];
    host.results.pop_front();
  }
  return host.resultBuffer;
}
}
