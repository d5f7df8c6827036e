// Windows pieces of the plug-in: the DLL entry and the tick count. The only
// file that includes <windows.h>.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "src/host/library_entry.h"
#include "src/host/platform.h"

namespace rebound {

std::uint32_t TickCountMs() noexcept { return GetTickCount(); }

}  // namespace rebound

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  return rebound::LibraryEntry(module, reason);
}
