// Loading the plug-in module as the real host's loader does: map it, let its
// library entry see process attach, and at the end process detach, then unmap
// it. The Linux half (dlopen) calls the module's ReboundLibraryEntry itself;
// on Windows LoadLibraryW and FreeLibrary leave both calls to the loader.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sim::platform {

// Loads the module at `path` (the caller has made the host functions
// reachable for it first) and lets its entry see process attach; `beforeAttach` runs
// just before that, given the module (null on Windows, where the loader maps
// the module and calls its entry in one step). Returns the module handle the plug-in is given, or
// nullptr with `error` naming the path and the system's reason. An entry that refuses process
// attach leaves nothing loaded, as on Windows.
void* LoadPluginModule(const std::string& path,
                       const std::function<void(void* module)>& beforeAttach, std::string& error);

// Where the plug-in's random helpers take their seeds from.
using SeedSource = std::uint32_t (*)();
// Gives the module's random helpers `source` through its export
// ReboundSetSeedSource. False when the module has no such export: the
// Windows DLL exports nothing, so on Windows this is always false.
bool SetModuleSeedSource(void* module, SeedSource source);

// Lets the module's entry see process detach and unloads the module. False,
// with `error` set, when the entry refused it or the module would not unload.
bool UnloadPluginModule(void* module, std::string& error);

// The plug-in module beside the running executable (librebound.so, or
// Rebound.asi on Windows); empty when there is none.
std::string PluginBesideExecutable();

}  // namespace sim::platform
