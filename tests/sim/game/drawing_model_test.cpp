// The simulated game's drawing as a script sees it: texture dictionaries that
// stream in some frames after their request, text commands and their faults,
// the style each text is drawn with, and the language and busy spinner a
// scenario sets.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/natives.h"
#include "tests/support/sim_harness.h"

namespace {

namespace natives = rebound::natives;

// Runs `body` as the script once in every frame, given the frame.
bool RunEveryFrame(sim::Simulation& simulation, std::int64_t frames,
                   std::function<void(std::int64_t)> body) {
  simulation.SetScript([&simulation, body] {
    for (;;) {
      body(simulation.GetWorld().clock.frame);
      scriptWait(0);
    }
  });
  return simulation.RunFrames(frames);
}

void DrawText(const char* entry, const std::vector<const char*>& components) {
  natives::BEGIN_TEXT_COMMAND_DISPLAY_TEXT(entry);
  for (const char* c : components) natives::ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME(c);
  natives::END_TEXT_COMMAND_DISPLAY_TEXT(0.5F, 0.25F, 0);
}

TEST(TextureDictionaries, LoadTheirConfiguredFramesAfterTheFirstRequest) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 20, "world": {"textures": {
      "loadFrames": 2, "perDictionary": {"fast": 0, "slow": 5},
      "never": ["gone"], "loaded": ["resident"]}}})"));
  const std::vector<std::string> names = {"plain", "fast", "slow", "gone", "resident", "unasked"};
  std::map<std::string, std::int64_t> firstLoaded;
  ASSERT_TRUE(RunEveryFrame(simulation, 12, [&](std::int64_t frame) {
    if (frame == 1 || frame == 3) {  // a second request does not start the load again
      for (const std::string& n : names) {
        if (n != "unasked") natives::REQUEST_STREAMED_TEXTURE_DICT(n.c_str(), false);
      }
    }
    for (const std::string& n : names) {
      if (natives::HAS_STREAMED_TEXTURE_DICT_LOADED(n.c_str()) && !firstLoaded.count(n)) {
        firstLoaded[n] = frame;
      }
    }
  })) << simulation.Fault();
  EXPECT_EQ(firstLoaded, (std::map<std::string, std::int64_t>{
                             {"plain", 3}, {"fast", 1}, {"slow", 6}, {"resident", 0}}));
}

struct DrawingFault {
  const char* what;
  std::function<void()> script;
  const char* expected;  // part of the fault message
};

void PrintTo(const DrawingFault& f, std::ostream* os) { *os << f.what; }

class DrawingFaults : public ::testing::TestWithParam<DrawingFault> {};

TEST_P(DrawingFaults, StopTheRunWhereTheGameWouldDropOrGarble) {
  const DrawingFault& f = GetParam();
  sim::Simulation simulation(test::ScenarioFrom(
      R"({"frames": 10, "world": {"textures": {"loadFrames": 2, "loaded": ["ready"]}}})"));
  simulation.SetScript([&f] {
    scriptWait(0);  // the fault lands in frame 1
    f.script();
    for (;;) scriptWait(0);
  });
  EXPECT_FALSE(simulation.Run());
  EXPECT_NE(simulation.Fault().find("frame 1"), std::string::npos) << simulation.Fault();
  EXPECT_NE(simulation.Fault().find(f.expected), std::string::npos) << simulation.Fault();
}

void Sprite(const char* dictionary) {
  natives::DRAW_SPRITE(dictionary, "tex", 0.5F, 0.5F, 0.1F, 0.1F, 0.0F, 255, 255, 255, 255, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Drawing, DrawingFaults,
    ::testing::Values(
        DrawingFault{
            "sprite_from_unrequested_dictionary", [] { Sprite("nodict"); },
            "DRAW_SPRITE of \"tex\" from texture dictionary \"nodict\", which is not loaded"},
        DrawingFault{"sprite_before_its_dictionary_has_loaded",
                     [] {
                       natives::REQUEST_STREAMED_TEXTURE_DICT("later", false);
                       Sprite("later");
                     },
                     "from texture dictionary \"later\", which is not loaded"},
        DrawingFault{"text_command_opened_twice",
                     [] {
                       natives::BEGIN_TEXT_COMMAND_DISPLAY_TEXT("STRING");
                       natives::BEGIN_TEXT_COMMAND_DISPLAY_TEXT("jamyfafi");
                     },
                     "BEGIN_TEXT_COMMAND_DISPLAY_TEXT(\"jamyfafi\") while the text command "
                     "\"STRING\" is still open"},
        DrawingFault{"text_command_closed_unopened",
                     [] { natives::END_TEXT_COMMAND_DISPLAY_TEXT(0.5F, 0.5F, 0); },
                     "END_TEXT_COMMAND_DISPLAY_TEXT without an open text command"},
        DrawingFault{"text_closed_twice",
                     [] {
                       DrawText("STRING", {"a"});
                       natives::END_TEXT_COMMAND_DISPLAY_TEXT(0.5F, 0.5F, 0);
                     },
                     "END_TEXT_COMMAND_DISPLAY_TEXT without an open text command"},
        DrawingFault{"component_outside_a_command",
                     [] { natives::ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME("x"); },
                     "ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME(\"x\") outside a text command"},
        DrawingFault{"label_hash_outside_a_command",
                     [] { natives::ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL_HASH_KEY(5); },
                     "ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL_HASH_KEY outside a text command"},
        DrawingFault{"component_of_100_bytes",
                     [] {
                       const std::string text(100, 'x');
                       DrawText("jamyfafi", {text.c_str()});
                     },
                     "with 100 bytes; a component holds at most 99"},
        DrawingFault{"component_changed_before_the_command_is_closed",
                     [] {
                       std::string text = "first";
                       natives::BEGIN_TEXT_COMMAND_DISPLAY_TEXT("STRING");
                       natives::ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME(text.c_str());
                       text[0] = 'F';  // what reusing the memory of a freed temporary does
                       natives::END_TEXT_COMMAND_DISPLAY_TEXT(0.5F, 0.5F, 0);
                     },
                     "text component 1 (\"first\") changed before END_TEXT_COMMAND_DISPLAY_TEXT "
                     "read it"}),
    [](const ::testing::TestParamInfo<DrawingFault>& param) {
      return std::string(param.param.what);
    });

TEST(TextCommands, ShowWhatTheirEntryAndComponentsSay) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 5})"));
  const std::string longest(99, 'z');
  ASSERT_TRUE(RunEveryFrame(simulation, 1, [&](std::int64_t) {
    DrawText("STRING", {"abc"});
    DrawText("jamyfafi", {longest.c_str(), "cd"});
    DrawText("KS_RESPAWN_B", {});
    natives::BEGIN_TEXT_COMMAND_DISPLAY_TEXT("STRING");
    natives::ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL_HASH_KEY(0x1234);
    natives::END_TEXT_COMMAND_DISPLAY_TEXT(0.5F, 0.25F, 0);
  })) << simulation.Fault();
  std::vector<std::string> shown;
  for (const sim::DrawItem& item : simulation.GetWorld().drawing.DrawList(0)) {
    EXPECT_EQ(item.kind, sim::DrawKind::Text);
    shown.push_back(item.text);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"abc", longest + "cd", "KS_RESPAWN_B",
                                             "<label 0x00001234>"}));
}

