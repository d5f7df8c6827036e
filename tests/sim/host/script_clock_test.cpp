// The frame clock as a script sees it: when a waiting script resumes, how
// the game timer advances and wraps.
#include <gtest/gtest.h>

#include <vector>

#include "sim/host/simulation.h"
#include "src/host/host_api.h"
#include "tests/support/sim_harness.h"

namespace {

struct Resume {
  std::int64_t frame;
  std::int32_t time;
};

std::vector<Resume> RunWaits(std::string_view scenario, std::vector<std::uint32_t> waits,
                             std::int64_t frames) {
  sim::Simulation simulation(test::ScenarioFrom(scenario));
  std::vector<Resume> resumes;
  simulation.SetScript([&] {
    sim::World& world = sim::Simulation::Active()->GetWorld();
    resumes.push_back({world.clock.frame, world.clock.gameTimer});
    for (std::uint32_t ms : waits) {
      scriptWait(ms);
      resumes.push_back({world.clock.frame, world.clock.gameTimer});
    }
    for (;;) scriptWait(0);
  });
  EXPECT_TRUE(simulation.RunFrames(frames)) << simulation.Fault();
  return resumes;
}

TEST(ScriptFibre, StartsInTheFirstFrameAndWaitZeroMeansNextFrame) {
  const auto r = RunWaits(R"({"startGameTime": 1000})", {0, 0, 0}, 10);
  ASSERT_EQ(r.size(), 4U);
  EXPECT_EQ(r[0].frame, 0);
  EXPECT_EQ(r[0].time, 1000);
  EXPECT_EQ(r[1].frame, 1);
  EXPECT_EQ(r[2].frame, 2);
  EXPECT_EQ(r[3].frame, 3);
}

TEST(ScriptFibre, WaitResumesAtTheFirstFrameWithAtLeastThatManyMs) {
  // 60 fps: frames at 0, 16, 33, 50, 66, 83, 100 ms.
  const auto r = RunWaits(R"({"startGameTime": 0})", {1, 50, 10}, 20);
  ASSERT_EQ(r.size(), 4U);
  EXPECT_EQ(r[1].frame, 1) << "1 ms: the next frame, 16 ms later";
  EXPECT_EQ(r[2].frame, 4) << "50 ms after frame 1 (16 ms) is due at 66 ms, frame 4";
  EXPECT_EQ(r[2].time, 66);
  EXPECT_EQ(r[3].frame, 5) << "10 ms after 66 ms is due at 76 ms: frame 5 at 83 ms";
}

TEST(ScriptFibre, SixtyFramesMakeOneSecond) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"startGameTime": 5000})"));
  simulation.SetScript([] {
    for (;;) scriptWait(0);
  });
  ASSERT_TRUE(simulation.RunFrames(61));
  EXPECT_EQ(simulation.GetWorld().clock.gameTimer, 6000);
}

TEST(ScriptFibre, GameTimerWrapsToNegative) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"startGameTime": 2147483637})"));
  simulation.SetScript([] {
    for (;;) scriptWait(0);
  });
  ASSERT_TRUE(simulation.RunFrames(2));
  EXPECT_EQ(simulation.GetWorld().clock.gameTimer, INT32_MIN + 5) << "2147483637 + 16 wraps";
}

TEST(ScriptFibre, TraceStampsFrameAndTime) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"startGameTime": 100000})"));
  simulation.SetScript([] {
    for (;;) scriptWait(0);
  });
  ASSERT_TRUE(simulation.RunFrames(3));
  const auto waits = simulation.GetTrace().Find("scriptWait");
  ASSERT_EQ(waits.size(), 3U);
  EXPECT_EQ(waits[2]->frame, 2);
  EXPECT_EQ(waits[2]->time, 100033);
  EXPECT_EQ(sim::Trace::ToJson(*waits[0]),
            R"({"frame":0,"time":100000,"host":"scriptWait","ms":0})");
}

}  // namespace
