// The host functions of the Linux simulator: plain C symbols exported from the
// executable, to which the plug-in module's undefined references bind when it
// is loaded.
#include <cstdio>
#include <cstdlib>

#include "sim/host/alternate_host.h"
#include "sim/host/host_exports.h"
#include "sim/host/simulation.h"

namespace {

[[noreturn, gnu::cold, gnu::noinline]] void NoSimulation() {
  std::fprintf(stderr, "rebound-sim: a host function was called with no simulation running\n");
  std::abort();
}

// With no simulation active: the alternate host (replay), or a stop. Out of
// line and cold, each reached by a tail call, so that the exports' quick way
// through (a simulation is active) is one test, as it was before.
sim::AlternateHost* Alternate() {
  sim::AlternateHost* host = sim::AlternateHost::Active();
  if (host == nullptr) NoSimulation();
  return host;
}

[[gnu::cold, gnu::noinline]] void OtherScriptRegister(void* module, void (*entry)()) {
  Alternate()->ScriptRegister(module, entry);
}
[[gnu::cold, gnu::noinline]] void OtherScriptUnregister(void* module) {
  Alternate()->ScriptUnregister(module);
}
[[gnu::cold, gnu::noinline]] void OtherKeyboardHandlerRegister(sim::KeyboardHandler handler) {
  Alternate()->KeyboardHandlerRegister(handler);
}
[[gnu::cold, gnu::noinline]] void OtherKeyboardHandlerUnregister(sim::KeyboardHandler handler) {
  Alternate()->KeyboardHandlerUnregister(handler);
}
[[gnu::cold, gnu::noinline]] void OtherScriptWait(std::uint32_t ms) { Alternate()->ScriptWait(ms); }
[[gnu::cold, gnu::noinline]] void OtherNativeInit(std::uint64_t hash) {
  Alternate()->NativeInit(hash);
}
[[gnu::cold, gnu::noinline]] void OtherNativePush(std::uint64_t value) {
  Alternate()->NativePush(value);
}
[[gnu::cold, gnu::noinline]] std::uint64_t* OtherNativeCall() { return Alternate()->NativeCall(); }

}  // namespace

namespace sim {

// The symbols below are in the executable from the start.
bool ProvideHostFunctions(std::string& /*error*/) { return true; }

}  // namespace sim

#define REBOUND_SIM_EXPORT extern "C" __attribute__((visibility("default")))

// Each asks for the active simulation once; with none, it goes the cold way.
REBOUND_SIM_EXPORT void scriptRegister(void* module, void (*entry)()) {
  sim::Simulation* s = sim::Simulation::Active();
  if (s == nullptr) [[unlikely]]
    return OtherScriptRegister(module, entry);
  s->HostScriptRegister(module, entry);
}
REBOUND_SIM_EXPORT void scriptUnregister(void* module) {
  sim::Simulation* s = sim::Simulation::Active();
  if (s == nullptr) [[unlikely]]
    return OtherScriptUnregister(module);
  s->HostScriptUnregister(module);
}
REBOUND_SIM_EXPORT void keyboardHandlerRegister(sim::Simulation::KeyboardHandler handler) {
  sim::Simulation* s = sim::Simulation::Active();
  if (s == nullptr) [[unlikely]]
    return OtherKeyboardHandlerRegister(handler);
  s->HostKeyboardHandlerRegister(handler);
}
REBOUND_SIM_EXPORT void keyboardHandlerUnregister(sim::Simulation::KeyboardHandler handler) {
  sim::Simulation* s = sim::Simulation::Active();
  if (s == nullptr) [[unlikely]]
    return OtherKeyboardHandlerUnregister(handler);
  s->HostKeyboardHandlerUnregister(handler);
}
REBOUND_SIM_EXPORT void scriptWait(std::uint32_t ms) {
  sim::Simulation* s = sim::Simulation::Active();
  if (s == nullptr) [[unlikely]]
    return OtherScriptWait(ms);
  s->HostScriptWait(ms);
}
REBOUND_SIM_EXPORT void nativeInit(std::uint64_t hash) {
  sim::Simulation* s = sim::Simulation::Active();
  if (s == nullptr) [[unlikely]]
    return OtherNativeInit(hash);
  s->HostNativeInit(hash);
}
REBOUND_SIM_EXPORT void nativePush64(std::uint64_t value) {
  sim::Simulation* s = sim::Simulation::Active();
  if (s == nullptr) [[unlikely]]
    return OtherNativePush(value);
  s->HostNativePush(value);
}
REBOUND_SIM_EXPORT std::uint64_t* nativeCall() {
  sim::Simulation* s = sim::Simulation::Active();
  if (s == nullptr) [[unlikely]]
    return OtherNativeCall();
  return s->HostNativeCall();
}
