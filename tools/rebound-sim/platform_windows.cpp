// rebound-sim on Windows: the C runtime's calls behind platform.h.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "tools/rebound-sim/output_file.h"
#include "tools/rebound-sim/platform.h"

namespace rebound_sim::platform {

void EndWithoutDetach(int status) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  // ExitProcess, which exit() and _exit() end in, calls every DllMain.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  std::_Exit(status);
}

bool PluginCanBeSeeded() { return false; }

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void WriteStandardOutputAsBinary() { _setmode(_fileno(stdout), _O_BINARY); }

bool IsSameAsStandardOutput(const std::filesystem::path& /*path*/) { return false; }

bool OpenTemporary(const std::filesystem::path& folder, const std::string& name,
                   const std::filesystem::path& /*target*/, std::ofstream& file,
                   std::filesystem::path& temp, std::string& reason) {
  // Numbered, so that two long names cut to one temporary's stay apart.
  static int made = 0;
  const std::string suffix =
      "." + std::to_string(_getpid()) + "." + std::to_string(++made) + ".tmp";
  // A name holds at most 255 UTF-16 units, never more than its UTF-8 bytes:
  // a name near the limit gives up its end for the temporary's.
  constexpr std::size_t kLongestName = 255;
  const std::filesystem::path path =
      folder / PathFromUtf8(ShortenedName(name, kLongestName - suffix.size()) + suffix);
  file.open(path, std::ios::binary | std::ios::trunc | std::ios::out);
  if (!file) {
    reason = std::strerror(errno);
    return false;
  }
  temp = path;
  return true;
}

// Windows runs the handler on its own thread; a file still open cannot be
// removed there, so this is a best effort.
void RemoveFileInSignalHandler(const char* path) { std::remove(path); }

void CatchHangUp(void (* /*handler*/)(int)) {}

}  // namespace rebound_sim::platform
