// The host restarting the script, and unloading the plug-in, at any frame of
// a death cycle: the built module loaded in this process, one run per frame.
// A restart drops the script's fibre where it stands, as the real host does
// after a game reload, and starts the script entry again; the module's state
// survives. An unload stops the script, detaches and unloads the module.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/base/alloc_counter.h"
#include "sim/host/simulation.h"
// The script below waits through the host's scriptWait, under its decorated
// name on Windows.
#include "src/host/host_api.h"
#include "tests/support/dropped_stack.h"
#include "tests/support/sim_harness.h"

namespace {

// One death with the shard's movie still loading when it is due (so the
// script waits for it), taps that fill the bar in well under a second, a
// search that takes a few frames and a single result, so that every wait of
// the flow falls in some frame of the cycle.
constexpr const char* kDeathCycle = R"({
  "frames": 100000,
  "player": {"position": [215.0, -810.0, 30.7]},
  "world": {"spawnSearch": {"frames": 3, "outcome": "complete", "results": [[230.0, -790.0, 30.5]]},
            "scaleform": {"loadFrames": 60}},
  "events": [{"frame": 5, "health": 0},
             {"from": 60, "to": 1000, "tapEveryFrames": 2, "control": 223}]})";

// A restarted flow may take a few frames longer than an undisturbed one (a
// respawn stopped halfway is done again): it must be settled this long after
// the undisturbed run settled.
constexpr std::int64_t kSettleFrames = 60;

sim::SimOptions CheapRun() {
  return sim::SimOptions{.recordTrace = false, .keepDrawings = false, .seed = 7};
}

sim::Scenario CycleWith(const sim::ScheduledEvent& hostEvent) {
  static const sim::Scenario cycle = test::ScenarioFrom(kDeathCycle);
  sim::Scenario scenario = cycle;
  const auto at = std::upper_bound(
      scenario.events.begin(), scenario.events.end(), hostEvent.frame,
      [](std::int64_t frame, const sim::ScheduledEvent& e) { return frame < e.frame; });
  scenario.events.insert(at, hostEvent);
  return scenario;
}

