// The spawn point search on a real script fibre against the simulated game's
// search and road nodes: every path's exact natives, polls and waits, the
// chosen result and heading, and the fallback.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/host_api.h"
#include "src/host/process_state.h"
#include "src/spawn/random_detail.h"
#include "src/spawn/spawn_point.h"
#include "tests/respawn/call_lines.h"
#include "tests/support/sim_harness.h"

namespace {

using rebound::SpawnPoint;
using rebound::Vector3;

// ---- Seeds the test chooses ----------------------------------------------------

std::vector<std::uint32_t> seeds;
std::size_t seedsTaken = 0;

std::uint32_t NextSeed() { return seeds.at(seedsTaken++ % seeds.size()); }

// The heading a point from the search gets when the heading's seed is 1: the
// first output of mt19937(1), 1791095845, is 0.41702 of a full draw, and
// headings span half a turn.
constexpr float kHeadingOfSeed1 = 75.06396F;

// ---- Running a search as the script ---------------------------------------------

const Vector3 kCentre(10.0F, 20.0F, 30.0F);

struct Outcome {
  SpawnPoint point;
  std::vector<std::string> calls;  // up to the caller's own first wait
  std::int64_t returnFrame = -1;
  std::string fault;
};

Outcome Search(const std::string& world, float searchZ, std::int64_t frames = 10) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"world": )" + world + "}"));
  Outcome out;
  simulation.SetScript([&out, searchZ] {
    out.point = rebound::FindSpawnPoint(kCentre, searchZ);
    out.returnFrame = sim::Simulation::Active()->GetWorld().clock.frame;
    scriptWait(1000000);  // marks the return in the trace
    for (;;) scriptWait(0);
  });
  simulation.RunFrames(frames);
  out.fault = simulation.Fault();
  for (const std::string& line : test::CallLines(simulation.GetTrace())) {
    if (line == "scriptWait(1000000)") break;
    out.calls.push_back(line);
  }
  return out;
}

class SpawnSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    seeds = {5489, 1};
    seedsTaken = 0;
    rebound::testing_seam::ResetProcessStateForTesting();
    rebound::testing_seam::SetSeedSourceForTesting(&NextSeed);
  }
  void TearDown() override { rebound::testing_seam::ResetProcessStateForTesting(); }
};

// ---- The trace lines of one search ---------------------------------------------------

const std::string kStart = "SPAWNPOINTS_START_SEARCH(10, 20, 35, 50, 5, 2, 2, 5000)";
std::string Complete(bool v) {
  return std::string("SPAWNPOINTS_IS_SEARCH_COMPLETE() -> ") + (v ? "true" : "false");
}
std::string Failed(bool v) {
  return std::string("SPAWNPOINTS_IS_SEARCH_FAILED() -> ") + (v ? "true" : "false");
}
std::string Active(bool v) {
  return std::string("SPAWNPOINTS_IS_SEARCH_ACTIVE() -> ") + (v ? "true" : "false");
}
std::string Count(int n) { return "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS() -> " + std::to_string(n); }
const std::string kWait = "scriptWait(0)";
const std::string kCancel = "SPAWNPOINTS_CANCEL_SEARCH()";
// The fallback asks at the centre's own height, never at searchZ.
const std::string kNodeFound =
    "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING(10, 20, 30, 1, &, &, &, 1, 3, 0) -> true "
    "writes (100, 200, 31), 45, 2";
const std::string kNodeNone =
    "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING(10, 20, 30, 1, &, &, &, 1, 3, 0) -> false "
    "writes (0, 0, 0), 0, 0";

// The far node is listed first: the lookup takes the closest.
const std::string kRoadNodes =
    R"("roadNodes": [{"position": [-900, 0, 0], "heading": 90},
                     {"position": [100, 200, 31], "heading": 45, "lanes": 2}])";

