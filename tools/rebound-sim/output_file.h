// Where rebound-sim writes a file named on its command line, chosen so that no
// output ever destroys data: "-" is standard output, a FIFO or a character
// device is written directly, a symbolic link is followed to its target (the
// link stays), and a regular file is replaced atomically through a temporary
// in its own folder that is removed on failure or interruption.
#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace rebound_sim {

// File-system paths from the command line's strings and back. The strings are
// UTF-8 (on Windows too: rebound-sim.exe's manifest makes UTF-8 its code
// page), which a std::filesystem::path built from a plain std::string is not
// taken to be on Windows.
std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8FromPath(const std::filesystem::path& path);

class OutputFile {
 public:
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the output for writing: checks the path and creates the temporary
  // (or opens the FIFO, device or standard output) at once, so an unusable
  // path is known before any work is done. On failure returns null and sets
  // `error` to the path and the system's reason.
  static std::unique_ptr<OutputFile> Open(const std::string& path, std::string& error);

  std::ostream& Stream() { return *stream_; }
  bool IsStandardOutput() const { return standardOutput_; }

  // Flushes and closes the content, checking that all of it was written,
  // without putting it in place yet: a command with several outputs finishes
  // them all before any replaces a file. On failure removes the temporary
  // and sets `error`.
  bool Finish(std::string& error);

  // Finishes the content, if not done yet, and puts the file in place
  // (renames the temporary over the target). On failure removes the
  // temporary and sets `error`.
  bool Commit(std::string& error);

  // Removes the temporary, leaving whatever was under the name untouched.
  void Abandon();

 private:
  OutputFile() = default;
  // The kinds of file an output may be; `type` is the one `named` is.
  static bool WritableKind(const std::string& path, const std::filesystem::path& named,
                           std::filesystem::file_type& type, std::string& error);
  // A FIFO, a device or a system handle, written through as it is.
  bool OpenDirectly(const std::filesystem::path& named, std::string& error);
  // A regular file, new or existing: written to a temporary beside it.
  bool OpenReplacing(const std::filesystem::path& named, std::string& error);

  std::string path_;              // as named on the command line
  std::filesystem::path target_;  // where the content ends up (a link's target)
  std::filesystem::path temp_;    // empty when written directly
  std::ofstream file_;
  std::ostream* stream_ = nullptr;
  bool standardOutput_ = false;
  bool finished_ = false;
  int signalSlot_ = -1;
};

// Opens an output for the command, or says on standard error why the `what`
// ("trace", "report") cannot be written there and gives null.
std::unique_ptr<OutputFile> OpenOutput(const char* what, const std::string& path);
// Finishes or commits an output, or says on standard error why it could not
// be.
bool FinishOutput(OutputFile& out);
bool CommitOutput(OutputFile& out);

// At most the first `bytes` bytes of `name`, cut where a character begins
// (UTF-8): a temporary's name made from a long file name must still fit the
// file system's limit on one name.
std::string ShortenedName(const std::string& name, std::size_t bytes);

// A file named on the command line, and the option that named it.
struct NamedFile {
  std::string option;      // "--trace", or what names an argument ("RECORDING")
  std::string path;        //
  bool byDefault = false;  // not named: the file read when the option is left out
};

// The mistake in giving `option` the value `value` when it reads as an
// option itself ("--trace --quiet" forgot the trace's file); empty when it
// does not. "-" is standard output, and a file really named "--quiet" is
// reachable as "./--quiet".
std::string OptionLikeValueMistake(const std::string& option, const std::string& value);

// Whether two names on the command line are the same file: through a
// symbolic or hard link, or spelt differently ("./run.out" and "run.out").
// Files that exist are compared as the system identifies them; a name not
// there yet by its folder's real path and its own name. "-" is standard
// output, and so the same as a name of the file standard output goes to. A
// character device other than standard output's (the null device) is never
// the same: what is written there replaces nothing.
bool SameFile(const std::string& a, const std::string& b);

// The first output that names the same file as another output, or as an
// input it would replace: "--trace and --report name the same file (run.out)
// ..."; empty when each output has a file of its own. An input "-" is never
// compared (it is standard input, or a file an output cannot name as "-").
std::string SharedFileMistake(const std::vector<NamedFile>& outputs,
                              const std::vector<NamedFile>& inputs);

// The first of `files` whose name a picture written to the folder `folder`
// names would replace: in that folder (through links and however spelt),
// with a name `isPictureName` says a picture of the command takes. Empty
// when there is none.
std::string PictureFolderMistake(const NamedFile& folder, const std::vector<NamedFile>& files,
                                 const std::function<bool(const std::string&)>& isPictureName);

// Removes every open temporary when the run is interrupted (SIGINT, SIGTERM,
// SIGHUP), then ends the process as the signal would.
void RemoveTemporariesOnInterrupt();

}  // namespace rebound_sim
