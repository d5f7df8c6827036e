// The respawn flow run tick by tick on the simulator's script fibre, checked
// from what the game saw: the natives, their order and arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "src/host/host_api.h"
#include "src/host/process_state.h"
#include "src/hud/panel.h"
#include "src/respawn/death_flow.h"
#include "src/respawn/event_timers.h"
#include "src/spawn/random_detail.h"
#include "tests/support/sim_harness.h"

namespace {

using rebound::deathFlow;
using rebound::DeathFlowState;

// What the flow held at the end of each tick, for the checks that need the
// points (the bar only shows them rounded to its width).
struct TickRecord {
  std::int64_t frame;
  DeathFlowState state;
  std::int32_t points;
  std::size_t panelBars;
};

std::vector<TickRecord> ticks;

void FlowLoop() {
  for (;;) {
    rebound::TickDeathFlow();
    ticks.push_back({sim::Simulation::Active()->GetWorld().clock.frame, deathFlow.state,
                     deathFlow.respawnProgress, rebound::hudBarPanel.bars.size()});
    scriptWait(0);
  }
}

void ResetPlugin() {
  rebound::testing_seam::ResetProcessStateForTesting();
  ticks.clear();
}

// A death at frame 60 (game time 101000), the shard movie and the panel's
// textures loading quickly, and a spawn search that finds one point 50 m away.
constexpr const char* kPlainDeath = R"({
  "frames": 900, "startGameTime": 100000,
  "player": {"health": 200, "position": [100.0, 200.0, 30.0]},
  "world": {
    "spawnSearch": {"frames": 3, "outcome": "complete", "results": [[150.0, 200.0, 30.0]]},
    "textures": {"loaded": ["timerbars"]}
  },
  "events": [{"frame": 60, "health": 0}]
})";

class DeathFlowTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetPlugin(); }
  void TearDown() override {
    simulation_.reset();
    ResetPlugin();
  }

  sim::Simulation& Run(std::string_view scenario, std::int64_t frames = -1) {
    simulation_ = std::make_unique<sim::Simulation>(test::ScenarioFrom(scenario));
    simulation_->SetScript(&FlowLoop);
    const bool ok = frames < 0 ? simulation_->Run() : simulation_->RunFrames(frames);
    EXPECT_TRUE(ok) << simulation_->Fault();
    return *simulation_;
  }

  const sim::Trace& Trace() const { return simulation_->GetTrace(); }

  std::vector<std::string> Natives(std::int64_t frame) const {
    return test::NativesInFrame(Trace(), frame);
  }

  // The first frame at which the flow's phase was `state` at tick end.
  std::int64_t FirstFrameIn(DeathFlowState state) const {
    for (const auto& t : ticks) {
      if (t.state == state) return t.frame;
    }
    return -1;
  }

  const sim::TraceEntry* FirstCall(std::string_view name, std::int64_t fromFrame = 0) const {
    for (const auto& e : Trace().Entries()) {
      if (e.frame >= fromFrame && e.Name() == name) return &e;
    }
    return nullptr;
  }

  std::unique_ptr<sim::Simulation> simulation_;
};

