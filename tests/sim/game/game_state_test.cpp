// The game's own death handling and its switches: the wasted sequence that
// restarts a dead player unless a script pauses it, the fades after death,
// settings noted only when they change, labels, and the natives known by hash.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/natives.h"
#include "tests/support/sim_harness.h"

namespace {

namespace natives = rebound::natives;
using test::RunScript;

// Frames of the timeline entries whose text contains `text`.
std::vector<std::int64_t> FramesNoting(const sim::World& world, const std::string& text) {
  std::vector<std::int64_t> frames;
  for (const auto& e : world.timeline.Entries()) {
    if (e.text.find(text) != std::string::npos) frames.push_back(e.frame);
  }
  return frames;
}

// 100 ms a frame; the player dies in frame 10. With the default timings the
// game shows "wasted" at 10, fades out at 30 (faded out at 40), restarts the
// player at 60 and fades in (faded in at 70).
constexpr const char* kDeathAtFrame10 = R"({"fps": 10, "frames": 120,
  "events": [{"frame": 10, "health": 0}]})";

struct RestartCase {
  const char* what;
  std::map<std::int64_t, std::function<void()>> script;  // calls by frame
  std::vector<std::int64_t> wasted;                      // frames the sequence began
  std::vector<std::int64_t> fadeOutStarted;
  std::vector<std::int64_t> restarted;
};

void PrintTo(const RestartCase& c, std::ostream* os) { *os << c.what; }

class GameRestart : public ::testing::TestWithParam<RestartCase> {};

TEST_P(GameRestart, FollowsThePauseOfTheDeathArrestRestart) {
  const RestartCase& c = GetParam();
  sim::Simulation simulation(test::ScenarioFrom(kDeathAtFrame10));
  ASSERT_TRUE(RunScript(simulation, [&c](std::int64_t frame) {
    const auto due = c.script.find(frame);
    if (due != c.script.end()) due->second();
  })) << simulation.Fault();
  const sim::World& world = simulation.GetWorld();
  EXPECT_EQ(FramesNoting(world, "wasted: the game starts"), c.wasted);
  EXPECT_EQ(FramesNoting(world, "fade-out over 1000 ms started by the game"), c.fadeOutStarted);
  EXPECT_EQ(FramesNoting(world, "the game restarts the player"), c.restarted);
  EXPECT_EQ(world.player.dead, c.restarted.empty());
  if (!c.restarted.empty()) {
    EXPECT_EQ(world.player.health, world.player.maxHealth);
    EXPECT_EQ(world.player.position.x, world.state.restart.position.x);
    EXPECT_EQ(world.player.heading, world.state.restart.heading);
  }
}

const auto Pause = [](bool on) { return [on] { natives::PAUSE_DEATH_ARREST_RESTART(on); }; };
const auto PauseGame = [](bool on) { return [on] { natives::SET_GAME_PAUSED(on); }; };

INSTANTIATE_TEST_SUITE_P(
    State, GameRestart,
    ::testing::Values(
        RestartCase{"nothing_holds_the_game_off", {}, {10}, {30}, {60}},
        RestartCase{"paused_before_the_death", {{0, Pause(true)}}, {}, {}, {}},
        // The game looks after the scripts: pausing in the frame of the death wins.
        RestartCase{"paused_in_the_frame_of_the_death", {{10, Pause(true)}}, {}, {}, {}},
        RestartCase{"paused_a_frame_late_stops_the_sequence", {{11, Pause(true)}}, {10}, {}, {}},
        RestartCase{"paused_after_the_fade_out_began", {{35, Pause(true)}}, {10}, {30}, {}},
        // Lifted while the player is still dead: a new sequence from the start.
        RestartCase{
            "pause_lifted_again", {{35, Pause(true)}, {50, Pause(false)}}, {10, 50}, {30}, {100}},
        // Game time runs on while paused; the late steps are taken on resuming.
        RestartCase{"game_paused_over_the_fade_out",
                    {{20, PauseGame(true)}, {50, PauseGame(false)}},
                    {10},
                    {50},
                    {60}},
        RestartCase{"game_paused_over_the_restart",
                    {{20, PauseGame(true)}, {80, PauseGame(false)}},
                    {10},
                    {80},
                    {80}}),
    [](const auto& p) { return std::string(p.param.what); });

struct AfterDeathFades {
  const char* what;
  bool fadeOut;
  bool fadeIn;
  std::vector<std::int64_t> fadedOut;
  std::vector<std::int64_t> fadedIn;
  sim::FadeState atEnd;
};

