#include "tools/rebound-sim/output_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rebound_sim {

namespace fs = std::filesystem;

std::filesystem::path PathFromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}
std::string Utf8FromPath(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

namespace {

// The temporaries open at any moment, in fixed storage that a signal handler
// may read: a handler can neither allocate nor take a lock.
constexpr int kSignalSlots = 8;
constexpr std::size_t kSlotPathSize = 4096;
char g_tempPaths[kSignalSlots][kSlotPathSize];
volatile std::sig_atomic_t g_tempInUse[kSignalSlots];

int RegisterTemporary(const fs::path& temp) {
  const std::string text = Utf8FromPath(temp);
  if (text.size() >= kSlotPathSize) return -1;
  for (int i = 0; i < kSignalSlots; ++i) {
    if (g_tempInUse[i] != 0) continue;
    std::memcpy(g_tempPaths[i], text.c_str(), text.size() + 1);
    g_tempInUse[i] = 1;
    return i;
  }
  return -1;
}

void ReleaseTemporary(int slot) {
  if (slot >= 0) g_tempInUse[slot] = 0;
}

extern "C" void RemoveTemporariesAndEnd(int signal) {
  for (int i = 0; i < kSignalSlots; ++i) {
#ifdef _WIN32
    // Windows runs the handler on its own thread; a file still open cannot be
    // removed there, so this is a best effort.
    if (g_tempInUse[i] != 0) std::remove(g_tempPaths[i]);
#else
    if (g_tempInUse[i] != 0) unlink(g_tempPaths[i]);
#endif
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

std::string Reason(const std::error_code& ec) { return ec.message(); }

#ifndef _WIN32
// The permissions a new file gets from the process's umask.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// True when `path` names the same open file as this process's standard output
// (/dev/stdout, /proc/self/fd/1, the terminal it prints to).
bool IsSameAsStandardOutput(const fs::path& path) {
  struct stat named {};
  struct stat out {};
  if (stat(path.c_str(), &named) != 0 || fstat(STDOUT_FILENO, &out) != 0) return false;
  return named.st_dev == out.st_dev && named.st_ino == out.st_ino;
}
#endif

// Names under /dev and /proc are the system's handles on files that are
// already open (/dev/stdout, /dev/fd/N, /proc/self/fd/N): written through,
// never replaced.
bool IsSystemHandle(const fs::path& path) {
  const std::string text = path.lexically_normal().generic_string();
  return text.rfind("/dev/", 0) == 0 || text.rfind("/proc/", 0) == 0;
}

// Where a chain of symbolic links ends, the last name not existing (a dangling
// link), so that the file can be created there and the link kept.
bool FollowLinks(fs::path& path, std::string& error) {
  for (int hops = 0;; ++hops) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec && st.type() != fs::file_type::not_found) {
      error = Reason(ec);
      return false;
    }
    if (st.type() != fs::file_type::symlink) return true;
    if (hops >= 40) {
      error = std::make_error_code(std::errc::too_many_symbolic_link_levels).message();
      return false;
    }
    const fs::path next = fs::read_symlink(path, ec);
    if (ec) {
      error = Reason(ec);
      return false;
    }
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
}

}  // namespace

OutputFile::~OutputFile() { Abandon(); }

std::unique_ptr<OutputFile> OutputFile::Open(const std::string& path, std::string& error) {
  std::unique_ptr<OutputFile> out(new OutputFile());
  out->path_ = path;
  if (path == "-") {
#ifdef _WIN32
    // Lines end in \n as on Linux, not \r\n.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    out->standardOutput_ = true;
    out->stream_ = &std::cout;
    return out;
  }

  const fs::path named = PathFromUtf8(path);
  std::error_code ec;
  const fs::file_status st = fs::status(named, ec);  // follows links
  if (ec && st.type() != fs::file_type::not_found) {
    error = path + ": " + Reason(ec);
    return nullptr;
  }
  switch (st.type()) {
    case fs::file_type::directory:
      error = path + ": " + std::make_error_code(std::errc::is_a_directory).message();
      return nullptr;
    case fs::file_type::regular:
    case fs::file_type::not_found:
      break;
    case fs::file_type::fifo:
    case fs::file_type::character:
      break;
    default:
      error = path + ": not a regular file, FIFO or character device";
      return nullptr;
  }

  const bool direct = st.type() == fs::file_type::fifo || st.type() == fs::file_type::character ||
                      (st.type() == fs::file_type::regular && IsSystemHandle(named));
  if (direct) {
#ifndef _WIN32
    if (IsSameAsStandardOutput(named)) out->standardOutput_ = true;
#endif
    // Opening a FIFO waits for its reader, as any writer to it does.
    // Appending: a file reached through /dev/stdout keeps what the shell
    // already wrote to it.
    out->file_.open(named, std::ios::binary | std::ios::app);
    if (!out->file_) {
      error = path + ": " + std::strerror(errno);
      return nullptr;
    }
    out->stream_ = &out->file_;
    return out;
  }

  // A regular file, new or existing, reached through any symbolic links: the
  // content is written beside the final target and renamed over it.
  fs::path target = named;
  if (!FollowLinks(target, error)) {
    error = path + ": " + error;
    return nullptr;
  }
  out->target_ = target;
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  const std::string name = Utf8FromPath(target.filename());
#ifdef _WIN32
  out->temp_ = folder / PathFromUtf8(name + "." + std::to_string(_getpid()) + ".tmp");
  out->file_.open(out->temp_, std::ios::binary | std::ios::trunc | std::ios::out);
  if (!out->file_) {
    error = path + ": " + std::strerror(errno);
    out->temp_.clear();
    return nullptr;
  }
#else
  std::string pattern = Utf8FromPath(folder / (name + ".XXXXXX.tmp"));
  const int fd = mkstemps(pattern.data(), 4);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  // The file keeps the permissions it had, or gets a new file's.
  struct stat existing {};
  fchmod(fd, stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : NewFileMode());
  close(fd);
  out->temp_ = pattern;
  out->file_.open(out->temp_, std::ios::binary | std::ios::trunc | std::ios::out);
  if (!out->file_) {
    error = path + ": " + std::strerror(errno);
    fs::remove(out->temp_, ec);
    out->temp_.clear();
    return nullptr;
  }
#endif
  out->signalSlot_ = RegisterTemporary(out->temp_);
  out->stream_ = &out->file_;
  return out;
}

bool OutputFile::Commit(std::string& error) {
  errno = 0;
  stream_->flush();
  const bool written = static_cast<bool>(*stream_);
  if (stream_ == &file_) file_.close();
  if (!written || (stream_ == &file_ && file_.fail())) {
    const int reason = errno;
    error = "writing " + path_ + " failed";
    if (reason != 0) error += std::string(": ") + std::strerror(reason);
    Abandon();
    return false;
  }
  if (temp_.empty()) return true;
  // std::filesystem::rename replaces an existing file on Windows too, where
  // std::rename refuses to.
  std::error_code ec;
  fs::rename(temp_, target_, ec);
  if (ec) {
    error =
        "cannot move " + Utf8FromPath(temp_) + " to " + Utf8FromPath(target_) + ": " + Reason(ec);
    Abandon();
    return false;
  }
  ReleaseTemporary(signalSlot_);
  signalSlot_ = -1;
  temp_.clear();
  return true;
}

void OutputFile::Abandon() {
  if (file_.is_open()) file_.close();
  if (temp_.empty()) return;
  std::error_code ec;
  fs::remove(temp_, ec);
  ReleaseTemporary(signalSlot_);
  signalSlot_ = -1;
  temp_.clear();
}

void RemoveTemporariesOnInterrupt() {
  std::signal(SIGINT, RemoveTemporariesAndEnd);
  std::signal(SIGTERM, RemoveTemporariesAndEnd);
#ifndef _WIN32
  std::signal(SIGHUP, RemoveTemporariesAndEnd);
#endif
}

}  // namespace rebound_sim