bool Contains(const std::vector<std::string>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

TEST_F(DeathFlowTest, IdleTickCostsTwoNativesAndDrawsNothing) {
  Run(R"({"frames": 30})");
  for (std::int64_t f = 0; f < 30; ++f) {
    EXPECT_EQ(Natives(f), (std::vector<std::string>{"PLAYER_PED_ID", "GET_ENTITY_HEALTH"})) << f;
  }
  EXPECT_EQ(simulation_->Summary().maxCallsInFrame, 2U);
}

TEST_F(DeathFlowTest, HealthOneIsAliveBelowOneIsDeath) {
  struct Case {
    int health;
    bool death;
  };
  for (const Case c : {Case{1, false}, Case{0, true}, Case{-50, true}, Case{200, false}}) {
    ResetPlugin();
    Run(R"({"frames": 3, "events": [{"frame": 1, "health": )" + std::to_string(c.health) + "}]}");
    EXPECT_EQ(deathFlow.state != DeathFlowState::Watching, c.death) << c.health;
    simulation_.reset();
  }
}

TEST_F(DeathFlowTest, DeathTickEntersAndKeepsAliveButDrawsNothing) {
  Run(kPlainDeath, 61);
  const std::vector<std::string> expected = {
      "PLAYER_PED_ID", "GET_ENTITY_HEALTH",
      // the death entry
      "DISPLAY_HUD", "DISPLAY_RADAR", "PAUSE_DEATH_ARREST_RESTART", "REQUEST_SCALEFORM_MOVIE",
      "GET_GAME_TIMER", "GET_GAME_TIMER", "PLAYER_PED_ID", "GET_ENTITY_COORDS",
      // the keep-alive block
      "FORCE_GAME_STATE_PLAYING", "0x5A7F62FDA59759BD", "0x7669F9E39DC17063", "PLAYER_PED_ID",
      "REVIVE_INJURED_PED", "PLAYER_PED_ID", "SET_ENTITY_HEALTH", "SET_TIME_SCALE",
      // the pause step, not yet due
      "GET_GAME_TIMER"};
  EXPECT_EQ(Natives(60), expected);
  EXPECT_EQ(deathFlow.state, DeathFlowState::DeathPause);
  const auto* health = FirstCall("SET_ENTITY_HEALTH", 60);
  ASSERT_NE(health, nullptr);
  EXPECT_EQ(health->args[1].integer, 1);
  EXPECT_EQ(health->args[2].integer, 0);
  EXPECT_EQ(FirstCall("SET_TIME_SCALE", 60)->args[0].number, 1.0);
  EXPECT_EQ(FirstCall("REQUEST_SCALEFORM_MOVIE", 60)->args[0].text, "MP_BIG_MESSAGE_FREEMODE");
  const auto* coords = FirstCall("GET_ENTITY_COORDS", 60);
  EXPECT_TRUE(coords->args[1].IsTrue());
  EXPECT_EQ(deathFlow.deathPosition.x, 100.0F);
  EXPECT_EQ(deathFlow.deathPosition.z, 30.0F);
}

TEST_F(DeathFlowTest, PauseEndsOnlyPastThreeHundredMsAndRunsNoFurtherStepThatTick) {
  Run(kPlainDeath, 100);
  // Frame 60 is at 101000 ms; frame 78 is at exactly 101300, frame 79 at 101316.
  EXPECT_EQ(ticks[78].state, DeathFlowState::DeathPause) << "300 ms is not more than 300";
  EXPECT_EQ(ticks[79].state, DeathFlowState::ShardDelay);
  EXPECT_FALSE(Contains(Natives(79), "IS_SCREEN_FADING_OUT"))
      << "the shard step does not run in the tick that entered it";
  EXPECT_TRUE(Contains(Natives(80), "IS_SCREEN_FADING_OUT"));
}

TEST_F(DeathFlowTest, ShardIsNeverDrawnBeforeItIsFilled) {
  Run(kPlainDeath, 300);
  const auto* fill = FirstCall("SCALEFORM_MOVIE_METHOD_ADD_PARAM_INT");
  const auto* draw = FirstCall("DRAW_SCALEFORM_MOVIE_FULLSCREEN");
  ASSERT_NE(fill, nullptr);
  ASSERT_NE(draw, nullptr);
  EXPECT_GE(draw->frame, fill->frame);
  EXPECT_GT(draw - fill, 0) << "the first draw comes after the fill, in the same tick";
  EXPECT_EQ(draw->frame, FirstFrameIn(DeathFlowState::BarFilling));
}

TEST_F(DeathFlowTest, LoadedMovieFillsCreatesBarAndDrawsInOneTickWithoutWaiting) {
  Run(kPlainDeath, 200);
  const std::int64_t due = FirstFrameIn(DeathFlowState::BarFilling);
  ASSERT_GT(due, 0);
  // The shard step became due 400 ms after the pause ended at frame 79.
  EXPECT_EQ(due, 79 + 25) << "frame 103 is at 101716, 400 ms after 101316 is not more";
  const auto entries = test::EntriesInFrame(Trace(), due);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "scriptWait"), 1)
      << "only the loop's own wait";
  std::vector<std::string> shard;
  for (const auto& e : Trace().Entries()) {
    if (e.frame != due) continue;
    if (e.native == nullptr) continue;
    const std::string_view n = e.native->name;
    if (n.find("SCALEFORM") != std::string_view::npos || n == "0xCA042B6957743895" ||
        n == "ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL" ||
        n == "GET_FILENAME_FOR_AUDIO_CONVERSATION") {
      shard.emplace_back(sim::Trace::ToJson(e).substr(sim::Trace::ToJson(e).find("\"name\"")));
    }
  }
  const std::vector<std::string> expected = {
      R"("name":"HAS_SCALEFORM_MOVIE_LOADED","args":[1],"result":true})",
      R"("name":"BEGIN_SCALEFORM_MOVIE_METHOD","args":[1,"RESET_MOVIE"],"result":true})",
      R"("name":"END_SCALEFORM_MOVIE_METHOD","args":[]})",
      R"("name":"BEGIN_SCALEFORM_MOVIE_METHOD","args":[1,"SHOW_SHARD_WASTED_MP_MESSAGE"],"result":true})",
      R"("name":"BEGIN_TEXT_COMMAND_SCALEFORM_STRING","args":["STRING"]})",
      R"("name":"ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL","args":["RESPAWN_W"]})",
      R"("name":"END_TEXT_COMMAND_SCALEFORM_STRING","args":[]})",
      R"("name":"0xCA042B6957743895","args":[0],"result":1})",
      R"("name":"BEGIN_TEXT_COMMAND_SCALEFORM_STRING","args":[""]})",
      R"("name":"END_TEXT_COMMAND_SCALEFORM_STRING","args":[]})",
      R"("name":"SCALEFORM_MOVIE_METHOD_ADD_PARAM_INT","args":[0]})",
      R"("name":"SCALEFORM_MOVIE_METHOD_ADD_PARAM_INT","args":[0]})",
      R"("name":"SCALEFORM_MOVIE_METHOD_ADD_PARAM_INT","args":[0]})",
      R"("name":"END_SCALEFORM_MOVIE_METHOD","args":[]})",
      R"("name":"GET_FILENAME_FOR_AUDIO_CONVERSATION","args":["KS_RESPAWN_B"],"result":"Respawn"})",
      R"("name":"DRAW_SCALEFORM_MOVIE_FULLSCREEN","args":[1,255,255,255,255,0]})"};
  EXPECT_EQ(shard, expected);
  EXPECT_FALSE(Contains(Natives(due), "DRAW_RECT")) << "the bar is first drawn next tick";
  ASSERT_TRUE(deathFlow.respawnBar);
  EXPECT_EQ(deathFlow.respawnBar->label, "Respawn");
  EXPECT_TRUE(deathFlow.respawnBar->compact);
  EXPECT_EQ(rebound::hudBarPanel.bars.front(), deathFlow.respawnBar.get());
}

