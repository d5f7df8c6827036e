// How rebound-sim.exe reaches the plug-in through its stand-in ScriptHookV.dll.
//
// The plug-in imports the host's functions by their MSVC-decorated names from
// ScriptHookV.dll, as in the game. The stand-in DLL exports those names (the
// .def file that sim/CMakeLists.txt writes from host_functions.h) and forwards each call through
// this table of function pointers, which rebound-sim.exe installs through the DLL's one extra,
// undecorated export before it loads the plug-in. The other way round (the DLL importing the
// functions from the executable) would tie the DLL to the executable's file name and to an import
// library of the executable, and a DLL loaded into any other program would fail to load at all;
// with the table the DLL stands alone, and a call that arrives before the table is installed stops
// with a message. Shared by the executable's half (host_exports_windows.cpp) and the DLL
// (host_dll_windows.cpp).
#pragma once

#include <cstdint>

#include "sim/host/host_functions.h"

namespace sim {

// A pointer for each of REBOUND_HOST_FUNCTIONS, by its name, in the list's order.
struct HostFunctionTable {
  std::uint32_t size;  // sizeof(HostFunctionTable) as the installer knows it
#define REBOUND_HOST_TABLE_FIELD(name, Member, decorated, Return, Params, Args) \
  Return(*name) Params;
  REBOUND_HOST_FUNCTIONS(REBOUND_HOST_TABLE_FIELD)
#undef REBOUND_HOST_TABLE_FIELD
};

// The stand-in's undecorated export; it copies the table and answers 1, or 0
// when the table's size shows it was built from another version of this header.
inline constexpr const char* kInstallHostExport = "ReboundSimInstallHost";
using InstallHostFunction = int (*)(const HostFunctionTable* table);

}  // namespace sim