TEST(GameRestart, HonoursTheFadesAfterDeath) {
  const AfterDeathFades cases[] = {
      {"both on", true, true, {40}, {70}, sim::FadeState::FadedIn},
      {"no fade-out: the fade-in has nothing to do", false, true, {}, {}, sim::FadeState::FadedIn},
      {"no fade-in: black until a script fades in",
       true,
       false,
       {40},
       {},
       sim::FadeState::FadedOut},
      {"both off", false, false, {}, {}, sim::FadeState::FadedIn},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Simulation simulation(test::ScenarioFrom(kDeathAtFrame10));
    ASSERT_TRUE(RunScript(simulation, [&c](std::int64_t frame) {
      if (frame != 0) return;
      natives::SET_FADE_OUT_AFTER_DEATH(c.fadeOut);
      natives::SET_FADE_IN_AFTER_DEATH_ARREST(c.fadeIn);
    })) << simulation.Fault();
    const sim::World& world = simulation.GetWorld();
    EXPECT_EQ(FramesNoting(world, "faded out"), c.fadedOut);
    EXPECT_EQ(FramesNoting(world, "faded in"), c.fadedIn);
    EXPECT_EQ(world.screen.fade, c.atEnd);
    EXPECT_EQ(world.state.gameRestarts, 1);
  }
}

TEST(GameRestart, TheWastedLookStaysWhenTheSequenceStopsUntilAScriptUndoesIt) {
  sim::Simulation simulation(test::ScenarioFrom(kDeathAtFrame10));
  sim::GameStateModel seen;
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame == 11) natives::PAUSE_DEATH_ARREST_RESTART(true);
    if (frame == 20) seen = simulation.GetWorld().state;
    if (frame == 21) {
      natives::ANIMPOSTFX_STOP_ALL();
      natives::SET_TIME_SCALE(1.0F);
      natives::DISPLAY_HUD(true);
      natives::DISPLAY_RADAR(true);
    }
  })) << simulation.Fault();
  EXPECT_EQ(seen.postEffects, std::vector<std::string>{"DeathFailOut"});
  EXPECT_FLOAT_EQ(seen.timeScale, 0.2F);
  EXPECT_FALSE(seen.hudShown);
  EXPECT_FALSE(seen.radarShown);
  const sim::GameStateModel& now = simulation.GetWorld().state;
  EXPECT_TRUE(now.postEffects.empty());
  EXPECT_EQ(now.timeScale, 1.0F);
  EXPECT_TRUE(now.hudShown && now.radarShown);
  EXPECT_EQ(now.sequencesAbandoned, 1);
  EXPECT_EQ(FramesNoting(simulation.GetWorld(), "post-effects stopped: DeathFailOut"),
            std::vector<std::int64_t>{21});
}

TEST(GameState, SettingsRepeatedEveryFrameAreNotedOnlyWhenTheyChange) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 30})"));
  ASSERT_TRUE(RunScript(simulation, [](std::int64_t frame) {
    natives::SET_TIME_SCALE(frame < 20 ? 1.0F : 0.5F);
    natives::DISPLAY_HUD(true);
    natives::DISPLAY_RADAR(true);
    natives::SET_GAME_PAUSED(false);
    natives::PAUSE_DEATH_ARREST_RESTART(frame >= 25);
    natives::ANIMPOSTFX_STOP_ALL();
  })) << simulation.Fault();
  std::vector<std::string> notes;
  for (const auto& e : simulation.GetWorld().timeline.Entries()) {
    if (e.category == "state") notes.push_back(std::to_string(e.frame) + " " + e.text);
  }
  EXPECT_EQ(notes, (std::vector<std::string>{"20 time scale 1 -> 0.5 (script)",
                                             "25 death/arrest restart paused"}));
}

TEST(GameState, NativesKnownByHashAreAcceptedAndTheNullTextTestAnswersForZero) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 3})"));
  std::vector<std::int32_t> answers;
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    natives::FORCE_GAME_STATE_PLAYING();
    if (frame > 0) natives::NATIVE_0x5A7F62FDA59759BD();
    natives::NATIVE_0x7669F9E39DC17063();
    natives::NATIVE_0x80C8B1846639BB19(static_cast<std::int32_t>(7 - frame));
    answers.push_back(natives::NATIVE_0xCA042B6957743895(0));
  })) << simulation.Fault();
  EXPECT_EQ(answers, (std::vector<std::int32_t>{1, 1, 1})) << "0 is a null text: true";
  EXPECT_EQ(simulation.GetTrace().Count("0x80C8B1846639BB19"), 3U);
  // The world keeps each unmodelled native's calls and last arguments.
  const sim::UnmodelledCalls& unmodelled = simulation.GetWorld().unmodelled;
  EXPECT_EQ(unmodelled.Calls("FORCE_GAME_STATE_PLAYING"), 3);
  EXPECT_EQ(unmodelled.Calls("0x5A7F62FDA59759BD"), 2);
  EXPECT_EQ(unmodelled.Calls("0x7669F9E39DC17063"), 3);
  ASSERT_NE(unmodelled.Of("0x80C8B1846639BB19"), nullptr);
  EXPECT_EQ(unmodelled.Of("0x80C8B1846639BB19")->calls, 3);
  EXPECT_EQ(unmodelled.Of("0x80C8B1846639BB19")->LastInt(0), 5);
  EXPECT_EQ(unmodelled.Calls("0xCA042B6957743895"), 0) << "modelled: not recorded";
}