TEST_F(DeathFlowTest, LateMovieIsWaitedForFrameByFrameWithNothingElseRunning) {
  Run(R"({
    "frames": 400, "startGameTime": 100000,
    "world": {"scaleform": {"loadFrames": 120},
              "spawnSearch": {"frames": 1, "outcome": "complete", "results": [[0.0, 0.0, 0.0]]}},
    "events": [{"frame": 10, "health": 0}]
  })",
      200);
  // Death at 10 (100166 ms); the pause ends at frame 29 (100483 ms), the shard
  // step is due at frame 54 (100900 ms); the movie loads at frame 130.
  const std::int64_t due = 54;
  EXPECT_EQ(Natives(due + 1), (std::vector<std::string>{"HAS_SCALEFORM_MOVIE_LOADED"}))
      << "a waiting frame asks for the movie and does nothing else";
  EXPECT_EQ(test::EntriesInFrame(Trace(), due + 1),
            (std::vector<std::string>{"HAS_SCALEFORM_MOVIE_LOADED", "scriptWait"}));
  const auto* draw = FirstCall("DRAW_SCALEFORM_MOVIE_FULLSCREEN");
  ASSERT_NE(draw, nullptr);
  EXPECT_EQ(draw->frame, 130);
  EXPECT_EQ(FirstFrameIn(DeathFlowState::BarFilling), 130);
}

TEST_F(DeathFlowTest, BarIsFirstDrawnOnTheFirstFillingTickWhichMakesATimeStep) {
  Run(kPlainDeath, 200);
  const std::int64_t created = FirstFrameIn(DeathFlowState::BarFilling);
  const auto* rect = FirstCall("DRAW_RECT");
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->frame, created + 1);
  EXPECT_EQ(ticks[static_cast<std::size_t>(created + 1)].points, 1)
      << "the progress timer started at the death, so the first tick always steps";
}

