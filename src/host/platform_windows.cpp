// Windows pieces of the plug-in: the DLL entry and the tick count. The only
// file of the player's build that includes <windows.h> (the recording build's
// own system pieces are in src/recorder/system_windows.cpp).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "src/host/library_entry.h"
#include "src/host/platform.h"
#include "src/recorder/hooks.h"

namespace rebound {

std::uint32_t TickCountMs() noexcept { return GetTickCount(); }

}  // namespace rebound

// The recording build needs to know whether a process detach is the
// process's exit (reserved is non-null then, and the system has ended the
// other threads) or an unload by FreeLibrary.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == rebound::kProcessDetach)
    rebound::recorder::SetDetachIsProcessExit(reserved != nullptr);
  return rebound::LibraryEntry(module, reason);
}
