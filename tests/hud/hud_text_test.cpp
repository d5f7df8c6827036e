// DrawHudText as the game sees it: the style natives, the text command in
// each of its four modes with long texts cut into 99-byte components, and
// the text that ends up on screen.
#include <cmath>
#include <limits>

#include "tests/hud/hud_harness.h"

namespace {

class HudText : public hudtest::HudTest {};

using hudtest::CallsInFrame;
using hudtest::HudTest;
using hudtest::RunScript;
using rebound::DrawHudText;
using rebound::HudTextKey;
using rebound::HudTextStyle;
using rebound::Rgba;
using rebound::TextScaleOverride;

// A plain style whose size a case may replace.
HudTextStyle PlainStyle(float size = 0.3F) {
  return HudTextStyle{.font = 0,
                      .colour = Rgba{255, 255, 255, 255},
                      .size = size,
                      .justification = 1,
                      .wrapEnd = 0.9F};
}

// Distinct bytes, so that a component cut at the wrong place shows.
std::string Pattern(std::size_t bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes; ++i) text += static_cast<char>('a' + i % 26);
  return text;
}

std::vector<std::string> TextCommandOf(const std::vector<std::string>& calls) {
  std::vector<std::string> command;
  bool open = false;
  for (const std::string& c : calls) {
    if (c.rfind("BEGIN_TEXT_COMMAND_DISPLAY_TEXT", 0) == 0) open = true;
    if (open) command.push_back(c);
  }
  return command;
}

struct ModeCase {
  const char* name;
  std::string text;
  bool isLabel;
  std::int32_t labelHash;
  std::vector<std::string> command;  // BEGIN ... END
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

std::string Add(const std::string& text) {
  return "ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME(\"" + text + "\")";
}
const std::string kEnd = "END_TEXT_COMMAND_DISPLAY_TEXT(0.795, 0.5, 0)";
const std::string kBeginString = "BEGIN_TEXT_COMMAND_DISPLAY_TEXT(\"STRING\")";
const std::string kBeginLong = "BEGIN_TEXT_COMMAND_DISPLAY_TEXT(\"jamyfafi\")";

class TextModes : public HudTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(TextModes, OpenTheCommandWithTheRightEntryAndComponents) {
  const ModeCase& c = GetParam();
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 5})"));
  RunScript(simulation, [&c] {
    DrawHudText(c.text, HudTextKey{c.isLabel, c.labelHash}, 0.5, PlainStyle());
  });
  EXPECT_EQ(TextCommandOf(CallsInFrame(simulation.GetTrace(), 0)), c.command);
}

INSTANTIATE_TEST_SUITE_P(
    DrawHudText, TextModes,
    ::testing::Values(
        ModeCase{"short_99_bytes", Pattern(99), false, -1, {kBeginString, Add(Pattern(99)), kEnd}},
        ModeCase{"long_100_bytes_as_99_and_1",
                 Pattern(100),
                 false,
                 -1,
                 {kBeginLong, Add(Pattern(99)), Add(Pattern(100).substr(99)), kEnd}},
        ModeCase{"long_198_bytes_as_99_and_99",
                 Pattern(198),
                 false,
                 -1,
                 {kBeginLong, Add(Pattern(99)), Add(Pattern(198).substr(99)), kEnd}},
        ModeCase{"long_199_bytes_as_99_99_1",
                 Pattern(199),
                 false,
                 -1,
                 {kBeginLong, Add(Pattern(99)), Add(Pattern(199).substr(99, 99)),
                  Add(Pattern(199).substr(198)), kEnd}},
        ModeCase{"empty_text_is_one_empty_component", "", false, -1, {kBeginString, Add(""), kEnd}},
        ModeCase{"label_hash_ignored_for_plain_text",
                 "abc",
                 false,
                 1234,
                 {kBeginString, Add("abc"), kEnd}},
        ModeCase{"label_by_hash",
                 "ignored",
                 true,
                 0x1234,
                 {kBeginString, "ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL_HASH_KEY(4660)", kEnd}},
        ModeCase{"label_as_entry",
                 "KS_RESPAWN_B",
                 true,
                 -1,
                 {"BEGIN_TEXT_COMMAND_DISPLAY_TEXT(\"KS_RESPAWN_B\")", kEnd}}),
    [](const ::testing::TestParamInfo<ModeCase>& param) { return std::string(param.param.name); });