TEST_F(DeathFlowTest, FillGrowsRightFromTheBarsLeftEdge) {
  Run(kPlainDeath);
  struct Fill {
    float width;
    float centre;
  };
  std::vector<Fill> fills;
  for (const auto& e : Trace().Entries()) {
    if (e.IsNative("DRAW_RECT") && e.args[4].integer == 224 && e.args[7].integer == 140) {
      fills.push_back({static_cast<float>(e.args[2].number), static_cast<float>(e.args[0].number)});
    }
  }
  ASSERT_FALSE(fills.empty());
  const auto has = [&](float width, float centre) {
    return std::any_of(fills.begin(), fills.end(),
                       [&](const Fill& f) { return f.width == width && f.centre == centre; });
  };
  EXPECT_TRUE(has(0.0F, 0.8785F)) << "0 points";
  EXPECT_TRUE(has(0.0345F, 0.89575F)) << "50 points";
  EXPECT_EQ(fills.back().width, 0.069F) << "full on the tick that ends the filling";
  EXPECT_EQ(fills.back().centre, 0.913F);
}

TEST_F(DeathFlowTest, TapAndTimeStepInOneTickAddFive) {
  Run(R"({
    "frames": 400, "startGameTime": 100000,
    "world": {"spawnSearch": {"frames": 1, "outcome": "complete", "results": [[0.0, 0.0, 0.0]]}},
    "events": [{"frame": 0, "health": 0},
               {"from": 60, "to": 200, "tapEveryFrames": 3, "control": 223}]
  })",
      200);
  bool sawFive = false;
  bool sawFour = false;
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    if (ticks[i].state != DeathFlowState::BarFilling ||
        ticks[i - 1].state != DeathFlowState::BarFilling)
      continue;
    const int gain = ticks[i].points - ticks[i - 1].points;
    EXPECT_TRUE(gain == 0 || gain == 1 || gain == 4 || gain == 5) << gain;
    sawFive = sawFive || gain == 5;
    sawFour = sawFour || gain == 4;
  }
  EXPECT_TRUE(sawFive);
  EXPECT_TRUE(sawFour);
}

TEST_F(DeathFlowTest, HoldingTheControlCountsOnce) {
  Run(R"({
    "frames": 400, "startGameTime": 100000,
    "events": [{"frame": 0, "health": 0}, {"frame": 80, "hold": 223, "frames": 60}]
  })",
      200);
  const auto at = [&](std::int64_t f) { return ticks[static_cast<std::size_t>(f)].points; };
  ASSERT_EQ(ticks[80].state, DeathFlowState::BarFilling);
  // Over the 60 held frames the time steps give 15 points; the hold gives 4 once.
  const int timeSteps = at(139) - at(79) - 4;
  EXPECT_GE(timeSteps, 14);
  EXPECT_LE(timeSteps, 15);
}

