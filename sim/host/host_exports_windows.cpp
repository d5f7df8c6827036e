// The host functions of the Windows simulator: loads the stand-in
// ScriptHookV.dll and installs into it the table through which its decorated
// exports reach the running simulation (see host_table.h).
//
// The stand-in carries the real host's file name, so the modders' package
// keeps it in a folder of its own, stand-in-host\ beside rebound-sim.exe,
// where nobody takes it for a file of the game's; the build tree keeps it
// beside the executable. It is loaded by its full path before the plug-in:
// the plug-in's import of ScriptHookV.dll then binds to the module already
// loaded under that name, wherever its folder.
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

#define REBOUND_FORWARD_HOST_FUNCTION(name, Member, decorated, Return, Params, Args) \
  Return Member Params {                                                             \
    if (Simulation* s = Simulation::Active()) return s->Host##Member Args;           \
    return Alternate()->Member Args;                                                 \
  }
REBOUND_HOST_FUNCTIONS(REBOUND_FORWARD_HOST_FUNCTION)
#undef REBOUND_FORWARD_HOST_FUNCTION

#define REBOUND_HOST_TABLE_ENTRY(name, Member, decorated, Return, Params, Args) &Member,
constexpr HostFunctionTable kHostFunctions = {sizeof(HostFunctionTable),
                                              REBOUND_HOST_FUNCTIONS(REBOUND_HOST_TABLE_ENTRY)};
#undef REBOUND_HOST_TABLE_ENTRY

// Loaded once and kept for the life of the process, as the real host is.
HMODULE hostModule = nullptr;

// The stand-in's folder in the modders' package, then the build tree's.
constexpr const wchar_t* kStandInPlaces[] = {L"stand-in-host\\ScriptHookV.dll", L"ScriptHookV.dll"};

// The first place that holds the stand-in, or the package's place when none
// does (so that the error names where it belongs).
std::wstring StandInPath() {
  const std::wstring folder = platform::ExecutableFolder();
  for (const wchar_t* place : kStandInPlaces) {
    const std::wstring path = folder + place;
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
  }
  return folder + kStandInPlaces[0];
}

}  // namespace

bool ProvideHostFunctions(std::string& error) {
  if (hostModule != nullptr) return true;
  const std::wstring path = StandInPath();
  const HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    error = "cannot load the simulator's stand-in ScriptHookV.dll (" +
            platform::NarrowFromWide(path) + "): " + platform::SystemErrorText(GetLastError()) +
            "; it belongs in the folder stand-in-host beside rebound-sim.exe";
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
