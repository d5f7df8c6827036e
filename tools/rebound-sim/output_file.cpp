#include "tools/rebound-sim/output_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <system_error>

#include "tools/rebound-sim/platform.h"

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
    if (g_tempInUse[i] != 0) platform::RemoveFileInSignalHandler(g_tempPaths[i]);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

std::string Reason(const std::error_code& ec) { return ec.message(); }

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

// Where a name that does not exist yet would be made: its folder's real
// path (links and "." or ".." resolved) and its own name.
fs::path PlaceOf(const fs::path& path) {
  std::error_code ec;
  fs::path whole = fs::absolute(path, ec).lexically_normal();
  // "pics/" is the folder "pics", not a nameless entry in it.
  if (whole.filename().empty() && whole.has_relative_path()) whole = whole.parent_path();
  const fs::path folder = fs::weakly_canonical(whole.parent_path(), ec);
  return (folder / whole.filename()).lexically_normal();
}

std::string Names(const std::string& a, const std::string& b) {
  return a == b ? a : a + " and " + b;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  if (a == "-" || b == "-") {
    const std::string& other = a == "-" ? b : a;
    return other == "-" || platform::IsSameAsStandardOutput(PathFromUtf8(other));
  }
  fs::path pathA = PathFromUtf8(a);
  fs::path pathB = PathFromUtf8(b);
  std::string ignored;  // a broken chain of links is named when the file is opened
  FollowLinks(pathA, ignored);
  FollowLinks(pathB, ignored);
  std::error_code ec;
  const bool existsA = fs::exists(pathA, ec);
  const bool existsB = fs::exists(pathB, ec);
  if (existsA != existsB) return false;
  if (!existsA) return PlaceOf(pathA) == PlaceOf(pathB);
  if (!fs::equivalent(pathA, pathB, ec)) return false;
  // A device such as the null device is written through, never replaced: two
  // outputs may both go there, unless it is where standard output goes.
  return !fs::is_character_file(pathA, ec) || platform::IsSameAsStandardOutput(pathA);
}

std::string OptionLikeValueMistake(const std::string& option, const std::string& value) {
  if (value.size() < 2 || value[0] != '-') return {};
  return option + " got \"" + value + "\", which reads as an option: was " + option +
         "'s value forgotten? (a file of that name is ./" + value + ")";
}

std::string ShortenedName(const std::string& name, std::size_t bytes) {
  if (name.size() <= bytes) return name;
  std::size_t end = bytes;
  // Back to the first byte of a character: continuation bytes are 10xxxxxx.
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

std::string SharedFileMistake(const std::vector<NamedFile>& outputs,
                              const std::vector<NamedFile>& inputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const NamedFile& out = outputs[i];
    for (std::size_t j = i + 1; j < outputs.size(); ++j) {
      if (!SameFile(out.path, outputs[j].path)) continue;
      return out.option + " and " + outputs[j].option + " name the same file (" +
             Names(out.path, outputs[j].path) + "): one would replace the other; give each its own";
    }
    for (const NamedFile& in : inputs) {
      if (in.path == "-" || !SameFile(out.path, in.path)) continue;
      const std::string read =
          in.byDefault ? in.option + " names by default" : in.option + " reads";
      return out.option + " names the file " + read + " (" + Names(out.path, in.path) +
             "): writing it would replace what is read; give " + out.option + " another file";
    }
  }
  return {};
}

std::string PictureFolderMistake(const NamedFile& folder, const std::vector<NamedFile>& files,
                                 const std::function<bool(const std::string&)>& isPictureName) {
  for (const NamedFile& file : files) {
    if (file.path == "-") continue;
    // A picture follows links as any output does: the file is at stake when
    // its own name, or the end of its links, is a picture's in the folder.
    const fs::path named = PathFromUtf8(file.path);
    fs::path target = named;
    std::string ignored;  // a broken chain of links is named when the file is opened
    FollowLinks(target, ignored);
    const auto inFolder = [&](const fs::path& path) {
      const std::string name = Utf8FromPath(path.filename());
      if (name.empty() || !isPictureName(name)) return false;
      const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
      return SameFile(Utf8FromPath(parent), folder.path);
    };
    if (!inFolder(named) && !inFolder(target)) continue;
    const std::string subject =
        file.byDefault ? "the file " + file.option + " names by default (" + file.path + ")"
                       : file.option + " names " + file.path;
    return subject + ", which the frame picture of that name written to the " + folder.option +
           " folder (" + folder.path + ") would replace; give them different places";
  }
  return {};
}