TEST_F(DeathFlowTest, FadeOutStartsBetween101And105Points) {
  for (const char* taps :
       {"", R"(, {"from": 45, "to": 900, "tapEveryFrames": 3, "control": 223})"}) {
    ResetPlugin();
    Run(std::string(R"({"frames": 900, "startGameTime": 100000,
      "world": {"spawnSearch": {"frames": 1, "outcome": "complete", "results": [[0.0, 0.0, 0.0]]}},
      "player": {"position": [0.0, 0.0, 0.0]},
      "events": [{"frame": 0, "health": 0})") +
            taps + "]}",
        600);
    const auto fadeOut = std::find_if(ticks.begin(), ticks.end(), [](const TickRecord& t) {
      return t.state == DeathFlowState::Respawning;
    });
    ASSERT_NE(fadeOut, ticks.end()) << taps;
    EXPECT_GE(fadeOut->points, 101) << taps;
    EXPECT_LE(fadeOut->points, 105) << taps;
    const auto* fade = FirstCall("DO_SCREEN_FADE_OUT");
    ASSERT_NE(fade, nullptr);
    EXPECT_EQ(fade->frame, fadeOut->frame);
    EXPECT_EQ(fade->args[0].integer, 1500);
    simulation_.reset();
  }
}

TEST_F(DeathFlowTest, PanelNeverHoldsMoreThanTheOneBarAndTwoDeathsRunTwice) {
  Run(R"({
    "frames": 1800, "startGameTime": 100000,
    "world": {"spawnSearch": {"frames": 2, "outcome": "complete", "results": [[10.0, 0.0, 0.0]]}},
    "player": {"position": [0.0, 0.0, 0.0]},
    "events": [{"frame": 10, "health": 0}, {"frame": 900, "health": -20}]
  })");
  for (const auto& t : ticks) {
    EXPECT_LE(t.panelBars, 1U) << t.frame;
    EXPECT_EQ(t.panelBars == 1,
              t.state == DeathFlowState::BarFilling || t.state == DeathFlowState::Respawning)
        << t.frame;
  }
  EXPECT_EQ(Trace().Count("REQUEST_SCALEFORM_MOVIE"), 2U);
  EXPECT_EQ(Trace().Count("GET_FILENAME_FOR_AUDIO_CONVERSATION"), 2U);
  EXPECT_EQ(Trace().Count("SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED"), 2U);
  const auto requests = Trace().Find("REQUEST_SCALEFORM_MOVIE");
  EXPECT_NE(requests[0]->result->integer, requests[1]->result->integer) << "a new movie";
  EXPECT_EQ(deathFlow.state, DeathFlowState::Watching);
  EXPECT_EQ(deathFlow.movieHandle, -1);
  EXPECT_FALSE(deathFlow.respawnBar);
  EXPECT_FALSE(deathFlow.shardHidden);
  EXPECT_EQ(deathFlow.respawnProgress, 0);
}

// A seed whose first draw is 2^31 + 12: RandomFloat01 gives exactly 0.5.
std::uint32_t HalfSeed() { return 36733251; }

TEST_F(DeathFlowTest, TwoDrawsOfOneHalfGiveNoDirectionSoTheSearchCentreIsTheDeath) {
  rebound::testing_seam::SetSeedSourceForTesting(&HalfSeed);
  Run(kPlainDeath, 700);
  const auto* search = FirstCall("SPAWNPOINTS_START_SEARCH");
  ASSERT_NE(search, nullptr);
  EXPECT_EQ(search->args[0].number, 100.0);
  EXPECT_EQ(search->args[1].number, 200.0);
  EXPECT_EQ(search->args[2].number, 30.0) << "searched at the height of the death";
}

TEST_F(DeathFlowTest, SearchCentreIsOneHundredMetresFromTheDeath) {
  Run(kPlainDeath, 700);
  const auto* search = FirstCall("SPAWNPOINTS_START_SEARCH");
  ASSERT_NE(search, nullptr);
  const double dx = search->args[0].number - 100.0;
  const double dy = search->args[1].number - 200.0;
  EXPECT_NEAR(std::sqrt(dx * dx + dy * dy), 100.0, 0.01);
}

struct DistanceCase {
  float spawnX;
  bool kept;
};

// Shown in the test's name; printed as raw bytes it would show the padding,
// which changes from build to build.
void PrintTo(const DistanceCase& c, std::ostream* os) {
  *os << c.spawnX << (c.kept ? " m kept" : " m replaced");
}

class SpawnDistance : public DeathFlowTest, public ::testing::WithParamInterface<DistanceCase> {};

