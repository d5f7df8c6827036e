// A plug-in module that uses every service of the host besides scripts,
// keyboard and natives, for services_test.py. It looks the services up at
// attach (GetProcAddress on ScriptHookV.dll by decorated name on Windows,
// dlsym by name on Linux) and shows what each answered by passing it to
// REPORT_VALUE(what, value), a native of the test's catalogue, so that the
// trace carries it. What it does besides is picked by the environment
// variable REBOUND_SERVICES_MODE:
//   (unset)            every service once a start; textures drawn in the first frames
//   native-in-present  the present callback calls a native
//   version-info       the script asks getGameVersionInfo in its second frame
//   keep-present       the present callback is left registered at detach
//   world-at-attach    worldGetAllPeds at attach, off the script fibre
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "src/host/host_api.h"
#include "tests/support/host_services_api.h"
#include "tests/support/script_module.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// REPORT_VALUE(const char* what, int value), and PLAYER_PED_ID, which the world models.
constexpr std::uint64_t kReportValue = 0x0000000000000C01;
constexpr std::uint64_t kPlayerPedId = 0xD80958FC74E988A6;

services::Functions host;
int missing = 0;
int attachVersion = 0;
bool attachCanExecute = true;
int presentCalls = 0;
const char* mode = "";

bool Mode(const char* name) { return std::strcmp(mode, name) == 0; }

void Report(const char* what, std::int64_t value) {
  nativeInit(kReportValue);
  nativePush64(reinterpret_cast<std::uintptr_t>(what));
  // An int in the low half of its slot, as the game reads it.
  nativePush64(static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
  nativeCall();
}

void Present(void* swapChain) {
  ++presentCalls;
  if (swapChain != nullptr) presentCalls += 1000;  // shows as a count far off
  if (Mode("native-in-present")) nativeInit(kPlayerPedId);
}

void ReportGlobals() {
  std::uint64_t* preset = host.getGlobalPtr(1234);
  Report("global1234", static_cast<std::int64_t>(*preset));
  *preset += 1;
  Report("sameSlot", host.getGlobalPtr(1234) == preset ? 1 : 0);
  std::uint64_t* fresh = host.getGlobalPtr(77);
  Report("global77", static_cast<std::int64_t>(*fresh));
  *fresh = 42;
}

void ReportWorld() {
  std::int32_t handles[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  const std::int32_t peds = host.worldGetAllPeds(handles, 8);
  Report("peds", peds);
  for (std::int32_t i = 0; i < peds; ++i) Report("ped", handles[i]);
  handles[0] = handles[1] = -1;
  Report("vehicles", host.worldGetAllVehicles(handles, 1));
  Report("vehicle", handles[0]);
  Report("vehicleAfterSize", handles[1]);
  handles[0] = -1;
  Report("objects", host.worldGetAllObjects(handles, 0));
  Report("pickups", host.worldGetAllPickups(handles, -3));
  Report("untouched", handles[0]);
}

void ReportStart() {
  Report("missing", missing);
  Report("attachVersion", attachVersion);
  Report("attachCanExecute", attachCanExecute ? 1 : 0);
  Report("version", host.getGameVersion());
  Report("canExecute", host.nativeCanExecuteInThisContext() ? 1 : 0);
  Report("reloading", host.scriptsAreLaunchedUsingReloading() ? 1 : 0);
  Report("baseAddressNull", host.getScriptHandleBaseAddress(1) == nullptr ? 1 : 0);
  ReportGlobals();
  ReportWorld();
}

void DrawTextures(int frame, std::int32_t marker, std::int32_t banner) {
  // The marker for 3 frames, redrawn every frame with a short time.
  if (frame < 3) {
    host.drawTexture(marker, 0, 1, 10, 0.1F, 0.1F, 0.5F, 0.5F, 0.25F, 0.25F, 0.0F, 1.0F, 1.0F, 0.0F,
                     0.0F, 1.0F);
  }
  if (frame == 0) {
    // The banner once, for 100 ms, under the marker (lower level first).
    host.drawTexture(banner, 3, 0, 100, 0.4F, 0.1F, 0.0F, 0.0F, 0.1F, 0.7F, 0.0F, 1.0F, 0.0F, 1.0F,
                     0.0F, 0.5F);
    host.drawTexture(999, 0, 0, 100, 0.1F, 0.1F, 0.5F, 0.5F, 0.5F, 0.5F, 0.0F, 1.0F, 1.0F, 1.0F,
                     1.0F, 1.0F);
    host.drawTexture(marker, 64, 0, 100, 0.1F, 0.1F, 0.5F, 0.5F, 0.5F, 0.5F, 0.0F, 1.0F, 1.0F, 1.0F,
                     1.0F, 1.0F);
  }
}

void Script() {
  ReportStart();
  const std::int32_t marker = host.createTexture("C:\\mods\\test\\marker.png");
  const std::int32_t banner = host.createTexture("C:\\mods\\test\\banner.png");
  Report("marker", marker);
  Report("banner", banner);
  for (int frame = 0;; ++frame) {
    DrawTextures(frame, marker, banner);
    Report("presentCalls", presentCalls);
    if (frame == 1 && Mode("version-info")) host.getGameVersionInfo();
    scriptWait(0);
  }
}

void Attach(void* module) {
  const char* chosen = std::getenv("REBOUND_SERVICES_MODE");
  mode = chosen != nullptr ? chosen : "";
  if (host.getGameVersion != nullptr) attachVersion = host.getGameVersion();
  if (host.nativeCanExecuteInThisContext != nullptr) {
    attachCanExecute = host.nativeCanExecuteInThisContext();
  }
  if (Mode("world-at-attach")) {
    std::int32_t handles[4];
    host.worldGetAllPeds(handles, 4);
  }
  scriptRegister(module, &Script);
  if (host.presentCallbackRegister != nullptr) host.presentCallbackRegister(&Present);
}

void Detach(void* module) {
  scriptUnregister(module);
  if (!Mode("keep-present") && host.presentCallbackUnregister != nullptr) {
    host.presentCallbackUnregister(&Present);
  }
}

}  // namespace

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    const HMODULE hostModule = GetModuleHandleA("ScriptHookV.dll");
    host = services::Bind(
        [hostModule](const char*, const char* decorated) {
          return hostModule == nullptr
                     ? nullptr
                     : reinterpret_cast<void*>(GetProcAddress(hostModule, decorated));
        },
        missing);
    Attach(module);
  }
  if (reason == DLL_PROCESS_DETACH) Detach(module);
  return TRUE;
}
#else
REBOUND_TEST_SEED_SOURCE

extern "C" __attribute__((visibility("default"))) int ReboundLibraryEntry(void* module,
                                                                          unsigned int reason,
                                                                          void* /*reserved*/) {
  if (reason == 1) {
    host = services::Bind([](const char* name, const char*) { return dlsym(RTLD_DEFAULT, name); },
                          missing);
    Attach(module);
  }
  if (reason == 0) Detach(module);
  return 1;
}
#endif
