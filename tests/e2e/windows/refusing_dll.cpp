// A plug-in whose DllMain registers its script and then refuses process
// attach: the Windows loader must undo the load with process detach, where the
// DLL unregisters again, and LoadLibraryW must fail.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "src/host/host_api.h"

namespace {

void IdleScript() {
  for (;;) scriptWait(0);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    scriptRegister(module, &IdleScript);
    return FALSE;
  }
  if (reason == DLL_PROCESS_DETACH) scriptUnregister(module);
  return TRUE;
}
