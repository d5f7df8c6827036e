// The host functions of the Windows simulator: loads the stand-in
// ScriptHookV.dll from beside rebound-sim.exe and installs into it the table
// through which its decorated exports reach the running simulation (see
// host_table.h).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// winbase.h defines Yield() away (a 16-bit Windows relic); sim::Fibre has one.
#undef Yield

#include <cstdio>
#include <cstdlib>

#include "sim/host/alternate_host.h"
#include "sim/host/host_exports.h"
#include "sim/host/host_table.h"
#include "sim/host/simulation.h"
#include "sim/platform/windows_system.h"

namespace sim {

namespace {

[[noreturn]] void NoSimulation() {
  std::fprintf(stderr, "rebound-sim: a host function was called with no simulation running\n");
  std::abort();
}

// With no simulation active the alternate host answers (replay), out of the
// simulation's way.
AlternateHost* Alternate() {
  AlternateHost* host = AlternateHost::Active();
  if (host == nullptr) NoSimulation();
  return host;
}

void ScriptRegister(void* module, void (*entry)()) {
  if (Simulation* s = Simulation::Active()) return s->HostScriptRegister(module, entry);
  Alternate()->ScriptRegister(module, entry);
}
void ScriptUnregister(void* module) {
  if (Simulation* s = Simulation::Active()) return s->HostScriptUnregister(module);
  Alternate()->ScriptUnregister(module);
}
void KeyboardHandlerRegister(HostKeyboardHandler handler) {
  if (Simulation* s = Simulation::Active()) return s->HostKeyboardHandlerRegister(handler);
  Alternate()->KeyboardHandlerRegister(handler);
}
void KeyboardHandlerUnregister(HostKeyboardHandler handler) {
  if (Simulation* s = Simulation::Active()) return s->HostKeyboardHandlerUnregister(handler);
  Alternate()->KeyboardHandlerUnregister(handler);
}
void ScriptWait(std::uint32_t ms) {
  if (Simulation* s = Simulation::Active()) return s->HostScriptWait(ms);
  Alternate()->ScriptWait(ms);
}
void NativeInit(std::uint64_t hash) {
  if (Simulation* s = Simulation::Active()) return s->HostNativeInit(hash);
  Alternate()->NativeInit(hash);
}
void NativePush64(std::uint64_t value) {
  if (Simulation* s = Simulation::Active()) return s->HostNativePush(value);
  Alternate()->NativePush(value);
}
std::uint64_t* NativeCall() {
  if (Simulation* s = Simulation::Active()) return s->HostNativeCall();
  return Alternate()->NativeCall();
}

constexpr HostFunctionTable kHostFunctions = {
    sizeof(HostFunctionTable),
    &ScriptRegister,
    &ScriptUnregister,
    &KeyboardHandlerRegister,
    &KeyboardHandlerUnregister,
    &ScriptWait,
    &NativeInit,
    &NativePush64,
    &NativeCall,
};

// Loaded once and kept for the life of the process, as the real host is.
HMODULE hostModule = nullptr;

}  // namespace

bool ProvideHostFunctions(std::string& error) {
  if (hostModule != nullptr) return true;
  const std::wstring path = platform::ExecutableFolder() + L"ScriptHookV.dll";
  const HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    error = "cannot load the simulator's ScriptHookV.dll (" + platform::NarrowFromWide(path) +
            "): " + platform::SystemErrorText(GetLastError());
    return false;
  }
  // Through the generic function pointer type: FARPROC is a function of no
  // arguments, and GCC warns of a direct cast to another function type.
  const auto install = reinterpret_cast<InstallHostFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, kInstallHostExport)));
  if (install == nullptr) {
    error = platform::NarrowFromWide(path) + " is not the simulator's stand-in host: it has no " +
            kInstallHostExport;
    FreeLibrary(module);
    return false;
  }
  if (install(&kHostFunctions) != 1) {
    error = platform::NarrowFromWide(path) +
            " was built with another version of the host function table";
    FreeLibrary(module);
    return false;
  }
  hostModule = module;
  return true;
}

}  // namespace sim