TEST_P(SpawnDistance, ThreeHundredMetresIsAcceptedFartherIsReplacedByTheDeath) {
  const DistanceCase c = GetParam();
  Run(R"({"frames": 800, "player": {"position": [0.0, 0.0, 0.0]},
    "world": {"spawnSearch": {"frames": 1, "outcome": "complete",
                              "results": [[)" +
          std::to_string(c.spawnX) + R"(, 0.0, 0.0]]}},
    "events": [{"frame": 0, "health": 0}]})",
      700);
  const auto* vdist = FirstCall("VDIST");
  ASSERT_NE(vdist, nullptr);
  EXPECT_EQ(vdist->result->number, static_cast<double>(c.spawnX));
  const auto* placed = FirstCall("SET_ENTITY_COORDS");
  const auto* turned = FirstCall("SET_ENTITY_HEADING");
  ASSERT_NE(placed, nullptr);
  ASSERT_NE(turned, nullptr);
  EXPECT_EQ(placed->args[1].number, c.kept ? static_cast<double>(c.spawnX) : 0.0);
  if (!c.kept) {
    EXPECT_EQ(turned->args[1].number, 0.0) << "the place of death faces north";
  }
  EXPECT_TRUE(placed->args[4].IsTrue());
  EXPECT_FALSE(placed->args[5].IsTrue());
  EXPECT_FALSE(placed->args[6].IsTrue());
  EXPECT_FALSE(placed->args[7].IsTrue());
}

INSTANTIATE_TEST_SUITE_P(Limit, SpawnDistance,
                         ::testing::Values(DistanceCase{300.0F, true}, DistanceCase{299.5F, true},
                                           DistanceCase{300.03125F, false},
                                           DistanceCase{5000.0F, false}));

TEST_F(DeathFlowTest, RespawnRunsItsStepsInOrderWithItsTwoWaits) {
  rebound::testing_seam::SetSeedSourceForTesting(&HalfSeed);
  Run(R"({"frames": 800, "player": {"position": [0.0, 0.0, 0.0]},
    "world": {"spawnSearch": {"frames": 0, "outcome": "complete", "results": [[10.0, 0.0, 0.0]]}},
    "events": [{"frame": 0, "health": 0}]})",
      700);
  const auto* fadedOut = [&]() -> const sim::TraceEntry* {
    for (const auto& e : Trace().Entries()) {
      if (e.IsNative("IS_SCREEN_FADED_OUT") && e.result->IsTrue()) return &e;
    }
    return nullptr;
  }();
  ASSERT_NE(fadedOut, nullptr);
  std::vector<std::string> steps;
  for (const sim::TraceEntry* e = fadedOut;
       e != Trace().Entries().data() + Trace().Entries().size(); ++e) {
    std::string step(e->Name());
    if (e->native == nullptr && e->host == "scriptWait")
      step += "(" + std::to_string(e->args[0].integer) + ")";
    steps.push_back(step);
    if (e->IsNative("PAUSE_DEATH_ARREST_RESTART")) break;
  }
  const std::vector<std::string> expected = {
      "IS_SCREEN_FADED_OUT",
      // the search around the death itself (both draws 0.5), complete at once
      "SPAWNPOINTS_START_SEARCH", "SPAWNPOINTS_IS_SEARCH_COMPLETE", "SPAWNPOINTS_IS_SEARCH_FAILED",
      "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", "SPAWNPOINTS_GET_SEARCH_RESULT",
      "SPAWNPOINTS_CANCEL_SEARCH", "VDIST", "SET_GAME_PAUSED", "0x80C8B1846639BB19",
      "SET_TIME_SCALE", "FORCE_GAME_STATE_PLAYING",
      // the revival of a ped the keep-alive block held at 1 health
      "PLAYER_PED_ID", "FREEZE_ENTITY_POSITION", "PLAYER_ID", "SET_PLAYER_WANTED_LEVEL",
      "PLAYER_ID", "SET_PLAYER_WANTED_LEVEL_NOW", "PLAYER_ID", "SET_POLICE_IGNORE_PLAYER",
      "PLAYER_PED_ID", "SET_PED_ARMOUR", "PLAYER_ID", "RESET_PLAYER_ARREST_STATE", "PLAYER_PED_ID",
      "IS_ENTITY_DEAD", "PLAYER_PED_ID", "RESURRECT_PED", "scriptWait(50)", "PLAYER_PED_ID",
      "GET_ENTITY_MAX_HEALTH", "PLAYER_PED_ID", "SET_ENTITY_HEALTH", "PLAYER_PED_ID",
      "CLEAR_PED_TASKS_IMMEDIATELY", "PLAYER_PED_ID", "FREEZE_ENTITY_POSITION", "PLAYER_PED_ID",
      "0x95D2D383D5396B8A", "PLAYER_ID", "0xA6F312FCCE9C1DFE", "PLAYER_ID",
      "SET_POLICE_IGNORE_PLAYER",
      // back in the flow
      "scriptWait(1)", "FORCE_GAME_STATE_PLAYING", "PLAYER_PED_ID", "SET_ENTITY_COORDS",
      "PLAYER_PED_ID", "SET_ENTITY_HEADING", "PLAYER_ID", "SET_POLICE_IGNORE_PLAYER",
      "SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED", "SET_FADE_IN_AFTER_DEATH_ARREST",
      "SET_FADE_OUT_AFTER_ARREST", "SET_FADE_OUT_AFTER_DEATH", "SET_GAME_PAUSED", "DISPLAY_HUD",
      "DISPLAY_RADAR", "ANIMPOSTFX_STOP_ALL", "DO_SCREEN_FADE_IN", "scriptWait(10)",
      "PAUSE_DEATH_ARREST_RESTART"};
  EXPECT_EQ(steps, expected);
  // After the respawn nothing of the flow is drawn and the next tick only watches.
  const sim::TraceEntry* released = FirstCall("PAUSE_DEATH_ARREST_RESTART", fadedOut->frame);
  ASSERT_NE(released, nullptr);
  EXPECT_FALSE(released->args[0].IsTrue());
  const std::int64_t last = released->frame;
  EXPECT_FALSE(Contains(Natives(last), "DRAW_SCALEFORM_MOVIE_FULLSCREEN"));
  EXPECT_EQ(Natives(last + 1), (std::vector<std::string>{"PLAYER_PED_ID", "GET_ENTITY_HEALTH"}));
  EXPECT_TRUE(FirstCall("SET_GAME_PAUSED", fadedOut->frame)->args[0].IsTrue());
  EXPECT_EQ(FirstCall("DO_SCREEN_FADE_IN", fadedOut->frame)->args[0].integer, 1500);
}