TEST(TextCommands, FeedPostKeepsItsOwnComponents) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 5})"));
  ASSERT_TRUE(RunEveryFrame(simulation, 1, [](std::int64_t) {
    natives::BEGIN_TEXT_COMMAND_THEFEED_POST("STRING");
    natives::ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME("Latest1");
    natives::END_TEXT_COMMAND_THEFEED_POST_TICKER(false, true);
  })) << simulation.Fault();
  EXPECT_EQ(simulation.GetWorld().feed.tickers, std::vector<std::string>{"Latest1"});
  EXPECT_TRUE(simulation.GetWorld().drawing.DrawList(0).empty());
}

TEST(TextStyle, AppliesToOneCommandOnly) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 5})"));
  ASSERT_TRUE(RunEveryFrame(simulation, 1, [](std::int64_t) {
    natives::SET_TEXT_FONT(4);
    natives::SET_TEXT_SCALE(0.0F, 0.35F);
    natives::SET_TEXT_COLOUR(1, 2, 3, 4);
    natives::SET_TEXT_JUSTIFICATION(2);
    natives::SET_TEXT_WRAP(0.1F, 0.9F);
    natives::SET_TEXT_DROP_SHADOW();
    DrawText("STRING", {"styled"});
    DrawText("STRING", {"plain"});
  })) << simulation.Fault();
  const auto& items = simulation.GetWorld().drawing.DrawList(0);
  ASSERT_EQ(items.size(), 2U);
  const sim::TextStyle& styled = items[0].style;
  EXPECT_EQ(styled.font, 4);
  EXPECT_FLOAT_EQ(styled.size, 0.35F);
  EXPECT_EQ(styled.colour, (sim::Colour{1, 2, 3, 4}));
  EXPECT_EQ(styled.justification, 2);
  EXPECT_FLOAT_EQ(styled.wrapStart, 0.1F);
  EXPECT_FLOAT_EQ(styled.wrapEnd, 0.9F);
  EXPECT_TRUE(styled.dropShadow);
  const sim::TextStyle& plain = items[1].style;
  EXPECT_EQ(plain.font, 0);
  EXPECT_FLOAT_EQ(plain.size, 1.0F);
  EXPECT_EQ(plain.colour, (sim::Colour{255, 255, 255, 255}));
  EXPECT_EQ(plain.justification, 1);
  EXPECT_FALSE(plain.dropShadow);
}

TEST(GameSettings, LanguageSpinnerAndFrameCountFollowTheScenario) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 10,
      "world": {"language": 3, "busySpinner": true},
      "events": [{"frame": 2, "language": 8}, {"frame": 3, "busySpinner": false}]})"));
  std::vector<std::int32_t> languages, frameCounts;
  std::vector<bool> spinner;
  ASSERT_TRUE(RunEveryFrame(simulation, 4, [&](std::int64_t) {
    languages.push_back(natives::GET_CURRENT_LANGUAGE());
    spinner.push_back(natives::BUSYSPINNER_IS_ON());
    frameCounts.push_back(natives::GET_FRAME_COUNT());
  })) << simulation.Fault();
  EXPECT_EQ(languages, (std::vector<std::int32_t>{3, 3, 8, 8}));
  EXPECT_EQ(spinner, (std::vector<bool>{true, true, true, false}));
  EXPECT_EQ(frameCounts, (std::vector<std::int32_t>{0, 1, 2, 3}));
}

}  // namespace
