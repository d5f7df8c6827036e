// The host functions of the Linux simulator: plain C symbols exported from the
// executable, to which the plug-in module's undefined references bind when it
// is loaded.
#include <cstdio>
#include <cstdlib>

#include "sim/host/host_exports.h"
#include "sim/host/simulation.h"

namespace {

[[noreturn, gnu::cold, gnu::noinline]] void NoSimulation() {
  std::fprintf(stderr, "rebound-sim: a host function was called with no simulation running\n");
  std::abort();
}

// Out of the way of the native functions, which run on every native call:
// they keep no frame of their own for a message they never print.
sim::Simulation* Host() {
  sim::Simulation* s = sim::Simulation::Active();
  if (s == nullptr) [[unlikely]]
    NoSimulation();
  return s;
}

}  // namespace

namespace sim {

// The symbols below are in the executable from the start.
bool ProvideHostFunctions(std::string& /*error*/) { return true; }

}  // namespace sim

#define REBOUND_SIM_EXPORT extern "C" __attribute__((visibility("default")))

REBOUND_SIM_EXPORT void scriptRegister(void* module, void (*entry)()) {
  Host()->HostScriptRegister(module, entry);
}
REBOUND_SIM_EXPORT void scriptUnregister(void* module) { Host()->HostScriptUnregister(module); }
REBOUND_SIM_EXPORT void keyboardHandlerRegister(sim::Simulation::KeyboardHandler handler) {
  Host()->HostKeyboardHandlerRegister(handler);
}
REBOUND_SIM_EXPORT void keyboardHandlerUnregister(sim::Simulation::KeyboardHandler handler) {
  Host()->HostKeyboardHandlerUnregister(handler);
}
REBOUND_SIM_EXPORT void scriptWait(std::uint32_t ms) { Host()->HostScriptWait(ms); }
REBOUND_SIM_EXPORT void nativeInit(std::uint64_t hash) { Host()->HostNativeInit(hash); }
REBOUND_SIM_EXPORT void nativePush64(std::uint64_t value) { Host()->HostNativePush(value); }
REBOUND_SIM_EXPORT std::uint64_t* nativeCall() { return Host()->HostNativeCall(); }
