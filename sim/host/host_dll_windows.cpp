// The simulator's stand-in ScriptHookV.dll: exports the script host's eight
// functions under their MSVC-decorated names (ScriptHookV-sim.def), as the
// real host does, and forwards each to the function table that rebound-sim.exe
// installs (host_table.h). Built as its own DLL, never into the simulator.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "sim/host/host_table.h"

namespace {

using sim::HostFunctionTable;
using sim::HostKeyboardHandler;

// Written once, before the plug-in is loaded; read by every call after.
HostFunctionTable installed{};

const HostFunctionTable& Table() {
  if (installed.size == 0) {
    std::fprintf(stderr,
                 "ScriptHookV.dll (rebound-sim's stand-in): a host function was called before "
                 "rebound-sim installed its functions\n");
    std::abort();
  }
  return installed;
}

}  // namespace

// The names the .def file exports under the decorated names.
extern "C" {

int ReboundSimInstallHost(const HostFunctionTable* table) {
  if (table == nullptr || table->size != sizeof(HostFunctionTable)) return 0;
  installed = *table;
  return 1;
}

void StandInScriptRegister(void* module, void (*entry)()) { Table().scriptRegister(module, entry); }
void StandInScriptUnregister(void* module) { Table().scriptUnregister(module); }
void StandInKeyboardHandlerRegister(HostKeyboardHandler handler) {
  Table().keyboardHandlerRegister(handler);
}
void StandInKeyboardHandlerUnregister(HostKeyboardHandler handler) {
  Table().keyboardHandlerUnregister(handler);
}
void StandInScriptWait(std::uint32_t ms) { Table().scriptWait(ms); }
void StandInNativeInit(std::uint64_t hash) { Table().nativeInit(hash); }
void StandInNativePush64(std::uint64_t value) { Table().nativePush64(value); }
std::uint64_t* StandInNativeCall() { return Table().nativeCall(); }

}  // extern "C"
