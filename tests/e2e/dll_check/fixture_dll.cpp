// A stand-in plug-in DLL for testing the import check. Built as it is, it binds
// to the host exactly as Rebound does and must be accepted; each FIXTURE_*
// switch adds one fault that the check must reject.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <string>

#include "src/host/host_api.h"

#if defined(FIXTURE_OLD_UNREGISTER)
// The host's older overload, which takes the script function: exported by the
// host but not the one to bind to.
extern "C" void scriptUnregisterByEntry(rebound::ScriptEntry entry)
    REBOUND_HOST_NAME("?scriptUnregister@@YAXP6AXXZ@Z");
#endif

#if defined(FIXTURE_EXPORT)
extern "C" __declspec(dllexport) int FixtureExported() { return 1; }
#endif

namespace {

void OnKey(std::uint32_t, std::uint16_t, std::uint8_t, std::int32_t, std::int32_t, std::int32_t,
           std::int32_t) {}

void Script() {
  for (;;) {
    nativeInit(0xD80958FC74E988A6);
    nativePush64(0);
    (void)nativeCall();
    scriptWait(0);
  }
}

#if defined(FIXTURE_RUNTIME_DLL)
// Anything from the C++ runtime; linked dynamically it comes from libstdc++-6.dll.
std::string* heldText = nullptr;
#endif

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
#if defined(FIXTURE_RUNTIME_DLL)
      heldText = new std::string(static_cast<std::size_t>(reason) + 40, 'x');
#endif
      scriptRegister(module, &Script);
      keyboardHandlerRegister(&OnKey);
      break;
    case DLL_PROCESS_DETACH:
#if defined(FIXTURE_OLD_UNREGISTER)
      scriptUnregisterByEntry(&Script);
#else
      scriptUnregister(module);
#endif
#if !defined(FIXTURE_MISSING_FUNCTION)
      keyboardHandlerUnregister(&OnKey);
#endif
      break;
    default:
      break;
  }
  return TRUE;
}
