#include "tools/rebound-sim/arguments.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "tools/rebound-sim/output_file.h"

namespace rebound_sim {

ArgumentReader::ArgumentReader(UsageStyle style, std::vector<std::string> words, std::string help)
    : style_(std::move(style)), words_(std::move(words)), help_(std::move(help)) {}

bool ArgumentReader::Next() {
  if (started_ && at_ < words_.size()) ++at_;
  started_ = true;
  return at_ < words_.size();
}

bool ArgumentReader::AtOption() const {
  const std::string& word = Word();
  return !word.empty() && word[0] == '-' && word != "-";
}

bool ArgumentReader::Answered() const {
  const std::string& word = Word();
  if (word == "-h" || word == "--help") {
    std::fputs(help_.c_str(), stdout);
    return true;
  }
  if (word == "--version" && !style_.version.empty()) {
    std::fputs(style_.version.c_str(), stdout);
    return true;
  }
  return false;
}

std::string ArgumentReader::Value(const std::string& flag, const std::string& missing) {
  if (at_ + 1 >= words_.size()) Fail(flag + " " + missing);
  return words_[++at_];
}

std::string ArgumentReader::PathValue(const std::string& flag,
                                      const std::optional<std::string>& given,
                                      const std::string& missing) {
  const std::string value = Value(flag, missing);
  if (given) Fail(flag + " given twice (" + *given + " and " + value + ")" + style_.twiceEnding);
  const std::string mistake = OptionLikeValueMistake(flag, value);
  if (!mistake.empty()) Fail(mistake);
  return value;
}

std::uint64_t ArgumentReader::WholeNumberValue(const std::string& flag, std::uint64_t most) {
  const std::string value = Value(flag);
  char* end = nullptr;
  errno = 0;
  const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
  if (value.empty() || value[0] < '0' || value[0] > '9' || *end != '\0' || errno == ERANGE ||
      n > most) {
    Fail(flag + " needs a whole number from 0 to " + std::to_string(most) + ", got " + value);
  }
  return n;
}

}  // namespace rebound_sim