TEST_F(HudText, LongTextIsCutByBytesAndShownWhole) {
  // A two-byte character straddles the cut at 99: the game joins the bytes again.
  const std::string text = std::string(98, 'a') + "\xC3\xA9" + "b";
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 5})"));
  RunScript(simulation, [&text] { DrawHudText(text, HudTextKey{}, 0.5, PlainStyle()); });
  const auto texts = hudtest::ItemsOfKind(simulation, 0, sim::DrawKind::Text);
  ASSERT_EQ(texts.size(), 1U);
  ASSERT_EQ(texts[0].components.size(), 2U);
  EXPECT_EQ(texts[0].components[0], std::string(98, 'a') + "\xC3");
  EXPECT_EQ(texts[0].components[1],
            "\xA9"
            "b");
  EXPECT_EQ(texts[0].text, text);
}

TEST_F(HudText, StyleIsSetInOrderBeforeTheCommandAndShadowOnlyWhenAsked) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 5})"));
  RunScript(
      simulation,
      [] {
        DrawHudText("A", HudTextKey{}, 0.25,
                    HudTextStyle{.font = 4,
                                 .colour = Rgba{1, 2, 3, 4},
                                 .size = 0.35F,
                                 .justification = 2,
                                 .wrapEnd = 0.867F,
                                 .dropShadow = true});
        scriptWait(0);
        DrawHudText("B", HudTextKey{}, 0.25,
                    HudTextStyle{.font = 0,
                                 .colour = Rgba{5, 6, 7, 8},
                                 .size = 0.5F,
                                 .justification = 0,
                                 .wrapEnd = 0.95F});
      },
      2);
  EXPECT_EQ(CallsInFrame(simulation.GetTrace(), 0),
            (std::vector<std::string>{
                "SET_TEXT_FONT(4)", "SET_TEXT_SCALE(0, 0.35)", "SET_TEXT_COLOUR(1, 2, 3, 4)",
                "SET_TEXT_JUSTIFICATION(2)", "SET_TEXT_WRAP(0, 0.867)", "SET_TEXT_DROP_SHADOW()",
                kBeginString, Add("A"), "END_TEXT_COMMAND_DISPLAY_TEXT(0.795, 0.25, 0)"}));
  EXPECT_EQ(CallsInFrame(simulation.GetTrace(), 1),
            (std::vector<std::string>{"SET_TEXT_FONT(0)", "SET_TEXT_SCALE(0, 0.5)",
                                      "SET_TEXT_COLOUR(5, 6, 7, 8)", "SET_TEXT_JUSTIFICATION(0)",
                                      "SET_TEXT_WRAP(0, 0.95)", kBeginString, Add("B"),
                                      "END_TEXT_COMMAND_DISPLAY_TEXT(0.795, 0.25, 0)"}));
  EXPECT_EQ(hudtest::DrawnInFrame(simulation, 0),
            (std::vector<std::string>{"text \"A\" 0.795,0.25 font 4 size 0.35 1,2,3,4 just 2 "
                                      "wrap 0.867 shadow"}));
}

struct SizeCase {
  const char* name;
  float size;
  std::vector<double> override;
  std::string expected;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class TextSizes : public HudTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(TextSizes, PickTheScalePair) {
  const SizeCase& c = GetParam();
  TextScaleOverride = c.override;
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 5})"));
  RunScript(simulation, [&c] { DrawHudText("x", HudTextKey{}, 0.5, PlainStyle(c.size)); });
  const auto calls = CallsInFrame(simulation.GetTrace(), 0);
  ASSERT_GE(calls.size(), 2U);
  EXPECT_EQ(calls[1], c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    DrawHudText, TextSizes,
    ::testing::Values(
        SizeCase{"zero_is_a_size", 0.0F, {2.0, 2.7}, "SET_TEXT_SCALE(0, 0)"},
        SizeCase{"positive_is_a_size", 0.494F, {2.0, 2.7}, "SET_TEXT_SCALE(0, 0.494)"},
        SizeCase{"negative_takes_the_override", -1.0F, {2.0, 2.7}, "SET_TEXT_SCALE(2, 2.7)"},
        SizeCase{"nan_takes_the_override",
                 std::numeric_limits<float>::quiet_NaN(),
                 {2.0, 2.7},
                 "SET_TEXT_SCALE(2, 2.7)"},
        SizeCase{"negative_without_override_draws_as_zero", -1.0F, {}, "SET_TEXT_SCALE(0, 0)"},
        SizeCase{
            "negative_with_half_an_override_draws_as_zero", -1.0F, {5.0}, "SET_TEXT_SCALE(0, 0)"}),
    [](const ::testing::TestParamInfo<SizeCase>& param) { return std::string(param.param.name); });

}  // namespace