OutputFile::~OutputFile() { Abandon(); }

std::unique_ptr<OutputFile> OutputFile::Open(const std::string& path, std::string& error) {
  std::unique_ptr<OutputFile> out(new OutputFile());
  out->path_ = path;
  if (path == "-") {
    platform::WriteStandardOutputAsBinary();
    out->standardOutput_ = true;
    out->stream_ = &std::cout;
    return out;
  }
  const fs::path named = PathFromUtf8(path);
  fs::file_type type = fs::file_type::none;
  if (!WritableKind(path, named, type, error)) return nullptr;
  const bool direct = type == fs::file_type::fifo || type == fs::file_type::character ||
                      (type == fs::file_type::regular && IsSystemHandle(named));
  const bool opened = direct ? out->OpenDirectly(named, error) : out->OpenReplacing(named, error);
  if (!opened) return nullptr;
  return out;
}

bool OutputFile::WritableKind(const std::string& path, const fs::path& named, fs::file_type& type,
                              std::string& error) {
  std::error_code ec;
  const fs::file_status st = fs::status(named, ec);  // follows links
  if (ec && st.type() != fs::file_type::not_found) {
    error = path + ": " + Reason(ec);
    return false;
  }
  type = st.type();
  switch (type) {
    case fs::file_type::directory:
      error = path + ": " + std::make_error_code(std::errc::is_a_directory).message();
      return false;
    case fs::file_type::regular:
    case fs::file_type::not_found:
    case fs::file_type::fifo:
    case fs::file_type::character:
      return true;
    default:
      error = path + ": not a regular file, FIFO or character device";
      return false;
  }
}

bool OutputFile::OpenDirectly(const fs::path& named, std::string& error) {
  if (platform::IsSameAsStandardOutput(named)) standardOutput_ = true;
  // Opening a FIFO waits for its reader, as any writer to it does.
  // Appending: a file reached through /dev/stdout keeps what the shell
  // already wrote to it.
  file_.open(named, std::ios::binary | std::ios::app);
  if (!file_) {
    error = path_ + ": " + std::strerror(errno);
    return false;
  }
  stream_ = &file_;
  return true;
}

bool OutputFile::OpenReplacing(const fs::path& named, std::string& error) {
  // A regular file, new or existing, reached through any symbolic links: the
  // content is written beside the final target and renamed over it.
  fs::path target = named;
  if (!FollowLinks(target, error)) {
    error = path_ + ": " + error;
    return false;
  }
  target_ = target;
  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string reason;
  if (!platform::OpenTemporary(folder, Utf8FromPath(target.filename()), target, file_, temp_,
                               reason)) {
    error = path_ + ": " + reason;
    return false;
  }
  signalSlot_ = RegisterTemporary(temp_);
  stream_ = &file_;
  return true;
}

bool OutputFile::Finish(std::string& error) {
  if (finished_) return true;
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
  finished_ = true;
  return true;
}

bool OutputFile::Commit(std::string& error) {
  if (!Finish(error)) return false;
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
  platform::CatchHangUp(RemoveTemporariesAndEnd);
}

std::unique_ptr<OutputFile> OpenOutput(const char* what, const std::string& path) {
  std::string error;
  std::unique_ptr<OutputFile> out = OutputFile::Open(path, error);
  if (!out) std::cerr << "rebound-sim: cannot write the " << what << " to " << error << "\n";
  return out;
}

bool FinishOutput(OutputFile& out) {
  std::string error;
  if (out.Finish(error)) return true;
  std::cerr << "rebound-sim: " << error << "\n";
  return false;
}

bool CommitOutput(OutputFile& out) {
  std::string error;
  if (out.Commit(error)) return true;
  std::cerr << "rebound-sim: " << error << "\n";
  return false;
}

}  // namespace rebound_sim
