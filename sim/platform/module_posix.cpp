// The Linux half of the module loader: dlopen binds the module's host
// references to the executable's exports, and its ReboundLibraryEntry (the
// DllMain contract) is called here, since no loader calls it on Linux.
#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "sim/platform/module.h"

namespace sim::platform {

namespace {

using LibraryEntry = int (*)(void* module, unsigned int reason, void* reserved);
constexpr unsigned int kProcessDetach = 0;
constexpr unsigned int kProcessAttach = 1;
constexpr const char* kEntryName = "ReboundLibraryEntry";
using SetSeedSource = SeedSource (*)(SeedSource source) noexcept;
constexpr const char* kSeedExportName = "ReboundSetSeedSource";

std::string LastDlError() {
  const char* why = dlerror();
  return why != nullptr ? why : "unknown reason";
}

LibraryEntry FindEntry(void* module) {
  return reinterpret_cast<LibraryEntry>(dlsym(module, kEntryName));
}

}  // namespace

void* LoadPluginModule(const std::string& path,
                       const std::function<void(void* module)>& beforeAttach, std::string& error) {
  // A relative path names a file from the working folder, never a library on
  // the loader's search path.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  void* module = dlopen(ec ? path.c_str() : absolute.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    error = "cannot load the plug-in " + path + ": " + LastDlError();
    return nullptr;
  }
  const LibraryEntry entry = FindEntry(module);
  if (entry == nullptr) {
    error = "the plug-in " + path + " has no library entry " + kEntryName;
    dlclose(module);
    return nullptr;
  }
  if (beforeAttach) beforeAttach(module);
  const int ok = entry(module, kProcessAttach, nullptr);
  if (ok != 1) {
    // Windows undoes a refused attach with process detach and unloads.
    error = "the library entry of " + path + " returned " + std::to_string(ok) + " on attach";
    entry(module, kProcessDetach, nullptr);
    dlclose(module);
    return nullptr;
  }
  return module;
}

bool SetModuleSeedSource(void* module, SeedSource source) {
  const auto set = reinterpret_cast<SetSeedSource>(dlsym(module, kSeedExportName));
  if (set == nullptr) return false;
  set(source);
  return true;
}

bool UnloadPluginModule(void* module, std::string& error) {
  bool ok = true;
  if (const LibraryEntry entry = FindEntry(module)) {
    const int result = entry(module, kProcessDetach, nullptr);
    if (result != 1) {
      error = "the library entry returned " + std::to_string(result) + " on detach";
      ok = false;
    }
  }
  if (dlclose(module) != 0) {
    if (ok) error = "cannot unload the plug-in: " + LastDlError();
    ok = false;
  }
  return ok;
}

std::string PluginBesideExecutable() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  const auto beside = self.parent_path() / "librebound.so";
  if (!std::filesystem::exists(beside, ec)) return {};
  return beside.string();
}

}  // namespace sim::platform
