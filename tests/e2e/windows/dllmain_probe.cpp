// A plug-in that only tells what its DllMain is called with, and on which
// thread, and on which thread its keyboard handler runs. The Windows tests load
// it into rebound-sim.exe to see the loader's calls reach a DLL as in the game:
// process attach from LoadLibraryW, thread attach and detach for the keyboard
// thread, process detach from FreeLibrary.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

#include "src/host/host_api.h"

namespace {

// WriteFile rather than the C runtime's stdio: DllMain runs under the loader lock.
void Tell(const char* what) {
  char line[96];
  const int n =
      std::snprintf(line, sizeof line, "probe: %s on thread %lu\n", what, GetCurrentThreadId());
  if (n <= 0) return;
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(n), &written, nullptr);
}

void ProbeScript() {
  for (;;) scriptWait(0);
}

void ProbeKeyboard(std::uint32_t, std::uint16_t, std::uint8_t, std::int32_t, std::int32_t,
                   std::int32_t, std::int32_t) {
  Tell("keyboard message");
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      Tell("process attach");
      scriptRegister(module, &ProbeScript);
      keyboardHandlerRegister(&ProbeKeyboard);
      break;
    case DLL_PROCESS_DETACH:
      Tell("process detach");
      scriptUnregister(module);
      keyboardHandlerUnregister(&ProbeKeyboard);
      break;
    case DLL_THREAD_ATTACH:
      Tell("thread attach");
      break;
    case DLL_THREAD_DETACH:
      Tell("thread detach");
      break;
    default:
      break;
  }
  return TRUE;
}
