// The Windows half of the module loader. LoadLibraryW maps the plug-in, binds
// its imports (the host's functions, from the stand-in ScriptHookV.dll loaded
// just before) and itself calls DllMain with process attach; FreeLibrary calls
// it with process detach before unmapping. Thread attach and detach reach it
// from the loader too, for every thread that starts or ends meanwhile.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <filesystem>
#include <system_error>

#include "sim/platform/module.h"
#include "sim/platform/windows_system.h"

namespace sim::platform {

void* LoadPluginModule(const std::string& path,
                       const std::function<void(void* module)>& beforeAttach, std::string& error) {
  std::wstring wide;
  if (!WideFromNarrow(path, wide)) {
    error = "cannot load the plug-in " + path + ": the path is not valid text";
    return nullptr;
  }
  // A relative path names a file from the working folder, as on Linux, not a
  // module for the loader's search path.
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(wide, ec);
  if (!ec) wide = absolute.make_preferred().wstring();
  if (beforeAttach) beforeAttach(nullptr);
  HMODULE module = LoadLibraryW(wide.c_str());
  if (module == nullptr) {
    const DWORD code = GetLastError();
    error = "cannot load the plug-in " + path + ": " + SystemErrorText(code);
    if (code == ERROR_DLL_INIT_FAILED) error += "; its DllMain refused process attach";
    return nullptr;
  }
  return module;
}

// The DLL the game loads exports nothing, so nothing can replace its seeds:
// its random helpers always draw from the system's random source.
bool SetModuleSeedSource(void* /*module*/, SeedSource /*source*/) { return false; }

bool UnloadPluginModule(void* module, std::string& error) {
  // DllMain's answer to process detach is ignored by Windows.
  if (FreeLibrary(static_cast<HMODULE>(module)) == 0) {
    error = "cannot unload the plug-in: " + SystemErrorText(GetLastError());
    return false;
  }
  return true;
}

std::string PluginBesideExecutable() {
  const std::wstring folder = ExecutableFolder();
  if (folder.empty()) return {};
  const std::wstring beside = folder + L"Rebound.asi";
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::path(beside), ec)) return {};
  return NarrowFromWide(beside);
}

}  // namespace sim::platform
