// How rebound-sim.exe reaches the plug-in through its stand-in ScriptHookV.dll.
//
// The plug-in imports the host's eight functions by their MSVC-decorated
// names from ScriptHookV.dll, as in the game. The stand-in DLL exports those
// names (sim/host/ScriptHookV-sim.def) and forwards each call through this
// table of function pointers, which rebound-sim.exe installs through the DLL's
// one extra, undecorated export before it loads the plug-in. The other way
// round (the DLL importing the functions from the executable) would tie the
// DLL to the executable's file name and to an import library of the
// executable, and a DLL loaded into any other program would fail to load at
// all; with the table the DLL stands alone, and a call that arrives before the
// table is installed stops with a message. Shared by the executable's half
// (host_exports_windows.cpp) and the DLL (host_dll_windows.cpp).
#pragma once

#include <cstdint>

namespace sim {

using HostKeyboardHandler = void (*)(std::uint32_t key, std::uint16_t repeats,
                                     std::uint8_t scanCode, std::int32_t isExtended,
                                     std::int32_t isWithAlt, std::int32_t wasDownBefore,
                                     std::int32_t isUpNow);

struct HostFunctionTable {
  std::uint32_t size;  // sizeof(HostFunctionTable) as the installer knows it
  void (*scriptRegister)(void* module, void (*entry)());
  void (*scriptUnregister)(void* module);
  void (*keyboardHandlerRegister)(HostKeyboardHandler handler);
  void (*keyboardHandlerUnregister)(HostKeyboardHandler handler);
  void (*scriptWait)(std::uint32_t ms);
  void (*nativeInit)(std::uint64_t hash);
  void (*nativePush64)(std::uint64_t value);
  std::uint64_t* (*nativeCall)();
};

// The stand-in's undecorated export; it copies the table and answers 1, or 0
// when the table's size shows it was built from another version of this header.
inline constexpr const char* kInstallHostExport = "ReboundSimInstallHost";
using InstallHostFunction = int (*)(const HostFunctionTable* table);

}  // namespace sim
