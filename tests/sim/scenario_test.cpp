// Scenario files: defaults, and mistakes reported with file, line and field.
#include <gtest/gtest.h>

#include <string>

#include "sim/scenario.h"

namespace {

std::string ErrorOf(std::string_view json) {
  try {
    sim::Scenario::Parse("bad.json", json);
  } catch (const sim::ScenarioError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(Scenario, EveryFieldIsOptional) {
  const sim::Scenario s = sim::Scenario::Parse("empty.json", "{}");
  EXPECT_EQ(s.name, "default");
  EXPECT_EQ(s.fps, 60);
  EXPECT_EQ(s.frames, 600);
  EXPECT_EQ(s.startGameTime, 100000);
  EXPECT_TRUE(s.events.empty());
}

TEST(Scenario, BuiltInDefaultParses) {
  const sim::Scenario s = sim::Scenario::Default();
  EXPECT_FALSE(s.events.empty());
}

TEST(Scenario, EventsAreOrderedByFrameKeepingFileOrderForTies) {
  const sim::Scenario s = sim::Scenario::Parse("e.json", R"({"events": [
    {"frame": 9, "health": 5},
    {"frame": 3, "health": 1},
    {"frame": 9, "key": {"code": 65}}
  ]})");
  ASSERT_EQ(s.events.size(), 3U);
  EXPECT_EQ(s.events[0].frame, 3);
  EXPECT_EQ(s.events[1].description, "health 5");
  EXPECT_TRUE(s.events[2].isKeyboard);
}

TEST(Scenario, KeyEventKeepsAllSevenHandlerArguments) {
  const sim::Scenario s = sim::Scenario::Parse("k.json", R"({"events": [
    {"frame": 1, "key": {"code": 4294967295, "repeats": 3, "scanCode": 30, "extended": 1,
                         "alt": 2, "wasDownBefore": 1, "isUp": 1}}]})");
  ASSERT_EQ(s.events.size(), 1U);
  const std::uint32_t expected[7] = {0xFFFFFFFFU, 3, 30, 1, 2, 1, 1};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(s.events[0].keyArgs[i], expected[i]) << i;
}

TEST(Scenario, MistakesNameFileLineAndField) {
  struct Case {
    const char* json;
    const char* expected;
  };
  const Case cases[] = {
      {"{\n  \"fps\": \"sixty\"\n}", "bad.json:2: field 'fps': expected an integer, got a string"},
      {"{\n  \"name\": \"x\",\n  \"frmaes\": 10\n}", "bad.json:3: field 'frmaes': unknown field"},
      {"{\n \"fps\": 0\n}", "bad.json:2: field 'fps': expected an integer from 1 to 1000, got 0"},
      {"{\"player\": {\n \"health\": 1.5}}",
       "bad.json:2: field 'player.health': expected an integer"},
      {"{\"player\": {\"position\": [1, 2]}}",
       "field 'player.position': expected a position [x, y, z]"},
      {"{\"events\": [\n {\"frame\": 1, \"health\": 0},\n {\"frame\": 2, \"explode\": true}]}",
       "bad.json:3: field 'events[1]': unknown kind of event (fields: explode, frame)"},
      {"{\"events\": [{\"health\": 0}]}", "field 'events[0]': missing field 'frame'"},
      {"{\"events\": [{\"frame\": 1, \"key\": {\"code\": 65, \"shift\": 1}}]}",
       "field 'events[0].key.shift': unknown field"},
      {"{\n\"fps\": 60,,\n}", "bad.json:2:"},
      {"[1, 2]", "expected an object, got an array"},
      {"{\"world\": {\"gravity\": 9.8}}", "field 'world.gravity': unknown field"},
      {"{\"frames\": 1e400}",
       "bad.json:1: field 'frames': the number 1e400 is too large for any number type"},
      {"{\"frames\": 18446744073709551615}",
       "field 'frames': expected an integer from 0 to 100000000, got 18446744073709551615"},
      {"{\"frames\": 1e30}", "field 'frames': expected an integer from 0 to 100000000, got 1e+30"},
      {"{\"events\": [{\"from\": 0, \"to\": 60000000, \"tapEveryFrames\": 2, \"control\": 1}]}",
       "field 'events[0].to': makes 30000001 taps; a span may make at most 100000"},
  };
  for (const auto& c : cases) {
    const std::string error = ErrorOf(c.json);
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.json << "\n  gave: " << error;
  }
}

TEST(Scenario, MissingFileIsNamed) {
  try {
    sim::Scenario::Load("/nonexistent/scenario.json");
    FAIL() << "no error";
  } catch (const sim::ScenarioError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/scenario.json"), std::string::npos);
  }
}

}  // namespace