// The frame in which the undisturbed cycle has settled: back to watching after
// the respawn, and the screen faded in again.
std::int64_t SettledFrame() {
  sim::Simulation simulation(test::ScenarioFrom(kDeathCycle), CheapRun());
  EXPECT_TRUE(simulation.LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation.Fault();
  bool died = false;
  for (std::int64_t f = 0; f < 2000; ++f) {
    EXPECT_TRUE(simulation.RunFrames(1)) << simulation.Fault();
    const sim::World& world = simulation.GetWorld();
    died = died || simulation.Flow().Phase() != sim::FlowPhase::Watching;
    if (died && simulation.Flow().Phase() == sim::FlowPhase::Watching &&
        world.screen.fade == sim::FadeState::FadedIn) {
      return f;
    }
  }
  ADD_FAILURE() << "the undisturbed cycle never settled";
  return 0;
}

// The game as a player finds it once the flow has had its time: playing,
// alive and whole, nothing of the respawn left open.
void ExpectSettled(const sim::Simulation& simulation) {
  const sim::World& world = simulation.GetWorld();
  EXPECT_EQ(simulation.Flow().Phase(), sim::FlowPhase::Watching);
  EXPECT_EQ(simulation.Flow().DeathCount(), 1U);
  EXPECT_FALSE(world.player.dead);
  EXPECT_EQ(world.player.health, world.player.maxHealth);
  EXPECT_FALSE(world.player.frozen);
  EXPECT_FALSE(world.player.policeIgnore);
  EXPECT_FALSE(world.state.gamePaused);
  EXPECT_FALSE(world.state.deathArrestRestartPaused);
  EXPECT_EQ(world.state.timeScale, 1.0F);
  EXPECT_TRUE(world.state.hudShown);
  EXPECT_TRUE(world.state.radarShown);
  EXPECT_EQ(world.state.gameRestarts, 0) << "the game ran its own restart";
  EXPECT_EQ(world.screen.fade, sim::FadeState::FadedIn);
  EXPECT_EQ(world.spawn.state, sim::SearchState::None) << "a spawn search left open";
  // A restart after the game was paused for the revival finds the game still
  // paused: the point found before serves, no search is run in a paused game.
  EXPECT_EQ(world.spawn.searchesStartedPaused, 0);
  // Nor is a search that a dropped script left open started over.
  EXPECT_EQ(world.spawn.searchesDropped, 0);
  for (const sim::ScaleformMovie& movie : world.scaleform.movies) {
    EXPECT_TRUE(movie.released) << "movie " << movie.handle << " still held";
  }
}

TEST(HostRestart, ScriptStartsAgainInTheFrameWithItsStartUpAndTheStateKept) {
  sim::Simulation simulation(CycleWith(sim::RestartScriptEvent(40)));
  ASSERT_TRUE(simulation.LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation.Fault();
  ASSERT_TRUE(simulation.RunFrames(41)) << simulation.Fault();
  EXPECT_EQ(simulation.ScriptStarts(), 2);
  const auto starts = simulation.GetTrace().Find("scriptStart");
  ASSERT_EQ(starts.size(), 2U);
  EXPECT_EQ(starts[0]->frame, 0);
  EXPECT_EQ(starts[1]->frame, 40);
  // Frame 40 opens with the start and the start-up, then a tick of a flow
  // that is still past the death (the keep-alive block), not a fresh one.
  const std::vector<std::string> frame40 = test::EntriesInFrame(simulation.GetTrace(), 40);
  ASSERT_GE(frame40.size(), 10U);
  EXPECT_EQ(frame40[0], "scriptStart");
  EXPECT_EQ(frame40[1], "BEGIN_TEXT_COMMAND_THEFEED_POST");
  EXPECT_EQ(frame40[8], "FORCE_GAME_STATE_PLAYING");
  EXPECT_EQ(simulation.GetWorld().feed.tickers.size(), 2U);
  EXPECT_NE(simulation.DroppedScriptFibre(), nullptr);
  EXPECT_EQ(simulation.Flow().Phase(), sim::FlowPhase::ShardDelay);
}

TEST(HostUnload, StopsTheScriptDetachesAndEndsTheRunInItsFrame) {
  sim::Simulation simulation(CycleWith(sim::UnloadEvent(30)));
  ASSERT_TRUE(simulation.LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation.Fault();
  EXPECT_TRUE(simulation.Run()) << simulation.Fault();
  EXPECT_TRUE(simulation.Ended());
  EXPECT_FALSE(simulation.PluginLoaded());
  EXPECT_EQ(simulation.FramesRun(), 31);
  EXPECT_EQ(test::EntriesInFrame(simulation.GetTrace(), 30),
            (std::vector<std::string>{"detach", "scriptUnregister", "keyboardHandlerUnregister"}));
}

TEST(HostRestart, AtEveryFrameOfADeathCycleTheFlowStillSettles) {
  const std::int64_t settled = SettledFrame();
  ASSERT_GT(settled, 200) << "the cycle should hold every wait of the flow";
  for (std::int64_t f = 0; f <= settled; ++f) {
    SCOPED_TRACE("restart in frame " + std::to_string(f));
    sim::Simulation simulation(CycleWith(sim::RestartScriptEvent(f)), CheapRun());
    ASSERT_TRUE(simulation.LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation.Fault();
    ASSERT_TRUE(simulation.RunFrames(settled + kSettleFrames)) << simulation.Fault();
    // In frame 0 the host had not started the script yet.
    EXPECT_EQ(simulation.ScriptStarts(), f == 0 ? 1 : 2);
    ExpectSettled(simulation);
    simulation.UnloadPlugin();
    ASSERT_FALSE(simulation.Faulted()) << simulation.Fault();
  }
}

// The plug-in keeps no heap object in a local across a wait (its waits hold
// only numbers, handles and positions), so a dropped stack holds none of its
// blocks, and after the unload none is left at all.
TEST(HostUnload, AtEveryFrameOfADeathCycleNothingIsLeftButWhatTheStackHeld) {
  const std::int64_t settled = SettledFrame();
  const std::vector<std::string> expectedHeld = {};
  for (std::int64_t f = 0; f <= settled; ++f) {
    SCOPED_TRACE("unload in frame " + std::to_string(f));
    sim::TrackPluginBlocks(true);
    {
      sim::Simulation simulation(CycleWith(sim::UnloadEvent(f)), CheapRun());
      ASSERT_TRUE(simulation.LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation.Fault();
      ASSERT_TRUE(simulation.Run()) << simulation.Fault();
      EXPECT_TRUE(simulation.Ended());
      EXPECT_FALSE(simulation.PluginLoaded());
      const sim::Fibre* dropped = simulation.DroppedScriptFibre();
      // In frame 0 the script had not started: nothing was dropped.
      EXPECT_EQ(dropped != nullptr, f > 0);
      const test::LiveBlockAccount account = test::AccountForLiveBlocks(
          dropped != nullptr ? dropped->StackInUse() : std::span<const unsigned char>(),
          sim::LivePluginBlocks());
      std::vector<std::string> held;
      for (const sim::LiveBlock& block : account.heldByStack) {
        held.push_back(test::DescribeBlock(block));
        sim::FreeLiveBlock(block);  // the expected leak, accounted for
      }
      EXPECT_EQ(held, expectedHeld);
      for (const sim::LiveBlock& block : account.leaked) {
        ADD_FAILURE() << "leaked: " << test::DescribeBlock(block);
      }
    }
    sim::TrackPluginBlocks(false);
  }
}

// The check itself: a script whose first run hides a block where no stack
// reaches it (the host then drops that run, and with it every copy of the
// address its stack and registers held), and whose second run holds a string
// and a vector across its wait when the host unloads the plug-in.
std::uintptr_t hiddenBlock = 0;
int runs = 0;

TEST(DroppedStack, NamesWhatTheStackHeldAndFindsWhatNothingHolds) {
  sim::TrackPluginBlocks(true);
  runs = 0;
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 10,
      "events": [{"frame": 2, "restartScript": true}, {"frame": 4, "unload": true}]})"),
                             CheapRun());
  simulation.SetScript([] {
    if (runs++ == 0) {
      hiddenBlock = reinterpret_cast<std::uintptr_t>(new int[3]) ^ ~std::uintptr_t{0};
      for (;;) scriptWait(0);
    }
    const std::string held(40, 'h');
    std::vector<std::string> list = {std::string(24, 'v')};
    for (;;) scriptWait(0);
  });
  ASSERT_TRUE(simulation.Run()) << simulation.Fault();
  ASSERT_NE(simulation.DroppedScriptFibre(), nullptr);
  const auto stack = simulation.DroppedScriptFibre()->StackInUse();
  if (stack.empty()) GTEST_SKIP() << "the system keeps the fiber's stack to itself";
  const test::LiveBlockAccount account = test::AccountForLiveBlocks(stack, sim::LivePluginBlocks());
  const std::string heldText(40, 'h');
  const std::string elementText(24, 'v');
  std::vector<std::string> held;
  for (const sim::LiveBlock& block : account.heldByStack)
    held.push_back(test::DescribeBlock(block, {heldText, elementText}));
  std::sort(held.begin(), held.end());
  // The vector's one element is reached through the vector's own block, which
  // holds the element's address and is named by its size alone.
  EXPECT_EQ(held,
            (std::vector<std::string>{"25-byte block \"" + elementText + "\"", "32-byte block",
                                      "41-byte block \"" + heldText + "\""}));
  ASSERT_EQ(account.leaked.size(), 1U);
  EXPECT_EQ(account.leaked[0].address,
            reinterpret_cast<const void*>(hiddenBlock ^ ~std::uintptr_t{0}));
  for (const sim::LiveBlock& block : account.heldByStack) sim::FreeLiveBlock(block);
  delete[] reinterpret_cast<int*>(hiddenBlock ^ ~std::uintptr_t{0});
  sim::TrackPluginBlocks(false);
}

}  // namespace
