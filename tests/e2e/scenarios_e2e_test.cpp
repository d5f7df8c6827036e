// Every shipped scenario, run with the built plug-in module loaded the way the
// real host loads it, and checked from what the game saw.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "sim/report/report.h"
#include "sim/report/report_collector.h"

namespace {

std::string ScenarioPath(const std::string& name) {
  return std::string(REBOUND_SOURCE_DIR) + "/scenarios/" + name + ".json";
}

struct ScenarioRun {
  std::unique_ptr<sim::Simulation> simulation;

  explicit ScenarioRun(const std::string& name, bool withPlugin = true,
                       sim::SimOptions options = {})
      : ScenarioRun(sim::Scenario::Load(ScenarioPath(name)), withPlugin, options) {}
  ScenarioRun(sim::Scenario scenario, bool withPlugin, sim::SimOptions options = {}) {
    const std::string name = scenario.name;
    simulation = std::make_unique<sim::Simulation>(std::move(scenario), options);
    if (withPlugin) {
      EXPECT_TRUE(simulation->LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation->Fault();
    }
    EXPECT_TRUE(simulation->Run()) << name << ": " << simulation->Fault();
    if (withPlugin) simulation->UnloadPlugin();
    EXPECT_FALSE(simulation->Faulted()) << simulation->Fault();
  }

  const sim::FlowObserver& Flow() const { return simulation->Flow(); }
  const sim::World& World() const { return simulation->GetWorld(); }
  const sim::Trace& Trace() const { return simulation->GetTrace(); }
  const sim::DeathRecord& OnlyDeath() const {
    EXPECT_EQ(Flow().Deaths().size(), 1U);
    return Flow().Deaths().front();
  }
};

double Distance(const double (&a)[3], const double (&b)[3]) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

void ExpectRespawnedAliveAndReleased(const ScenarioRun& run) {
  EXPECT_FALSE(run.World().player.dead);
  EXPECT_EQ(run.World().player.health, run.World().player.maxHealth);
  EXPECT_FALSE(run.World().player.frozen);
  EXPECT_EQ(run.World().state.gameRestarts, 0) << "the game never restarted the player itself";
  EXPECT_FALSE(run.World().state.deathArrestRestartPaused);
  EXPECT_FALSE(run.World().state.gamePaused);
  for (const auto& movie : run.World().scaleform.movies)
    EXPECT_TRUE(movie.released) << movie.handle;
}

TEST(Scenarios, PlainDeathIsTakenOverAndRespawnedNearby) {
  ScenarioRun run("plain-death");
  const sim::DeathRecord& d = run.OnlyDeath();
  EXPECT_EQ(d.deathFrame, 60);
  ASSERT_GE(d.respawnFrame, 0);
  EXPECT_LT(d.deathFrame, d.shardFrame);
  EXPECT_LT(d.shardFrame, d.fadeOutFrame);
  EXPECT_LT(d.fadeOutFrame, d.respawnFrame);
  // More than 300 ms, then more than 400 ms, before the shard: at least 43 frames.
  EXPECT_GE(d.shardFrame - d.deathFrame, 43);
  EXPECT_EQ(d.searchOutcome, "search");
  EXPECT_LE(Distance(d.deathPosition, d.spawnPosition), 300.0);
  EXPECT_GE(d.spawnHeading, 0.0);
  EXPECT_LE(d.spawnHeading, 180.0);
  ExpectRespawnedAliveAndReleased(run);
  EXPECT_EQ(run.World().player.position.x, static_cast<float>(d.spawnPosition[0]));
  EXPECT_EQ(run.World().screen.level, 0.0) << "faded back in by the end";
}

TEST(Scenarios, TappingFillsTheBarSooner) {
  const sim::DeathRecord p = ScenarioRun("plain-death").OnlyDeath();
  ScenarioRun tapping("tapping");
  const auto& t = tapping.OnlyDeath();
  EXPECT_GT(t.taps, 10);
  EXPECT_LT(t.fadeOutFrame - t.shardFrame, p.fadeOutFrame - p.shardFrame);
  ExpectRespawnedAliveAndReleased(tapping);
}

TEST(Scenarios, LateMovieDelaysTheShardUntilItLoads) {
  ScenarioRun run("late-movie");
  const auto& d = run.OnlyDeath();
  const auto& movie = run.World().scaleform.movies.at(0);
  ASSERT_TRUE(movie.loadFrame.has_value());
  EXPECT_EQ(d.shardFrame, *movie.loadFrame);
  // While the flow waits, the only native each frame is the load test.
  for (std::int64_t f = d.deathFrame + 50; f < *movie.loadFrame; ++f) {
    std::size_t natives = 0;
    for (const auto& e : run.Trace().Entries()) {
      if (e.frame == f && e.native != nullptr) {
        ++natives;
        EXPECT_EQ(e.native->name, "HAS_SCALEFORM_MOVIE_LOADED") << f;
      }
    }
    EXPECT_EQ(natives, 1U) << f;
  }
  ExpectRespawnedAliveAndReleased(run);
}

TEST(Scenarios, FailedSearchFallsBackToTheClosestRoadNodeWithHeadingZero) {
  ScenarioRun run("road-node-fallback");
  const auto& d = run.OnlyDeath();
  EXPECT_EQ(d.searchOutcome, "road node");
  EXPECT_EQ(d.spawnPosition[0], 260.0);
  EXPECT_EQ(d.spawnPosition[1], -790.0);
  EXPECT_EQ(d.spawnHeading, 0.0) << "the node's own heading is not used";
  ExpectRespawnedAliveAndReleased(run);
}

TEST(Scenarios, BothFailingPlacesThePlayerWhereTheyDiedFacingNorth) {
  ScenarioRun run("both-fail");
  const auto& d = run.OnlyDeath();
  EXPECT_EQ(d.searchOutcome, "place of death");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(d.spawnPosition[i], d.deathPosition[i]) << i;
  EXPECT_EQ(d.spawnHeading, 0.0);
  EXPECT_GT(d.distance, 300.0) << "the zero position is far from the death";
  ExpectRespawnedAliveAndReleased(run);
}

TEST(Scenarios, SpawnPointFartherThan300MetresIsReplacedByThePlaceOfDeath) {
  ScenarioRun run("far-spawn");
  const auto& d = run.OnlyDeath();
  EXPECT_EQ(d.distance, 400.0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(d.spawnPosition[i], d.deathPosition[i]) << i;
  EXPECT_EQ(d.spawnHeading, 0.0);
  ExpectRespawnedAliveAndReleased(run);
}

TEST(Scenarios, DeathAcrossTheTimerWrapKeepsItsTimings) {
  sim::DeathRecord d;
  {
    ScenarioRun run("timer-wrap");
    d = run.OnlyDeath();
    ASSERT_GE(d.respawnFrame, 0);
    bool wrapped = false;
    for (const auto& e : run.Trace().Entries()) {
      wrapped = wrapped || (e.frame > d.deathFrame && e.frame < d.shardFrame && e.time < 0);
    }
    EXPECT_TRUE(wrapped) << "the timer wrapped while the flow was timing its pauses";
    ExpectRespawnedAliveAndReleased(run);
  }
  // The same frame counts as a death far from the wrap.
  const sim::DeathRecord p = ScenarioRun("plain-death").OnlyDeath();
  EXPECT_NEAR(static_cast<double>(d.shardFrame - d.deathFrame),
              static_cast<double>(p.shardFrame - p.deathFrame), 1.0);
  EXPECT_NEAR(static_cast<double>(d.fadeOutFrame - d.shardFrame),
              static_cast<double>(p.fadeOutFrame - p.shardFrame), 2.0);
}

TEST(Scenarios, TwoDeathsRunTheWholeSequenceTwice) {
  ScenarioRun run("two-deaths");
  ASSERT_EQ(run.Flow().Deaths().size(), 2U);
  for (const auto& d : run.Flow().Deaths()) {
    EXPECT_GE(d.respawnFrame, 0);
    EXPECT_GE(d.shardFrame, 0);
  }
  EXPECT_EQ(run.Trace().Count("REQUEST_SCALEFORM_MOVIE"), 2U);
  EXPECT_EQ(run.World().scaleform.movies.size(), 2U);
  ExpectRespawnedAliveAndReleased(run);
}

TEST(Scenarios, HealingOrKillingDuringTheFlowDoesNotStopIt) {
  ScenarioRun run("healed-and-killed");
  const auto& d = run.OnlyDeath();
  EXPECT_GE(d.respawnFrame, 0);
  ExpectRespawnedAliveAndReleased(run);
}

TEST(Scenarios, KeyboardMessagesThroughoutChangeNothing) {
  const sim::DeathRecord p = ScenarioRun("plain-death").OnlyDeath();
  ScenarioRun keys("keyboard-throughout");
  EXPECT_GT(keys.Trace().Count("keyboard"), 40U);
  const auto& k = keys.OnlyDeath();
  EXPECT_EQ(k.shardFrame, p.shardFrame);
  EXPECT_EQ(k.fadeOutFrame, p.fadeOutFrame);
  ExpectRespawnedAliveAndReleased(keys);
}

// Restarted in the shard's wait, in the revival and after the fade-in: each
// death still ends with the player placed, whole and released; the unload
// in the third death's bar ends the run in its frame.
TEST(Scenarios, RestartsInTheFlowsWaitsStillRespawnAndTheUnloadEndsTheRun) {
  ScenarioRun run("restarts");
  EXPECT_EQ(run.simulation->ScriptStarts(), 4);
  EXPECT_EQ(run.simulation->FramesRun(), 1101);
  EXPECT_EQ(run.Trace().Count("detach"), 1U);
  ASSERT_EQ(run.Flow().Deaths().size(), 3U);
  for (int i = 0; i < 2; ++i) {
    const sim::DeathRecord& d = run.Flow().Deaths()[i];
    EXPECT_GT(d.respawnFrame, d.deathFrame) << i;
    EXPECT_EQ(d.searchOutcome, "search") << i;
    EXPECT_NEAR(d.spawnPosition[0], 250.0, 1e-3) << i;
  }
  EXPECT_EQ(run.Flow().Deaths()[2].respawnFrame, -1) << "unloaded before the third respawn";
  EXPECT_EQ(run.World().player.health, 1) << "held at 1 health by the flow when it was unloaded";
  EXPECT_EQ(run.World().feed.tickers.size(), 4U);
}

// The game misbehaving around one death: the plug-in asks for the player's
// handles afresh, so the character switch halfway changes nothing it does;
// the evicted shard just stops showing; the hitches only move its timers;
// the fixed answer opens the shard's message line with a null entry.
TEST(Scenarios, AMisbehavingWorldStillGetsOneWholeRespawn) {
  ScenarioRun run("misbehaving-world");
  const sim::DeathRecord& d = run.OnlyDeath();
  EXPECT_EQ(d.searchOutcome, "search");
  EXPECT_NEAR(d.spawnPosition[0], 260.0, 1e-3);
  EXPECT_EQ(d.taps, 20) << "a fresh press in each frame from 160 until the bar was full";
  ExpectRespawnedAliveAndReleased(run);
  EXPECT_EQ(run.World().player.pedHandle, 9);
  EXPECT_EQ(run.World().player.staleHandleCalls, 0) << "the plug-in never used a former handle";
  const sim::ScaleformMovie& shard = run.World().scaleform.movies.at(0);
  EXPECT_TRUE(shard.evicted);
  EXPECT_LT(shard.lastDrawnFrame, 150) << "nothing drawn after the eviction";
  ASSERT_EQ(shard.methods.size(), 2U);
  EXPECT_TRUE(shard.methods[1].params[1].nullEntry);
  EXPECT_EQ(run.Trace().Count("keyboard"), 3U);
}

TEST(Scenarios, WithoutThePluginTheGameRestartsThePlayerItself) {
  ScenarioRun run("plain-death", /*withPlugin=*/false);
  EXPECT_TRUE(run.Flow().Deaths().empty());
  EXPECT_EQ(run.World().state.gameRestarts, 1);
  EXPECT_FALSE(run.World().player.dead);
}

TEST(Scenarios, IdleFramesCostTwoNativeCalls) {
  ScenarioRun run("plain-death");
  const auto& d = run.OnlyDeath();
  std::vector<std::uint32_t> calls(static_cast<std::size_t>(run.simulation->FramesRun()), 0);
  for (const auto& e : run.Trace().Entries()) {
    if (e.native != nullptr && e.frame >= 0) ++calls.at(static_cast<std::size_t>(e.frame));
  }
  // Frame 0 also posts the ticker and applies the settings.
  EXPECT_EQ(calls.at(0), 9U);
  for (std::int64_t f = 1; f < d.deathFrame; ++f)
    EXPECT_EQ(calls.at(static_cast<std::size_t>(f)), 2U) << f;
  for (auto f = static_cast<std::size_t>(d.respawnFrame) + 1; f < calls.size(); ++f) {
    EXPECT_EQ(calls[f], 2U) << f;
  }
}

// The flow is followed from the natives it looks at, whether or not a trace is
// kept: a run without one (as rebound-sim makes) tells the same story.
TEST(Scenarios, FlowIsTheSameWithoutATrace) {
  for (const char* name : {"two-deaths", "tapping", "road-node-fallback"}) {
    SCOPED_TRACE(name);
    // One simulation at a time: each run's flow is kept after it ends.
    const auto runFlow = [name](bool recordTrace, std::size_t& notes) {
      const ScenarioRun run(name, true, sim::SimOptions{.recordTrace = recordTrace});
      EXPECT_EQ(run.Trace().Entries().empty(), !recordTrace);
      notes = run.World().timeline.Entries().size();
      return run.Flow();
    };
    std::size_t tracedNotes = 0;
    std::size_t untracedNotes = 0;
    const sim::FlowObserver a = runFlow(true, tracedNotes);
    const sim::FlowObserver b = runFlow(false, untracedNotes);
    ASSERT_EQ(a.Deaths().size(), b.Deaths().size());
    for (std::size_t i = 0; i < a.Deaths().size(); ++i) {
      const sim::DeathRecord& x = a.Deaths()[i];
      const sim::DeathRecord& y = b.Deaths()[i];
      EXPECT_EQ(x.deathFrame, y.deathFrame);
      EXPECT_EQ(x.shardFrame, y.shardFrame);
      EXPECT_EQ(x.fadeOutFrame, y.fadeOutFrame);
      EXPECT_EQ(x.respawnFrame, y.respawnFrame);
      EXPECT_EQ(x.taps, y.taps);
      EXPECT_EQ(x.searchOutcome, y.searchOutcome);
      EXPECT_EQ(x.distance, y.distance);
    }
    for (std::size_t p = 0; p < sim::kFlowPhaseCount; ++p) {
      EXPECT_EQ(a.Costs()[p].frames, b.Costs()[p].frames) << sim::FlowPhaseName(sim::FlowPhase(p));
      EXPECT_EQ(a.Costs()[p].calls, b.Costs()[p].calls);
    }
    EXPECT_EQ(tracedNotes, untracedNotes);
  }
}

// A search that reports results its list does not hold: whichever index the
// plug-in draws lies past the list, leaves the plug-in's variables as they
// were, the timeline says so once for the search, and the respawn goes on.
TEST(Scenarios, ASearchReportingMoreResultsThanItHoldsIsNotedOnceAndTheRunGoesOn) {
  ScenarioRun run(sim::Scenario::Parse("miscount.json", R"({
    "frames": 720,
    "player": {"health": 200, "position": [215.0, -810.0, 30.7]},
    "world": {"spawnSearch": {"frames": 5, "results": [], "resultCount": 4}},
    "events": [{"frame": 60, "health": 0}]
  })"),
                  true);
  run.OnlyDeath();
  ExpectRespawnedAliveAndReleased(run);
  std::size_t notes = 0;
  for (const sim::TimelineEntry& e : run.World().timeline.Entries()) {
    if (e.text.find("the world contradicts itself: the search reported 4 results but holds 0") !=
        std::string::npos)
      ++notes;
  }
  EXPECT_EQ(notes, 1U);
  EXPECT_EQ(run.simulation->Summary().searchesMiscounted, 1);
}

// NaN and infinities where the scenario puts floats: the world, the plug-in
// and the report take them without a fault, and the run reaches its end.
TEST(Scenarios, NonFinitePositionsAndHeadingsRunToTheEndAndIntoTheReport) {
  sim::SimOptions options;
  options.recordTrace = false;
  sim::Simulation simulation(sim::Scenario::Parse("non-finite.json", R"({
    "frames": 720,
    "player": {"position": ["NaN", "Infinity", 30.0], "heading": "NaN"},
    "world": {"spawnSearch": {"frames": 5, "results": [["NaN", 0, 0], [1, "-Infinity", 2]]},
              "roadNodes": [{"position": ["Infinity", 0, "NaN"], "heading": "-Infinity"}]},
    "events": [{"frame": 60, "health": 0}, {"frame": 400, "position": ["NaN", "NaN", "NaN"]},
               {"frame": 500, "health": 0}]
  })"),
                             options);
  sim::ReportCollector collector(true);
  simulation.SetWatcher(&collector);
  ASSERT_TRUE(simulation.LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation.Fault();
  EXPECT_TRUE(simulation.Run()) << simulation.Fault();
  simulation.UnloadPlugin();
  EXPECT_EQ(simulation.FramesRun(), 720);
  EXPECT_GE(simulation.Flow().Deaths().size(), 1U);
  std::ostringstream page;
  sim::WriteHtmlReport(page, simulation, collector,
                       [](const sim::FrameDrawing*, std::int64_t, float) { return std::string(); });
  EXPECT_NE(page.str().find("</html>"), std::string::npos);
  EXPECT_EQ(page.str().find("=\"nan"), std::string::npos) << "no NaN in a picture's coordinates";
}

}  // namespace
