// The host functions for Windows programs that run the plug-in's code as the
// script of a simulation in the program itself (the tests, rebound-sim's panel
// demo). The core binds to the host's decorated names; here they are defined
// in the program and forward to the running simulation, as the Linux
// simulator's plain exports do. Loaded plug-ins still bind through the
// stand-in ScriptHookV.dll. This file joins the plug-in's declarations to the
// simulator, so it lives with the programs, outside sim/, which never
// includes the plug-in.
#include <cstdio>
#include <cstdlib>

#include "sim/host/simulation.h"
#include "src/host/host_api.h"

namespace {

sim::Simulation* Host() {
  sim::Simulation* s = sim::Simulation::Active();
  if (s == nullptr) {
    std::fprintf(stderr, "test host: a host function was called with no simulation running\n");
    std::abort();
  }
  return s;
}

}  // namespace

extern "C" {

void scriptRegister(rebound::ModuleHandle module, rebound::ScriptEntry entry) {
  Host()->HostScriptRegister(module, entry);
}
void scriptUnregister(rebound::ModuleHandle module) { Host()->HostScriptUnregister(module); }
void keyboardHandlerRegister(rebound::KeyboardHandler handler) {
  Host()->HostKeyboardHandlerRegister(handler);
}
void keyboardHandlerUnregister(rebound::KeyboardHandler handler) {
  Host()->HostKeyboardHandlerUnregister(handler);
}
void scriptWait(std::uint32_t ms) { Host()->HostScriptWait(ms); }
void nativeInit(std::uint64_t hash) { Host()->HostNativeInit(hash); }
void nativePush64(std::uint64_t value) { Host()->HostNativePush(value); }
std::uint64_t* nativeCall() { return Host()->HostNativeCall(); }
}
