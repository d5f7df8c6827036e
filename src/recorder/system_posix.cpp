// The recording build's system pieces on Linux (the module the simulator
// loads): settings from the environment, the file, the writer thread.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "src/recorder/system.h"

namespace rebound::recorder::platform {

namespace {

// ==== The platform half's state =========================================================
struct PosixState {
  char givenFolder[4096] = {};  // REBOUND_RECORDING_DIR, empty when not set
  char moduleFolder[4096] = {};
  char path[4400] = {};  // the recording's, once made
  int fd = -1;
  bool writeFailureSaid = false;  // a refused write is told once a file
  pthread_t thread{};
  bool threadStarted = false;
  void (*threadMain)() = nullptr;
};
PosixState posix;

std::uint64_t NumberFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  return end != nullptr && *end == '\0' ? value : 0;
}

void CopyText(char* to, std::size_t capacity, const char* from) {
  std::snprintf(to, capacity, "%s", from);
}

// Creates the folder and those above it that are missing.
bool MakeFolders(const char* path) {
  char partial[4096];
  CopyText(partial, sizeof partial, path);
  for (char* p = partial + 1; *p != '\0'; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    if (mkdir(partial, 0755) != 0 && errno != EEXIST) return false;
    *p = '/';
  }
  return mkdir(partial, 0755) == 0 || errno == EEXIST;
}

// Tells standard error what became of the recording: on Linux, where the
// module runs under a terminal, a tester sees why no file appeared. `reason`
// is an errno value. A fixed buffer and one write: nothing is allocated.
void Say(const char* what, const char* path, int reason) {
  char line[4600];
  const int length = std::snprintf(line, sizeof line, "Rebound recorder: %s %s: %s\n", what, path,
                                   std::strerror(reason));
  if (length <= 0) return;
  const std::size_t bytes = static_cast<std::size_t>(length) < sizeof line
                                ? static_cast<std::size_t>(length)
                                : sizeof line - 1;
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, line, bytes);
}

// A new file in `folder`: Rebound-recording-<date>-<time>[-N].jsonl.
bool CreateIn(const char* folder) {
  if (folder[0] == '\0') return false;
  const time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return false;
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
  for (int n = 1; n < 1000; ++n) {
    char* path = posix.path;
    if (n == 1) {
      std::snprintf(path, sizeof posix.path, "%s/Rebound-recording-%s.jsonl", folder, stamp);
    } else {
      std::snprintf(path, sizeof posix.path, "%s/Rebound-recording-%s-%d.jsonl", folder, stamp, n);
    }
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      posix.fd = fd;
      posix.writeFailureSaid = false;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

void* ThreadMain(void* /*unused*/) {
  posix.threadMain();
  return nullptr;
}

}  // namespace

Settings ReadSettings(ModuleHandle /*module*/) noexcept {
  posix = PosixState{};
  const char* folder = std::getenv("REBOUND_RECORDING_DIR");
  if (folder != nullptr) CopyText(posix.givenFolder, sizeof posix.givenFolder, folder);
  // The module's own folder, from where its code is mapped.
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ReadSettings), &info) != 0 && info.dli_fname != nullptr) {
    CopyText(posix.moduleFolder, sizeof posix.moduleFolder, info.dli_fname);
    char* slash = std::strrchr(posix.moduleFolder, '/');
    if (slash != nullptr) {
      *slash = '\0';
    } else {
      CopyText(posix.moduleFolder, sizeof posix.moduleFolder, ".");
    }
  }
  Settings settings;
  settings.ringBytes =
      static_cast<std::size_t>(NumberFromEnvironment("REBOUND_RECORDER_RING_BYTES"));
  settings.maxFileBytes = NumberFromEnvironment("REBOUND_RECORDER_MAX_BYTES");
  return settings;
}

const char* PlatformName() noexcept { return "linux"; }

void ReadHostFiles(HostFiles& files) noexcept { files = HostFiles{}; }

bool OpenRecordingFile() noexcept {
  // A folder the tester named is the only one tried, made if missing.
  if (posix.givenFolder[0] != '\0') {
    if (MakeFolders(posix.givenFolder) && CreateIn(posix.givenFolder)) return true;
    Say("no recording: cannot write in REBOUND_RECORDING_DIR's folder", posix.givenFolder, errno);
    return false;
  }
  if (CreateIn(posix.moduleFolder)) return true;
  char fallback[4096];
  const char* data = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (data != nullptr && data[0] == '/') {
    std::snprintf(fallback, sizeof fallback, "%s/Rebound/recordings", data);
  } else if (home != nullptr && home[0] != '\0') {
    std::snprintf(fallback, sizeof fallback, "%s/.local/share/Rebound/recordings", home);
  } else {
    Say("no recording: HOME is not set, and cannot write beside the module in", posix.moduleFolder,
        errno);
    return false;
  }
  if (MakeFolders(fallback) && CreateIn(fallback)) return true;
  Say("no recording: cannot write beside the module, nor in", fallback, errno);
  return false;
}

bool WriteToFile(const char* data, std::size_t bytes) noexcept {
  if (posix.fd < 0) return false;
  while (bytes != 0) {
    const ssize_t written = write(posix.fd, data, bytes);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (!posix.writeFailureSaid) Say("cannot write to the recording", posix.path, errno);
      posix.writeFailureSaid = true;
      return false;
    }
    data += written;
    bytes -= static_cast<std::size_t>(written);
  }
  return true;
}

bool TruncateFile(std::uint64_t bytes) noexcept {
  if (posix.fd < 0) return false;
  return ftruncate(posix.fd, static_cast<off_t>(bytes)) == 0 &&
         lseek(posix.fd, static_cast<off_t>(bytes), SEEK_SET) >= 0;
}

void CloseFile() noexcept {
  if (posix.fd >= 0) close(posix.fd);
  posix.fd = -1;
}

bool StartWriterThread(void (*main)()) noexcept {
  posix.threadMain = main;
  posix.threadStarted = pthread_create(&posix.thread, nullptr, &ThreadMain, nullptr) == 0;
  return posix.threadStarted;
}

// The writer has seen the stop, or sees it when its poll ends: joining it
// is safe here, as no loader lock is held.
void EndWriterThread(bool /*processExit*/) noexcept {
  if (!posix.threadStarted) return;
  pthread_join(posix.thread, nullptr);
  posix.threadStarted = false;
}

void SleepMs(unsigned ms) noexcept {
  timespec wait{};
  wait.tv_sec = static_cast<time_t>(ms / 1000);
  wait.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace rebound::recorder::platform