TEST(GameState, EveryNativeTheCatalogueMarksForACallRecordFitsInTheRecord) {
  std::size_t marked = 0;
  for (const sim::NativeSignature& signature : sim::NativeTable()) {
    if (!signature.callsRecorded) continue;
    ++marked;
    EXPECT_FALSE(signature.answeredByDefault) << signature.name;
    EXPECT_LE(signature.args.size(), sim::UnmodelledCall::kKeptArgs) << signature.name;
    EXPECT_EQ(signature.result, sim::ResultKind::None) << signature.name << " answers nothing";
  }
  EXPECT_GT(marked, 0U);
  EXPECT_LE(marked, sim::UnmodelledCalls::kCapacity);
}

struct LabelCase {
  const char* what;
  const char* world;  // the scenario's "world" and events
  std::string expected;
  bool isNull;
};

TEST(Labels, TheGameAnswersTheCurrentLanguagesTextOrNull) {
  const LabelCase cases[] = {
      {"built-in table", R"("world": {})", "Respawn", false},
      {"left out of the scenario's table", R"("world": {"labels": {"RESPAWN_W": "WASTED"}})", "",
       true},
      {"given as null", R"("world": {"labels": {"KS_RESPAWN_B": null}})", "", true},
      {"own table of the language",
       R"("world": {"language": 9, "labels": {"KS_RESPAWN_B": "Respawn"},
                    "labelsByLanguage": {"9": {"KS_RESPAWN_B": "Rinascita"}}})",
       "Rinascita", false},
      {"another language's table is not used",
       R"("world": {"labelsByLanguage": {"9": {"KS_RESPAWN_B": "Rinascita"}}})", "Respawn", false},
      {"language switched by an event",
       R"("world": {"labelsByLanguage": {"9": {"KS_RESPAWN_B": "Rinascita"}}},
          "events": [{"frame": 1, "language": 9}])",
       "Rinascita", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Simulation simulation(
        test::ScenarioFrom(std::string(R"({"frames": 2, )") + c.world + "}"));
    std::string text = "(not asked)";
    ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
      if (frame == 1) text = natives::GET_FILENAME_FOR_AUDIO_CONVERSATION("KS_RESPAWN_B");
    })) << simulation.Fault();
    EXPECT_EQ(text, c.expected);
    const auto calls = simulation.GetTrace().Find("GET_FILENAME_FOR_AUDIO_CONVERSATION");
    ASSERT_EQ(calls.size(), 1U);
    EXPECT_EQ(calls[0]->result->kind == sim::TraceValue::Kind::Null, c.isNull);
  }
}

TEST(GameState, BadSettingsNameFileLineAndField) {
  const std::pair<const char*, const char*> cases[] = {
      {"{\"world\": {\"gameRestart\": {\n\"restartAfterMs\": 1000}}}",
       "bad.json:2: field 'world.gameRestart.restartAfterMs': expected a time at or after "
       "fadeOutAfterMs (2000 ms)"},
      {R"({"world": {"gameRestart": {"fadeOutMs": -1}}})",
       "field 'world.gameRestart.fadeOutMs': expected an integer from 0"},
      {R"({"world": {"gameRestart": {"position": [1, 2]}}})",
       "field 'world.gameRestart.position': expected a position [x, y, z]"},
      {R"({"world": {"gameRestart": {"restartAfter": 10}}})",
       "field 'world.gameRestart.restartAfter': unknown field"},
      {"{\"world\": {\"labels\": {\n\"KS_RESPAWN_B\": 5}}}",
       "bad.json:2: field 'world.labels.KS_RESPAWN_B': expected the label's text (a string) or "
       "null, got an integer"},
      {R"({"world": {"labels": ["KS_RESPAWN_B"]}})",
       "field 'world.labels': expected an object, got an array"},
      {R"({"world": {"labelsByLanguage": {"french": {}}}})",
       "field 'world.labelsByLanguage.french': expected a language code"},
  };
  test::ExpectScenarioErrors("bad.json", cases);
}

}  // namespace
