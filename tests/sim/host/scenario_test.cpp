// Scenario files: defaults, and mistakes reported with file, line and field.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <system_error>

#include "sim/game/world.h"
#include "sim/host/scenario.h"

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
  EXPECT_EQ(s.events[2].kind, sim::EventKind::Keyboard);
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

// Nesting is refused past 64 levels, before anything walks it: 20,000 levels
// (a 40 KB file) once took the stack whole. Brackets inside strings do not count.
TEST(Scenario, DeepNestingIsRefusedNamingLineAndField) {
  const std::string deep = std::string(20000, '[') + std::string(20000, ']');
  EXPECT_EQ(
      ErrorOf("{\"events\": [1, " + deep + "]}"), "bad.json:1: field 'events" + [] {
        std::string path = "[1]";
        for (int i = 0; i < 62; ++i) path += "[0]";
        return path;
      }() + "': arrays and objects nested more than 64 deep");
  std::string objects = "{\n";
  for (int i = 0; i < 70; ++i) objects += "\"a\": {";
  objects += std::string(70, '}') + "}";
  EXPECT_EQ(ErrorOf(objects).substr(0, 23), "bad.json:2: field 'a.a.");
  // 64 levels are read (and refused for what they hold, not their depth).
  const std::string deepest = "{\"name\": " + std::string(63, '[') + std::string(63, ']') + "}";
  EXPECT_EQ(ErrorOf(deepest), "bad.json:1: field 'name': expected a string, got an array");
  EXPECT_EQ(ErrorOf("{\"name\": \"" + std::string(100, '[') + "\\\"{\"}"), "(no error)");
}

TEST(Scenario, DuplicateKeysNameBothLines) {
  struct Case {
    const char* json;
    const char* expected;
  };
  const Case cases[] = {
      {"{\n\"fps\": 30,\n\"name\": \"x\",\n\"fps\": 60\n}",
       "bad.json:4: field 'fps': duplicate key, first given on line 2"},
      {"{\"events\": [\n {\"frame\": 1, \"health\": 0},\n {\"frame\": 2,\n  \"frame\": 3, "
       "\"heal\": true}]}",
       "bad.json:4: field 'events[1].frame': duplicate key, first given on line 3"},
      // The same key, once written with an escape.
      {"{\"world\": {\"labels\": {\"a\\u0062\": \"x\",\n \"ab\": \"y\"}}}",
       "bad.json:2: field 'world.labels.ab': duplicate key, first given on line 1"},
      // Found before a mistake further down is.
      {"{\"player\": {\"health\": 1,\n\"health\": 2},\n\"fps\": 0}",
       "bad.json:2: field 'player.health': duplicate key, first given on line 1"},
  };
  for (const auto& c : cases) {
    const std::string error = ErrorOf(c.json);
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.json << "\n  gave: " << error;
  }
  // The same key in different objects is no duplicate.
  EXPECT_EQ(ErrorOf(R"({"player": {"health": 1}, "events": [{"frame": 1, "health": 0},
                                                              {"frame": 2, "health": 5}]})"),
            "(no error)");
}

TEST(Scenario, EveryFloatFieldRefusesWhatNoFloatHolds) {
  // The field stands on line 2 (a member on the line of its key).
  const char* const fields[][2] = {
      {"{\"player\": {\"position\": [0, 0,\n %s]}}", "player.position[2]"},
      {"{\"player\": {\n\"heading\": %s}}", "player.heading"},
      {"{\"world\": {\"gameRestart\": {\"position\": [\n%s, 0, 0]}}}",
       "world.gameRestart.position[0]"},
      {"{\"world\": {\"gameRestart\": {\n\"heading\": %s}}}", "world.gameRestart.heading"},
      {"{\"world\": {\"roadNodes\": [{\"position\": [0,\n%s, 0]}]}}",
       "world.roadNodes[0].position[1]"},
      {"{\"world\": {\"roadNodes\": [{\"position\": [0, 0, 0],\n\"heading\": %s}]}}",
       "world.roadNodes[0].heading"},
      {"{\"world\": {\"spawnSearch\": {\"results\": [[0, 0, 0], [0,\n%s, 0]]}}}",
       "world.spawnSearch.results[1][1]"},
      {"{\"events\": [{\"frame\": 1, \"position\": [0, 0,\n%s]}]}", "events[0].position[2]"},
  };
  const struct {
    const char* number;
    const char* expected;
  } numbers[] = {
      {"1e39",
       "expected a number a float can hold (from -3.4028235e38 to 3.4028235e38), got 1e+39"},
      {"-3.4028236e38", "got -3.4028236e+38"},
      {"1e400", "the number 1e400 is too large for any number type"},
  };
  for (const auto& field : fields) {
    for (const auto& number : numbers) {
      std::string json = field[0];
      json.replace(json.find("%s"), 2, number.number);
      const std::string error = ErrorOf(json);
      const std::string place = std::string("bad.json:2: field '") + field[1] + "': ";
      EXPECT_EQ(error.find(place), 0U) << json << "\n  gave: " << error;
      EXPECT_NE(error.find(number.expected), std::string::npos) << json << "\n  gave: " << error;
    }
  }
}

