// The simulator's stand-in ScriptHookV.dll: exports the script host's
// functions under their MSVC-decorated names (the .def file that
// sim/CMakeLists.txt writes from host_functions.h), as the real host does, and forwards each to the
// function table that rebound-sim.exe installs (host_table.h). Built as its own DLL, never into the
// simulator.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "sim/host/host_table.h"

namespace {

using sim::HostFunctionTable;

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

// StandIn<Member> for each of REBOUND_HOST_FUNCTIONS.
#define REBOUND_STAND_IN_FUNCTION(name, Member, decorated, Return, Params, Args) \
  Return StandIn##Member Params { return Table().name Args; }
REBOUND_HOST_FUNCTIONS(REBOUND_STAND_IN_FUNCTION)
#undef REBOUND_STAND_IN_FUNCTION

}  // extern "C"
