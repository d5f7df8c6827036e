// rebound-sim on Linux: the system calls behind platform.h.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <system_error>

#include "tools/rebound-sim/output_file.h"
#include "tools/rebound-sim/platform.h"

namespace rebound_sim::platform {

namespace {

// The permissions a new file gets from the process's umask.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void EndWithoutDetach(int status) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(status);
}

bool PluginCanBeSeeded() { return true; }

bool StandardErrorIsTerminal() { return isatty(fileno(stderr)) != 0; }

void WriteStandardOutputAsBinary() {}

bool IsSameAsStandardOutput(const std::filesystem::path& path) {
  struct stat named {};
  struct stat out {};
  if (stat(path.c_str(), &named) != 0 || fstat(STDOUT_FILENO, &out) != 0) return false;
  return named.st_dev == out.st_dev && named.st_ino == out.st_ino;
}

bool OpenTemporary(const std::filesystem::path& folder, const std::string& name,
                   const std::filesystem::path& target, std::ofstream& file,
                   std::filesystem::path& temp, std::string& reason) {
  // The temporary's name must fit where the file's own did: a name near
  // the limit gives up its end, never the file's name.
  static constexpr char kSuffix[] = ".XXXXXX.tmp";
  const long longest = pathconf(folder.c_str(), _PC_NAME_MAX);
  const std::size_t room =
      (longest > 0 ? static_cast<std::size_t>(longest) : 255) - (sizeof kSuffix - 1);
  std::string pattern = Utf8FromPath(folder / (ShortenedName(name, room) + kSuffix));
  const int fd = mkstemps(pattern.data(), 4);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  // The file keeps the permissions it had, or gets a new file's.
  struct stat existing {};
  fchmod(fd, stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : NewFileMode());
  close(fd);
  file.open(pattern, std::ios::binary | std::ios::trunc | std::ios::out);
  if (!file) {
    reason = std::strerror(errno);
    std::error_code ec;
    std::filesystem::remove(pattern, ec);
    return false;
  }
  temp = pattern;
  return true;
}

void RemoveFileInSignalHandler(const char* path) { unlink(path); }

void CatchHangUp(void (*handler)(int)) { std::signal(SIGHUP, handler); }

}  // namespace rebound_sim::platform