TEST(Scenario, TheLargestFloatIsTaken) {
  // 3.4028235e38 is how the largest float is written; it rounds to it.
  const sim::Scenario s = sim::Scenario::Parse(
      "max.json",
      R"({"player": {"heading": 3.4028235e38, "position": [-3.4028235e38, 1e-50, 0]}})");
  sim::World world;
  world.Configure(sim::ScenarioNode::Root(s.document));
  EXPECT_EQ(world.player.heading, std::numeric_limits<float>::max());
  EXPECT_EQ(world.player.position.x, -std::numeric_limits<float>::max());
  EXPECT_EQ(world.player.position.y, 0.0F);
}

TEST(Scenario, FloatsTakeNaNAndInfinitiesWrittenAsTheTraceWritesThem) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    const char* written;
    float value;  // NaN for NaN
    const char* error;
  } cases[] = {
      {"\"NaN\"", std::numeric_limits<float>::quiet_NaN(), nullptr},
      {"\"Infinity\"", inf, nullptr},
      {"\"-Infinity\"", -inf, nullptr},
      {"-0.5", -0.5F, nullptr},
      {"\"nan\"", 0, "expected a number, \"NaN\", \"Infinity\" or \"-Infinity\", got \"nan\""},
      {"\"inf\"", 0, "got \"inf\""},
      {"\"+Infinity\"", 0, "got \"+Infinity\""},
      {"\" NaN\"", 0, "got \" NaN\""},
      {"\"1.5\"", 0, "got \"1.5\""},
      {"null", 0, "expected a number, got null"},
      {"1e39", 0, "expected a number a float can hold"},
  };
  for (const auto& c : cases) {
    const std::string json = std::string(R"({"player": {"heading": )") + c.written +
                             R"(, "position": [0, )" + c.written + R"(, 0]}})";
    if (c.error != nullptr) {
      const std::string error = ErrorOf(json);
      EXPECT_NE(error.find("field 'player.position[1]': "), std::string::npos) << error;
      EXPECT_NE(error.find(c.error), std::string::npos) << json << "\n  gave: " << error;
      continue;
    }
    const sim::Scenario s = sim::Scenario::Parse("f.json", json);
    sim::World world;
    world.Configure(sim::ScenarioNode::Root(s.document));
    for (const float got : {world.player.heading, world.player.position.y}) {
      if (std::isnan(c.value)) {
        EXPECT_TRUE(std::isnan(got)) << c.written;
      } else {
        EXPECT_EQ(got, c.value) << c.written;
      }
    }
  }
}

TEST(Scenario, IndexKeysArePlainDigits) {
  const struct {
    const char* key;
    std::optional<std::int32_t> index;
  } cases[] = {
      {"0", 0},           {"7", 7},    {"2147483647", INT32_MAX},
      {"2147483648", {}}, {"07", {}},  {"+7", {}},
      {"-0", {}},         {" 7", {}},  {"7 ", {}},
      {"", {}},           {"1e3", {}}, {"99999999999", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(sim::IndexKey(c.key), c.index) << '"' << c.key << '"';
}

TEST(Scenario, UnreadableFileGivesTheSystemsReason) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "scenario-load";
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "plain.json").string();
  std::FILE* out = std::fopen(file.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fputs("{}", out);
  std::fclose(out);
  const auto reason = [](int error) { return std::generic_category().message(error); };
  const struct {
    std::string path;
    std::string expected;
  } cases[] = {
      {dir.string(), dir.string() + ": cannot read the scenario file: " + reason(EISDIR)},
      {(dir / "missing.json").string(),
       (dir / "missing.json").string() + ": cannot open the scenario file: " + reason(ENOENT)},
      {file + "/inside.json",
       file + "/inside.json: cannot open the scenario file: " + reason(ENOTDIR)},
  };
  for (const auto& c : cases) {
    try {
      sim::Scenario::Load(c.path);
      ADD_FAILURE() << c.path << ": no error";
    } catch (const sim::ScenarioError& e) {
      EXPECT_EQ(std::string(e.what()), c.expected);
    }
  }
  EXPECT_EQ(sim::Scenario::Load(file).fileName, file);
}

}  // namespace