// The host may drop the script at any of the respawn's waits and start it
// again: the next tick finishes what the dropped one left.
TEST_F(DeathFlowTest, RespawnCutShortByAScriptRestartIsFinished) {
  // Where the undisturbed respawn waits: after the resurrection, after the fade-in.
  Run(kPlainDeath);
  std::int64_t revivalWait = -1;
  std::int64_t fadeInWait = -1;
  for (const auto& e : Trace().Entries()) {
    if (e.IsHost("scriptWait") && e.args[0].integer == 50) revivalWait = e.frame;
    if (e.IsHost("scriptWait") && e.args[0].integer == 10) fadeInWait = e.frame;
  }
  ASSERT_GT(revivalWait, 0);
  ASSERT_GT(fadeInWait, revivalWait);

  struct Cut {
    const char* where;
    std::int64_t restartFrame;
    std::vector<std::string> natives;  // in the restarted script's first frame
  };
  const Cut cuts[] = {
      // The revival runs again on a ped that is alive at 1 health, which it
      // leaves as it is; its health is restored after it.
      {"in the revival", revivalWait + 1, {}},
      // The fade-in began and everything but the last step was done.
      {"after the fade-in", fadeInWait + 1, {"PAUSE_DEATH_ARREST_RESTART"}},
  };
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.where);
    simulation_.reset();
    ResetPlugin();
    sim::Scenario scenario = test::ScenarioFrom(kPlainDeath);
    scenario.events.push_back(sim::RestartScriptEvent(cut.restartFrame));
    simulation_ = std::make_unique<sim::Simulation>(std::move(scenario));
    simulation_->SetScript(&FlowLoop);
    ASSERT_TRUE(simulation_->Run()) << simulation_->Fault();
    EXPECT_EQ(simulation_->ScriptStarts(), 2);
    if (!cut.natives.empty()) {
      EXPECT_EQ(Natives(cut.restartFrame), cut.natives);
    }
    const sim::World& world = simulation_->GetWorld();
    EXPECT_EQ(deathFlow.state, DeathFlowState::Watching);
    EXPECT_FALSE(deathFlow.revivalUnderWay);
    EXPECT_EQ(world.player.health, 200);
    EXPECT_FALSE(world.state.deathArrestRestartPaused);
    EXPECT_FALSE(world.state.gamePaused);
    EXPECT_FALSE(world.player.frozen);
  }
}

TEST_F(DeathFlowTest, MissingBarLabelLeavesTheBarUnlabelled) {
  Run(R"({"frames": 300, "world": {"labels": {"RESPAWN_W": "WASTED"}},
    "events": [{"frame": 0, "health": 0}]})",
      200);
  const auto* label = FirstCall("GET_FILENAME_FOR_AUDIO_CONVERSATION");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->result->kind, sim::TraceValue::Kind::Null) << "the game has no such text";
  ASSERT_TRUE(deathFlow.respawnBar);
  EXPECT_EQ(deathFlow.respawnBar->label, "");
}

}  // namespace
