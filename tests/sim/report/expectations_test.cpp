// A scenario's expected calls: how "expect" is read (and its mistakes named
// by file, line and field), and how a run's calls are counted against it,
// frame ranges included.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "sim/report/expectations.h"
#include "src/host/natives.h"
#include "tests/support/sim_harness.h"

namespace {

namespace natives = rebound::natives;

std::string ErrorOf(std::string_view json) {
  try {
    const sim::Scenario s = sim::Scenario::Parse("bad.json", json);
    sim::ExpectationCounter counter(s.expectations, nullptr);
  } catch (const sim::ScenarioError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(ExpectedCalls, MistakesAreNamedWithFileLineAndField) {
  const struct {
    const char* json;
    const char* error;
  } cases[] = {
      {R"({"expect": [{"native": "NO_SUCH_NATIVE", "calls": 1}]})",
       "bad.json:1: field 'expect[0].native': unknown native \"NO_SUCH_NATIVE\""},
      {R"({"expect": [{"native": "0x0000000000000001", "calls": 1}]})",
       "bad.json:1: field 'expect[0].native': no native has the hash 0x0000000000000001"},
      {R"({"expect": [{"native": "PLAYER_PED_ID", "calls": 1, "frame": [1, 2]}]})",
       "bad.json:1: field 'expect[0]': unknown key \"frame\" (expected native, calls, frames)"},
      {R"({"expect": [{"native": "PLAYER_PED_ID", "calls": {"min": 3, "max": 2}}]})",
       "bad.json:1: field 'expect[0].calls.max': expected at least \"min\" (3)"},
      {R"({"expect": [{"native": "PLAYER_PED_ID", "calls": {"least": 3}}]})",
       "bad.json:1: field 'expect[0].calls': unknown key \"least\" (expected min, max)"},
      {R"({"expect": [{"native": "PLAYER_PED_ID", "calls": {}}]})",
       "bad.json:1: field 'expect[0].calls': expected \"min\", \"max\" or both"},
      {R"({"expect": [{"native": "PLAYER_PED_ID", "calls": -1}]})",
       "bad.json:1: field 'expect[0].calls': expected an integer from 0"},
      {R"({"expect": [{"native": "PLAYER_PED_ID", "calls": 1, "frames": [5, 4]}]})",
       "bad.json:1: field 'expect[0].frames[1]': expected a frame at or after the first (5)"},
      {R"({"expect": [{"native": "PLAYER_PED_ID", "calls": 1, "frames": [5]}]})",
       "bad.json:1: field 'expect[0].frames': expected [FIRST, LAST], two frame numbers"},
      {R"({"expect": [{"calls": 1}]})", "bad.json:1: field 'expect[0]"},
      {R"({"expect": {"native": "PLAYER_PED_ID"}})",
       "bad.json:1: field 'expect': expected a list of expected calls"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(ErrorOf(c.json).find(c.error), std::string::npos)
        << c.json << "\n gave: " << ErrorOf(c.json);
  }
}

TEST(ExpectedCalls, CountsReadAsWritten) {
  const sim::Scenario s = sim::Scenario::Parse("ok.json", R"({"expect": [
      {"native": "PLAYER_PED_ID", "calls": 3},
      {"native": "PLAYER_PED_ID", "calls": {"min": 2}},
      {"native": "PLAYER_PED_ID", "calls": {"max": 4}},
      {"native": "PLAYER_PED_ID", "calls": {"min": 1, "max": 4}, "frames": [2, 9]},
      {"native": "0xd80958fc74e988a6", "calls": 0}]})");
  ASSERT_EQ(s.expectations.size(), 5U);
  const std::vector<std::string> texts = {"exactly 3 calls", "at least 2 calls", "at most 4 calls",
                                          "from 1 to 4 calls", "no calls"};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(sim::ExpectedCountText(s.expectations[i]), texts[i]) << i;
  }
  EXPECT_EQ(s.expectations[3].firstFrame, 2);
  EXPECT_EQ(s.expectations[3].lastFrame, 9);
  EXPECT_FALSE(s.expectations[0].framesGiven);
}

// Runs a script that calls PLAYER_PED_ID once a frame and GET_GAME_TIMER in
// frames 3 and 4 only, with the scenario's expectations counted.
std::vector<sim::ExpectationResult> ResultsOfRun(std::string_view expect, std::int64_t frames) {
  sim::Simulation simulation(test::ScenarioFrom("{\"frames\": " + std::to_string(frames) +
                                                ", \"expect\": " + std::string(expect) + "}"));
  sim::ExpectationCounter counter(simulation.GetScenario().expectations, nullptr);
  simulation.SetWatcher(&counter);
  simulation.SetScript([&simulation] {
    for (;;) {
      natives::PLAYER_PED_ID();
      const std::int64_t frame = simulation.GetWorld().clock.frame;
      if (frame == 3 || frame == 4) natives::GET_GAME_TIMER();
      scriptWait(0);
    }
  });
  EXPECT_TRUE(simulation.Run()) << simulation.Fault();
  return counter.Results();
}

TEST(ExpectationCounter, CountsCallsInTheirFrameRangeOnly) {
  const std::vector<sim::ExpectationResult> r = ResultsOfRun(R"([
      {"native": "PLAYER_PED_ID", "calls": 10},
      {"native": "PLAYER_PED_ID", "calls": 3, "frames": [0, 2]},
      {"native": "GET_GAME_TIMER", "calls": 2, "frames": [3, 4]},
      {"native": "GET_GAME_TIMER", "calls": 0, "frames": [5, 9]},
      {"native": "GET_GAME_TIMER", "calls": 1, "frames": [4, 100]},
      {"native": "GET_GAME_TIMER", "calls": 0, "frames": [2, 3]},
      {"native": "PLAYER_PED_ID", "calls": {"min": 11}},
      {"native": "PLAYER_PED_ID", "calls": {"max": 9}}])",
                                                             10);
  ASSERT_EQ(r.size(), 8U);
  const std::uint64_t seen[] = {10, 3, 2, 0, 1, 1, 10, 10};
  const bool met[] = {true, true, true, true, true, false, false, false};
  for (std::size_t i = 0; i < r.size(); ++i) {
    EXPECT_EQ(r[i].seen, seen[i]) << i;
    EXPECT_EQ(r[i].met, met[i]) << i;
  }
  EXPECT_EQ(sim::DescribeExpectation(r[5]),
            "GET_GAME_TIMER (0x9CD27B0045628463): expected no calls in frames 2 to 3, seen 1");
  EXPECT_EQ(sim::DescribeExpectation(r[7]),
            "PLAYER_PED_ID (0xD80958FC74E988A6): expected at most 9 calls, seen 10");
}

}  // namespace
