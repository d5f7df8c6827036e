// rebound-sim on Windows: the C runtime's calls behind platform.h.
#include <fcntl.h>
#include <io.h>
#include <process.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/rebound-sim/output_file.h"
#include "tools/rebound-sim/platform.h"

namespace rebound_sim::platform {

bool PluginCanBeSeeded() { return false; }

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void WriteStandardOutputAsBinary() { _setmode(_fileno(stdout), _O_BINARY); }

bool IsSameAsStandardOutput(const std::filesystem::path& /*path*/) { return false; }

bool OpenTemporary(const std::filesystem::path& folder, const std::string& name,
                   const std::filesystem::path& /*target*/, std::ofstream& file,
                   std::filesystem::path& temp, std::string& reason) {
  const std::filesystem::path path =
      folder / PathFromUtf8(name + "." + std::to_string(_getpid()) + ".tmp");
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
