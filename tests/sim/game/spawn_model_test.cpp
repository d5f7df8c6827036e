// The simulated spawn-point search and road nodes as the script sees them:
// when the outcome shows, what a cancel or a restart does, results out of
// range stopping the run, the n-th closest node, and the clock and distance.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/natives.h"
#include "tests/support/sim_harness.h"

namespace {

namespace natives = rebound::natives;

std::string WorldScenario(const std::string& world) {
  return R"({"frames": 100, "world": )" + world + "}";
}

// complete / failed / active / count, as one word each frame.
std::string Poll() {
  std::string s;
  s += natives::SPAWNPOINTS_IS_SEARCH_COMPLETE() ? "C" : "-";
  s += natives::SPAWNPOINTS_IS_SEARCH_FAILED() ? "F" : "-";
  s += natives::SPAWNPOINTS_IS_SEARCH_ACTIVE() ? "A" : "-";
  s += std::to_string(natives::SPAWNPOINTS_GET_NUM_SEARCH_RESULTS());
  return s;
}

std::vector<std::string> PollFrames(const std::string& world, int frames) {
  sim::Simulation simulation(test::ScenarioFrom(WorldScenario(world)));
  std::vector<std::string> polls;
  EXPECT_TRUE(test::RunOnce(
      simulation,
      [&] {
        polls.push_back(Poll());  // before any search
        natives::SPAWNPOINTS_START_SEARCH(1, 2, 3, 50, 5, 2, 2.0F, 5000);
        for (int i = 0; i < frames; ++i) {
          polls.push_back(Poll());
          scriptWait(0);
        }
        natives::SPAWNPOINTS_CANCEL_SEARCH();
        polls.push_back(Poll());
      },
      30))
      << simulation.Fault();
  return polls;
}

TEST(SpawnModel, OutcomeShowsAfterTheConfiguredFramesUntilCancelled) {
  struct Case {
    std::string world;
    std::vector<std::string> polls;  // before, frames 0..3 after the start, after the cancel
  };
  for (const Case& c : {
           Case{R"({"spawnSearch": {"frames": 2, "results": [[1, 1, 1], [2, 2, 2]]}})",
                {"---0", "--A0", "--A0", "C--2", "C--2", "---0"}},
           Case{R"({"spawnSearch": {"frames": 0, "outcome": "failed"}})",
                {"---0", "-F-0", "-F-0", "-F-0", "-F-0", "---0"}},
           Case{R"({"spawnSearch": {"frames": 1, "outcome": "inactive"}})",
                {"---0", "--A0", "---0", "---0", "---0", "---0"}},
           Case{R"({"spawnSearch": {"frames": 1, "outcome": "never"}})",
                {"---0", "--A0", "--A0", "--A0", "--A0", "---0"}},
           Case{R"({"spawnSearch": {"frames": 0, "resultCount": -3}})",
                {"---0", "C---3", "C---3", "C---3", "C---3", "---0"}},
           // Unconfigured: after 10 frames, the centre as the one result.
           Case{R"({})", {"---0", "--A0", "--A0", "--A0", "--A0", "---0"}},
       }) {
    EXPECT_EQ(PollFrames(c.world, 4), c.polls) << c.world;
  }
}

TEST(SpawnModel, ResultOutsideTheResultsStopsTheRun) {
  struct Case {
    const char* what;
    std::function<void()> script;
    const char* message;
  };
  float x = 0, y = 0, z = 0;
  const Case cases[] = {
      {"past the end",
       [&] {
         natives::SPAWNPOINTS_START_SEARCH(0, 0, 0, 50, 5, 2, 2.0F, 5000);
         natives::SPAWNPOINTS_GET_SEARCH_RESULT(2, &x, &y, &z);
       },
       "SPAWNPOINTS_GET_SEARCH_RESULT(2): index out of range, the search holds 2 results"},
      {"negative",
       [&] {
         natives::SPAWNPOINTS_START_SEARCH(0, 0, 0, 50, 5, 2, 2.0F, 5000);
         natives::SPAWNPOINTS_GET_SEARCH_RESULT(-1, &x, &y, &z);
       },
       "SPAWNPOINTS_GET_SEARCH_RESULT(-1): index out of range"},
      {"after the cancel",
       [&] {
         natives::SPAWNPOINTS_START_SEARCH(0, 0, 0, 50, 5, 2, 2.0F, 5000);
         natives::SPAWNPOINTS_CANCEL_SEARCH();
         natives::SPAWNPOINTS_GET_SEARCH_RESULT(0, &x, &y, &z);
       },
       "the search holds 0 results"},
  };
  for (const Case& c : cases) {
    sim::Simulation simulation(test::ScenarioFrom(
        WorldScenario(R"({"spawnSearch": {"frames": 0, "results": [[1, 1, 1], [2, 2, 2]]}})")));
    EXPECT_FALSE(test::RunOnce(simulation, c.script, 30)) << c.what;
    EXPECT_NE(simulation.Fault().find(c.message), std::string::npos) << simulation.Fault();
  }
}

TEST(SpawnModel, StartWithoutCancelDropsTheHeldSearchAndStartsAfresh) {
  sim::Simulation simulation(test::ScenarioFrom(
      WorldScenario(R"({"spawnSearch": {"frames": 2, "results": [[1, 1, 1]]}})")));
  std::vector<std::string> polls;
  ASSERT_TRUE(test::RunOnce(
      simulation,
      [&] {
        natives::SPAWNPOINTS_START_SEARCH(0, 0, 0, 50, 5, 2, 2.0F, 5000);
        scriptWait(0);
        scriptWait(0);
        polls.push_back(Poll());
        natives::SPAWNPOINTS_START_SEARCH(0, 0, 0, 50, 5, 2, 2.0F, 5000);
        polls.push_back(Poll());
        scriptWait(0);
        scriptWait(0);
        polls.push_back(Poll());
      },
      30))
      << simulation.Fault();
  EXPECT_EQ(polls, (std::vector<std::string>{"C--1", "--A0", "C--1"}));
  const sim::SpawnModel& spawn = simulation.GetWorld().spawn;
  EXPECT_EQ(spawn.searchesStarted, 2);
  EXPECT_EQ(spawn.searchesDropped, 1);
  EXPECT_EQ(spawn.searchesCancelled, 0);
}

TEST(SpawnModel, RoadNodeLookupGivesTheNthClosestWithHeading) {
  // Distances from (0, 0, 0): B 5, A and C 10 (A listed first), D 20 (in z).
  sim::Simulation simulation(test::ScenarioFrom(WorldScenario(R"({"roadNodes": [
      {"position": [10, 0, 0], "heading": 1},
      {"position": [3, 4, 0], "heading": 2, "lanes": 3},
      {"position": [0, -10, 0], "heading": 3},
      {"position": [0, 0, 20], "heading": 4}]})")));
  struct Found {
    bool found;
    float x, y, z, heading;
    std::int32_t lanes;
  };
  std::vector<Found> found;
  ASSERT_TRUE(test::RunOnce(
      simulation,
      [&] {
        for (std::int32_t n : {1, 2, 3, 4, 5, 0}) {
          rebound::NativeVector3 at;
          at.padX = at.padY = at.padZ = 0xDEADBEEF;
          float heading = -1.0F;
          std::int32_t lanes = -1;
          const bool ok = natives::GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING(
              0, 0, 0, n, &at, &heading, &lanes, 1, 3.0F, 0.0F);
          found.push_back({ok, at.x, at.y, at.z, heading, lanes});
          if (ok) {
            EXPECT_EQ(at.padY, 0U) << "the game writes whole 8-byte slots";
          }
        }
      },
      30))
      << simulation.Fault();
  ASSERT_EQ(found.size(), 6U);
  EXPECT_TRUE(found[0].found);
  EXPECT_EQ(found[0].heading, 2.0F);
  EXPECT_EQ(found[0].lanes, 3);
  EXPECT_EQ(found[0].y, 4.0F);
  EXPECT_EQ(found[1].heading, 1.0F) << "equally far: the listed order decides";
  EXPECT_EQ(found[2].heading, 3.0F);
  EXPECT_EQ(found[3].heading, 4.0F);
  EXPECT_EQ(found[3].z, 20.0F);
  for (std::size_t i : {4U, 5U}) {
    EXPECT_FALSE(found[i].found) << i;
    EXPECT_EQ(found[i].heading, -1.0F) << "nothing written when none is found";
  }
}

TEST(SpawnModel, DistanceIsThreeDimensional) {
  sim::Simulation simulation(test::ScenarioFrom(WorldScenario("{}")));
  std::vector<float> d;
  ASSERT_TRUE(test::RunOnce(
      simulation,
      [&] {
        d.push_back(natives::VDIST(0, 0, 0, 3, 4, 12));
        d.push_back(natives::VDIST(1, 1, 1, 1, 1, 1));
        d.push_back(natives::VDIST(-100, 0, 5, 200, 0, 5));
      },
      30))
      << simulation.Fault();
  EXPECT_EQ(d, (std::vector<float>{13.0F, 0.0F, 300.0F}));
}

}  // namespace