struct PathCase {
  const char* name;
  std::string world;
  std::vector<std::string> calls;
  Vector3 position;
  float heading;
  std::int64_t returnFrame;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class SearchPaths : public SpawnSearch, public ::testing::WithParamInterface<PathCase> {};

TEST_P(SearchPaths, PollInOrderCancelOnceAndAnswer) {
  const PathCase& c = GetParam();
  const Outcome out = Search(c.world, 35.0F);
  ASSERT_EQ(out.fault, "");
  EXPECT_EQ(out.calls, c.calls);
  EXPECT_TRUE(out.point.position.Equals(c.position))
      << out.point.position.x << ", " << out.point.position.y << ", " << out.point.position.z;
  EXPECT_TRUE(out.point.rotation.Equals(Vector3(0.0F, 0.0F, c.heading))) << out.point.rotation.z;
  EXPECT_EQ(out.returnFrame, c.returnFrame);
}

const std::string kThreeResults = R"("results": [[1, 2, 3], [4, 5, 6], [7, 8, 9]])";

INSTANTIATE_TEST_SUITE_P(
    Paths, SearchPaths,
    ::testing::Values(
        // Done before the first poll: no wait, and the failure is still asked.
        // The index comes from the first seed (3499211612 * 3 >> 32 = 2), the
        // heading from the second.
        PathCase{"CompleteAtOnce",
                 R"({"spawnSearch": {"frames": 0, )" + kThreeResults + "}}",
                 {kStart, Complete(true), Failed(false), Count(3),
                  "SPAWNPOINTS_GET_SEARCH_RESULT(2, &, &, &) writes 7, 8, 9", kCancel},
                 Vector3(7.0F, 8.0F, 9.0F),
                 kHeadingOfSeed1,
                 0},
        // Each round: failed?, active?, one frame, complete? again.
        PathCase{"CompleteAfterTwoFrames",
                 R"({"spawnSearch": {"frames": 2, "results": [[1, 2, 3]]}})",
                 {kStart, Complete(false), Failed(false), Active(true), kWait, Complete(false),
                  Failed(false), Active(true), kWait, Complete(true), Failed(false), Count(1),
                  "SPAWNPOINTS_GET_SEARCH_RESULT(0, &, &, &) writes 1, 2, 3", kCancel},
                 Vector3(1.0F, 2.0F, 3.0F),
                 kHeadingOfSeed1,
                 2},
        // Neither complete, failed nor active at the first poll: no wait.
        PathCase{"InactiveAtOnce",
                 R"({"spawnSearch": {"frames": 0, "outcome": "inactive"}, )" + kRoadNodes + "}",
                 {kStart, Complete(false), Failed(false), Active(false), Failed(false), Count(0),
                  kCancel, kNodeFound},
                 Vector3(100.0F, 200.0F, 31.0F),
                 0.0F,
                 0},
        // The road node's heading of 45 is not used.
        PathCase{"FailedAfterOneFrame",
                 R"({"spawnSearch": {"frames": 1, "outcome": "failed"}, )" + kRoadNodes + "}",
                 {kStart, Complete(false), Failed(false), Active(true), kWait, Complete(false),
                  Failed(true), Failed(true), kCancel, kNodeFound},
                 Vector3(100.0F, 200.0F, 31.0F),
                 0.0F,
                 1},
        PathCase{"CompleteWithoutResults",
                 R"({"spawnSearch": {"frames": 0, "results": []}, )" + kRoadNodes + "}",
                 {kStart, Complete(true), Failed(false), Count(0), kCancel, kNodeFound},
                 Vector3(100.0F, 200.0F, 31.0F),
                 0.0F,
                 0},
        // A negative count from the game is no results, never an index.
        PathCase{"NegativeCount",
                 R"({"spawnSearch": {"frames": 0, "resultCount": -1}, )" + kRoadNodes + "}",
                 {kStart, Complete(true), Failed(false), Count(-1), kCancel, kNodeFound},
                 Vector3(100.0F, 200.0F, 31.0F),
                 0.0F,
                 0},
        // The search and the road nodes both fail: the zero point, heading 0.
        PathCase{"BothFail",
                 R"({"spawnSearch": {"frames": 0, "outcome": "failed"}})",
                 {kStart, Complete(false), Failed(true), Failed(true), kCancel, kNodeNone},
                 Vector3(0.0F, 0.0F, 0.0F),
                 0.0F,
                 0}),
    [](const ::testing::TestParamInfo<PathCase>& param) { return std::string(param.param.name); });

TEST_F(SpawnSearch, OneResultIsAlwaysIndexZeroWithARandomHeading) {
  struct Heading {
    std::uint32_t seed;  // the index's; the heading's is the next one
    float heading;       // 180 times the first draw of the heading's engine
  };
  for (const auto [seed, heading] : {Heading{0U, 75.06396F}, Heading{5489U, 94.24823F},
                                     Heading{1U, 78.47908F}, Heading{4000000000U, 8.70858F}}) {
    seeds = {seed, seed + 1};
    seedsTaken = 0;
    const Outcome out = Search(R"({"spawnSearch": {"frames": 0, "results": [[5, 6, 7]]}})", 35.0F);
    ASSERT_EQ(out.fault, "") << seed;
    EXPECT_EQ(out.calls.at(4), "SPAWNPOINTS_GET_SEARCH_RESULT(0, &, &, &) writes 5, 6, 7") << seed;
    EXPECT_TRUE(out.point.rotation.Equals(Vector3(0.0F, 0.0F, heading))) << seed;
    EXPECT_EQ(seedsTaken, 2U) << "one seed for the index, one for the heading";
  }
}

TEST_F(SpawnSearch, SearchHeightIsSearchZOnlyWhenAboveMinus200) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float searchZ;
    const char* pushed;  // the z pushed to the search
  };
  for (const Case& c : {Case{-200.0F, "30"}, Case{-199.99F, "-199.99"}, Case{nan, "30"},
                        Case{-1000.0F, "30"}, Case{0.0F, "0"}, Case{500.0F, "500"}}) {
    const Outcome out = Search(R"({"spawnSearch": {"frames": 0}})", c.searchZ);
    ASSERT_FALSE(out.calls.empty());
    EXPECT_EQ(out.calls[0],
              std::string("SPAWNPOINTS_START_SEARCH(10, 20, ") + c.pushed + ", 50, 5, 2, 2, 5000)")
        << c.searchZ;
  }
}

TEST_F(SpawnSearch, RoadNodeLookupKeepsTheNodesHeading) {
  sim::Simulation simulation(test::ScenarioFrom("{\"world\": {" + kRoadNodes + "}}"));
  SpawnPoint point;
  simulation.SetScript([&point] {
    point = rebound::FindRoadNode(kCentre);
    for (;;) scriptWait(0);
  });
  ASSERT_TRUE(simulation.RunFrames(2)) << simulation.Fault();
  EXPECT_TRUE(point.position.Equals(Vector3(100.0F, 200.0F, 31.0F)));
  EXPECT_TRUE(point.rotation.Equals(Vector3(0.0F, 0.0F, 45.0F)));
  EXPECT_EQ(test::CallLines(simulation.GetTrace()).at(0), kNodeFound);
}

}  // namespace
