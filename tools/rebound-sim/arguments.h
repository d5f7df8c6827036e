// The one reader of rebound-sim's command lines: every command takes its words
// through an ArgumentReader, and every mistake in them ends as a UsageError,
// which main prints in the command's own words and turns into status 2.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rebound_sim {

// How a command words its usage errors. The commands grew their own phrasing
// and scripts match it, so each keeps it.
struct UsageStyle {
  std::string name;         // the command's, for messages that name it
  std::string who;          // opens the message: "rebound-sim" or "rebound-sim replay"
  std::string hint;         // the line after it: "(rebound-sim --help lists the options)"
  std::string twiceEnding;  // after "--x given twice (a and b)": "; give it once" or nothing
  std::string version;      // what --version prints, for the commands that take it
};

// A mistake on the command line, in the words of the command that found it.
class UsageError : public std::runtime_error {
 public:
  UsageError(const UsageStyle& style, const std::string& what)
      : std::runtime_error(what), who_(style.who), hint_(style.hint) {}
  // "WHO: WHAT\nHINT\n", as written to standard error.
  std::string Message() const { return who_ + ": " + what() + "\n" + hint_ + "\n"; }

 private:
  std::string who_;
  std::string hint_;
};

// The words after the command's name, read one at a time in order: a mistake
// is reported where it is met, so "--bogus --help" is a mistake and
// "--help --bogus" the help.
class ArgumentReader {
 public:
  ArgumentReader(UsageStyle style, std::vector<std::string> words, std::string help);

  // Moves to the next word; false once past the last.
  bool Next();
  const std::string& Word() const { return words_[at_]; }
  // A word that reads as an option: a leading '-', except "-" alone, which
  // names standard input or output.
  bool AtOption() const;

  // When the word asks for the help (or the version, where the command takes
  // --version), prints it on standard output and says so: the command then
  // ends with status 0.
  bool Answered() const;

  // The word after the option `flag`; `missing` completes "FLAG " when there
  // is none.
  std::string Value(const std::string& flag, const std::string& missing = "needs a value");
  // A file or folder the option names, once: a second one, or a value that
  // reads as an option ("--trace --quiet" forgot the file), is a mistake.
  std::string PathValue(const std::string& flag, const std::optional<std::string>& given,
                        const std::string& missing = "needs a value");
  // A whole number from 0 to `most`, in decimal digits only.
  std::uint64_t WholeNumberValue(const std::string& flag, std::uint64_t most);

  [[noreturn]] void Fail(const std::string& what) const { throw UsageError(style_, what); }
  const UsageStyle& Style() const { return style_; }

 private:
  UsageStyle style_;
  std::vector<std::string> words_;
  std::string help_;
  std::size_t at_ = 0;
  bool started_ = false;
};

}  // namespace rebound_sim
