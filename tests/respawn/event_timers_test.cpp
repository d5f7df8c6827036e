// Event timers against the simulated game clock: wrap-safe elapsed time,
// exact readings, restarts in place, the idle timer for unknown ids, and the
// wall clock's unit conversion.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/host_api.h"
#include "src/host/process_state.h"
#include "src/respawn/event_timers.h"
#include "tests/support/sim_harness.h"

namespace {

std::int64_t SystemClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class EventTimers : public ::testing::Test {
 protected:
  // The list is process-wide: every test starts from an empty one.
  void SetUp() override { rebound::testing_seam::ResetProcessStateForTesting(); }
  void TearDown() override { rebound::testing_seam::ResetProcessStateForTesting(); }

  // Runs `script` as the simulation's script for `frames` frames.
  static sim::Simulation* Run(sim::Simulation& simulation, std::function<void()> script,
                              std::int64_t frames) {
    simulation.SetScript([script = std::move(script)] {
      script();
      for (;;) scriptWait(0);
    });
    EXPECT_TRUE(simulation.RunFrames(frames)) << simulation.Fault();
    return &simulation;
  }
};

TEST_F(EventTimers, ElapsedSurvivesTimerWrap) {
  // 125 fps: 8 ms per frame. Frame 0 is 3 ms before the signed 32-bit game
  // timer wraps, frame 1 is 5 ms after it.
  sim::Simulation simulation(test::ScenarioFrom(R"({"fps": 125, "startGameTime": 2147483645})"));
  std::int32_t elapsed = 0;
  Run(
      simulation,
      [&] {
        rebound::StartEventTimer(7);
        scriptWait(0);
        elapsed = rebound::EventTimerElapsed(rebound::FindEventTimer(7));
      },
      3);

  const auto reads = simulation.GetTrace().Find("GET_GAME_TIMER");
  ASSERT_EQ(reads.size(), 2U);
  EXPECT_EQ(reads[0]->result->integer, INT32_MAX - 2);
  EXPECT_EQ(reads[1]->result->integer, INT32_MIN + 5) << "the game timer did wrap";
  EXPECT_EQ(rebound::eventTimers.at(0).timer.gameTimeMs, INT32_MAX - 2);
  EXPECT_EQ(elapsed, 8);
}

TEST_F(EventTimers, ElapsedIsExactGameTimeSoStrictThresholdsPassOneMsLate) {
  // 1000 fps: frame n is n ms after the stamp taken in frame 0.
  sim::Simulation simulation(test::ScenarioFrom(R"({"fps": 1000, "startGameTime": 5000})"));
  std::vector<std::int32_t> readings;
  Run(
      simulation,
      [&] {
        rebound::StartEventTimer(0);
        for (int frame = 1; frame <= 302; ++frame) {
          scriptWait(0);
          if (frame >= 299)
            readings.push_back(rebound::EventTimerElapsed(rebound::FindEventTimer(0)));
        }
      },
      305);
  ASSERT_EQ(readings, (std::vector<std::int32_t>{299, 300, 301, 302}));
  // What a caller waiting for "more than 300 ms" sees, frame by frame.
  std::vector<bool> passed;
  for (std::int32_t ms : readings) passed.push_back(ms > 300);
  EXPECT_EQ(passed, (std::vector<bool>{false, false, true, true}));
}

TEST_F(EventTimers, RestartKeepsTheEntryInItsFirstPosition) {
  // 60 fps from 10000: frame 0 at 10000 ms, frame 1 at 10016 ms.
  sim::Simulation simulation(test::ScenarioFrom(R"({"startGameTime": 10000})"));
  const std::int64_t before = SystemClockMs();
  rebound::EventTimer copy;
  Run(
      simulation,
      [&] {
        rebound::StartEventTimer(0);
        rebound::StartEventTimer(1);
        scriptWait(0);
        copy = rebound::StartEventTimer(0);
      },
      3);
  const std::int64_t after = SystemClockMs();

  ASSERT_EQ(rebound::eventTimers.size(), 2U) << "a known id is restarted, not appended";
  const auto& first = rebound::eventTimers[0];
  const auto& second = rebound::eventTimers[1];
  EXPECT_EQ(first.timerId, 0);
  EXPECT_EQ(second.timerId, 1);
  EXPECT_EQ(first.timer.gameTimeMs, 10016) << "restarted in frame 1";
  EXPECT_EQ(second.timer.gameTimeMs, 10000) << "untouched since frame 0";
  EXPECT_FALSE(first.timer.stopped);
  EXPECT_FALSE(second.timer.stopped);
  EXPECT_GE(first.timer.wallClockMs, second.timer.wallClockMs);
  EXPECT_GE(second.timer.wallClockMs, before);
  EXPECT_LE(first.timer.wallClockMs, after);
  EXPECT_EQ(copy.gameTimeMs, first.timer.gameTimeMs) << "the start returns the new stamps";
  EXPECT_EQ(copy.wallClockMs, first.timer.wallClockMs);
  EXPECT_EQ(simulation.GetTrace().Count("GET_GAME_TIMER"), 3U) << "one reading per start";
}

TEST_F(EventTimers, UnknownIdReadsTheIdleTimerWhichNothingWrites) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"startGameTime": 100000})"));
  std::vector<std::int32_t> elapsed;
  std::vector<const rebound::EventTimer*> found;
  Run(
      simulation,
      [&] {
        found.push_back(&rebound::FindEventTimer(5));
        elapsed.push_back(rebound::EventTimerElapsed(rebound::FindEventTimer(5)));
        rebound::StartEventTimer(0);
        rebound::StartEventTimer(1);
        rebound::StartEventTimer(0);
        found.push_back(&rebound::FindEventTimer(5));
        found.push_back(&rebound::FindEventTimer(-1));
      },
      2);

  for (const rebound::EventTimer* timer : found) EXPECT_EQ(timer, &rebound::idleEventTimer);
  EXPECT_EQ(rebound::idleEventTimer.gameTimeMs, 0);
  EXPECT_EQ(rebound::idleEventTimer.wallClockMs, 0);
  EXPECT_TRUE(rebound::idleEventTimer.stopped);
  // Stamped at 0, so the whole game timer has elapsed and any lower
  // threshold passes at once.
  EXPECT_EQ(elapsed, std::vector<std::int32_t>{100000});
  EXPECT_EQ(rebound::eventTimers.size(), 2U) << "finding changes nothing";
}

TEST(WallClock, HundredNanosecondUnitsTruncateTowardZero) {
  struct Case {
    std::int64_t ticks;
    std::int64_t ms;
  };
  for (const Case& c :
       {Case{0, 0}, Case{9999, 0}, Case{10000, 1}, Case{19999, 1}, Case{-9999, 0}, Case{-10000, -1},
        Case{-10001, -1}, Case{17'000'000'000'000'000LL, 1'700'000'000'000LL}}) {
    EXPECT_EQ(rebound::WallClockMsFromTicks(c.ticks), c.ms) << c.ticks;
  }
}

}  // namespace
