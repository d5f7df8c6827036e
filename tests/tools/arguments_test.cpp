// rebound-sim's argument reader: values missing, repeated, reading as options
// or out of range, each refused with the message and in the voice of the
// command that reads them; --help and --version answered where asked.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/rebound-sim/arguments.h"

namespace {

using rebound_sim::ArgumentReader;
using rebound_sim::UsageError;
using rebound_sim::UsageStyle;

// The voice of run and the commands that share its options.
UsageStyle ProgramStyle() {
  return {"run", "rebound-sim", "(rebound-sim --help lists the options)", "; give it once",
          "rebound-sim 9.9.9\n"};
}

// The voice of replay.
UsageStyle CommandStyle() {
  return {"replay", "rebound-sim replay", "(rebound-sim replay --help shows the usage)", "", ""};
}

// The message of the usage error that reading the words with `read` ends in;
// empty when there is none.
template <typename Read>
std::string MistakeOf(const UsageStyle& style, std::vector<std::string> words, Read read) {
  ArgumentReader args(style, std::move(words), "HELP\n");
  try {
    while (args.Next()) read(args);
  } catch (const UsageError& e) {
    return e.Message();
  }
  return "";
}

TEST(ArgumentReader, ReadsEveryWordOnceInOrder) {
  ArgumentReader args(ProgramStyle(), {"a", "--b", "c"}, "");
  std::vector<std::string> read;
  while (args.Next()) read.push_back(args.Word());
  EXPECT_EQ(read, (std::vector<std::string>{"a", "--b", "c"}));
  EXPECT_FALSE(args.Next()) << "stays past the end";

  ArgumentReader none(ProgramStyle(), {}, "");
  EXPECT_FALSE(none.Next());
}

TEST(ArgumentReader, TellsOptionsFromFilesAndStandardStreams) {
  const struct {
    const char* word;
    bool option;
  } cases[] = {{"--trace", true}, {"-q", true}, {"--", true},    {"-", false},
               {"", false},       {"a", false}, {"./-x", false}, {"a-b", false}};
  for (const auto& c : cases) {
    ArgumentReader args(ProgramStyle(), {c.word}, "");
    ASSERT_TRUE(args.Next());
    EXPECT_EQ(args.AtOption(), c.option) << '"' << c.word << '"';
  }
}

TEST(ArgumentReader, RefusesAMissingValueInTheCommandsVoice) {
  const auto takeValue = [](ArgumentReader& args) { args.Value(args.Word()); };
  EXPECT_EQ(MistakeOf(ProgramStyle(), {"--frames"}, takeValue),
            "rebound-sim: --frames needs a value\n(rebound-sim --help lists the options)\n");
  const auto takePath = [](ArgumentReader& args) {
    args.PathValue(args.Word(), std::nullopt, "needs a path");
  };
  EXPECT_EQ(MistakeOf(CommandStyle(), {"--plugin"}, takePath),
            "rebound-sim replay: --plugin needs a path\n"
            "(rebound-sim replay --help shows the usage)\n");
}

TEST(ArgumentReader, TakesTheNextWordAsTheValueWhateverItIs) {
  ArgumentReader args(ProgramStyle(), {"--scenario", "-", "--svg-frames", "--x"}, "");
  ASSERT_TRUE(args.Next());
  EXPECT_EQ(args.PathValue("--scenario", std::nullopt), "-") << "standard input or output";
  ASSERT_TRUE(args.Next());
  EXPECT_EQ(args.Value("--svg-frames"), "--x") << "a plain value is not checked";
  EXPECT_FALSE(args.Next());
}

// One option's paths, read as a command reads them: a second is refused.
std::string PathMistakeOf(const UsageStyle& style, std::vector<std::string> words) {
  std::optional<std::string> given;
  return MistakeOf(style, std::move(words),
                   [&given](ArgumentReader& args) { given = args.PathValue(args.Word(), given); });
}

TEST(ArgumentReader, RefusesAPathGivenTwiceOrThatReadsAsAnOption) {
  EXPECT_EQ(PathMistakeOf(ProgramStyle(), {"--trace", "a", "--trace", "b"}),
            "rebound-sim: --trace given twice (a and b); give it once\n"
            "(rebound-sim --help lists the options)\n");
  EXPECT_EQ(PathMistakeOf(CommandStyle(), {"--plugin", "a", "--plugin", "b"}),
            "rebound-sim replay: --plugin given twice (a and b)\n"
            "(rebound-sim replay --help shows the usage)\n");
  EXPECT_EQ(PathMistakeOf(ProgramStyle(), {"--trace", "--quiet"}),
            "rebound-sim: --trace got \"--quiet\", which reads as an option: was --trace's value "
            "forgotten? (a file of that name is ./--quiet)\n"
            "(rebound-sim --help lists the options)\n");
  EXPECT_EQ(PathMistakeOf(ProgramStyle(), {"--trace", "-"}), "") << "standard output";
}

TEST(ArgumentReader, ReadsWholeNumbersInRangeAndNothingElse) {
  const struct {
    const char* value;
    bool taken;
    std::uint64_t number;
  } cases[] = {
      {"0", true, 0},
      {"100", true, 100},
      {"007", true, 7},
      {"101", false, 0},
      {"-1", false, 0},
      {"+1", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"1x", false, 0},
      {"", false, 0},
      {"1e2", false, 0},
      {"0x10", false, 0},
      {"18446744073709551616", false, 0},  // past 64 bits
  };
  for (const auto& c : cases) {
    ArgumentReader args(ProgramStyle(), {"--frames", c.value}, "");
    ASSERT_TRUE(args.Next());
    if (c.taken) {
      EXPECT_EQ(args.WholeNumberValue("--frames", 100), c.number) << c.value;
      continue;
    }
    try {
      args.WholeNumberValue("--frames", 100);
      ADD_FAILURE() << "took \"" << c.value << '"';
    } catch (const UsageError& e) {
      EXPECT_EQ(e.Message(), "rebound-sim: --frames needs a whole number from 0 to 100, got " +
                                 std::string(c.value) +
                                 "\n(rebound-sim --help lists the options)\n");
    }
  }
}

TEST(ArgumentReader, AnswersHelpAndVersionOnlyWhereTheCommandTakesThem) {
  const struct {
    UsageStyle style;
    const char* word;
    bool answered;
    const char* printed;
  } cases[] = {
      {ProgramStyle(), "--help", true, "HELP\n"},
      {ProgramStyle(), "-h", true, "HELP\n"},
      {ProgramStyle(), "--version", true, "rebound-sim 9.9.9\n"},
      {CommandStyle(), "--help", true, "HELP\n"},
      {CommandStyle(), "--version", false, ""},  // replay has no --version
      {ProgramStyle(), "--helps", false, ""},
      {ProgramStyle(), "help", false, ""},
  };
  for (const auto& c : cases) {
    ArgumentReader args(c.style, {c.word}, "HELP\n");
    ASSERT_TRUE(args.Next());
    testing::internal::CaptureStdout();
    const bool answered = args.Answered();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.word;
    EXPECT_EQ(answered, c.answered) << c.word;
  }
}

TEST(ArgumentReader, FailsWithTheMistakeFirstAndTheHintAfter) {
  ArgumentReader args(CommandStyle(), {}, "");
  try {
    args.Fail("unknown option: --x");
    ADD_FAILURE() << "Fail returned";
  } catch (const UsageError& e) {
    EXPECT_STREQ(e.what(), "unknown option: --x");
    EXPECT_EQ(e.Message(),
              "rebound-sim replay: unknown option: --x\n"
              "(rebound-sim replay --help shows the usage)\n");
  }
}

}  // namespace
