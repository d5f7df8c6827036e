// The world misbehaving as the game can: a frame of any length, the player's
// handles changing under a script that cached them, a movie request that
// fails and a loaded movie the game throws out, a fixed answer of the text
// test native, and keyboard messages in the middle of the script's frame.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/natives.h"
#include "tests/support/sim_harness.h"

namespace {

namespace natives = rebound::natives;
using test::RunScript;

struct HitchCase {
  const char* what;
  const char* events;
  std::vector<std::int32_t> timers;  // GET_GAME_TIMER in frames 0..4
};

void PrintTo(const HitchCase& c, std::ostream* os) { *os << c.what; }

class Hitches : public ::testing::TestWithParam<HitchCase> {};

TEST_P(Hitches, MoveTheGameTimerAndKeepTheDelay) {
  const HitchCase& c = GetParam();
  sim::Simulation simulation(test::ScenarioFrom(
      std::string(R"({"frames": 5, "fps": 50, "startGameTime": 1000, "events": )") + c.events +
      "}"));
  std::vector<std::int32_t> timers;
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t) {
    timers.push_back(natives::GET_GAME_TIMER());
  })) << simulation.Fault();
  EXPECT_EQ(timers, c.timers);
  EXPECT_EQ(simulation.Summary().gameTimeMs, c.timers.back() - 1000 + 20);
}

INSTANTIATE_TEST_SUITE_P(
    Clock, Hitches,
    ::testing::Values(HitchCase{"none", "[]", {1000, 1020, 1040, 1060, 1080}},
                      HitchCase{"a_long_frame",
                                R"([{"frame": 2, "hitchMs": 700}])",
                                {1000, 1020, 1720, 1740, 1760}},
                      HitchCase{"two_frames_at_one_time",
                                R"([{"frame": 3, "hitchMs": 0}])",
                                {1000, 1020, 1040, 1040, 1060}},
                      HitchCase{"two_in_a_row",
                                R"([{"frame": 1, "hitchMs": 5}, {"frame": 2, "hitchMs": 5}])",
                                {1000, 1005, 1010, 1030, 1050}},
                      // Frame 0 comes that long after the start time.
                      HitchCase{"in_the_first_frame",
                                R"([{"frame": 0, "hitchMs": 30}])",
                                {1030, 1050, 1070, 1090, 1110}}));

TEST(Hitches, AWaitEndsInTheFirstFrameAtOrPastItsTime) {
  sim::Simulation simulation(
      test::ScenarioFrom(R"({"frames": 8, "events": [{"frame": 2, "hitchMs": 1000}]})"));
  std::vector<std::int64_t> resumed;
  simulation.SetScript([&] {
    scriptWait(100);  // from frame 0 at 60 fps: frame 7 without the hitch
    resumed.push_back(simulation.GetWorld().clock.frame);
    for (;;) scriptWait(0);
  });
  ASSERT_TRUE(simulation.Run()) << simulation.Fault();
  EXPECT_EQ(resumed, std::vector<std::int64_t>{2});
}

TEST(CharacterSwitch, TheFormerHandlesNameNothingAndAreNotedOnce) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 4,
      "events": [{"frame": 2, "switchCharacter": {"pedHandle": 9, "playerId": 4}}]})"));
  std::int32_t cachedPed = 0;
  std::int32_t cachedPlayer = 0;
  std::vector<std::int32_t> healthOfCached;
  std::vector<std::int32_t> freshPeds;
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame == 0) {
      cachedPed = natives::PLAYER_PED_ID();
      cachedPlayer = natives::PLAYER_ID();
    }
    healthOfCached.push_back(natives::GET_ENTITY_HEALTH(cachedPed));
    freshPeds.push_back(natives::PLAYER_PED_ID());
    natives::SET_PED_ARMOUR(cachedPed, 50);
    natives::SET_POLICE_IGNORE_PLAYER(cachedPlayer, true);
  })) << simulation.Fault();
  EXPECT_EQ(freshPeds, (std::vector<std::int32_t>{1, 1, 9, 9}));
  EXPECT_EQ(healthOfCached, (std::vector<std::int32_t>{200, 200, 0, 0}));
  const sim::PlayerModel& player = simulation.GetWorld().player;
  EXPECT_EQ(player.armour, 50) << "set before the switch only";
  EXPECT_EQ(player.staleHandleCalls, 6);
  int notes = 0;
  for (const auto& e : simulation.GetWorld().timeline.Entries()) {
    if (e.text.find("before a character switch") != std::string::npos) ++notes;
  }
  EXPECT_EQ(notes, 2) << "once for the ped, once for the player";
}

TEST(MovieRequests, FailedOnesAnswerTheFailHandleAndNeverLoad) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 8,
      "world": {"scaleform": {"loadFrames": 2, "failRequests": 2, "failHandle": 0}}})"));
  std::vector<std::int32_t> handles;
  std::vector<bool> loaded;
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame < 3) handles.push_back(natives::REQUEST_SCALEFORM_MOVIE("MP_BIG_MESSAGE_FREEMODE"));
    if (frame == 7) {
      for (std::int32_t h : handles) loaded.push_back(natives::HAS_SCALEFORM_MOVIE_LOADED(h));
      natives::DRAW_SCALEFORM_MOVIE_FULLSCREEN(handles[0], 255, 255, 255, 255, 0);
    }
  })) << simulation.Fault();
  EXPECT_EQ(handles, (std::vector<std::int32_t>{0, 0, 1}));
  EXPECT_EQ(loaded, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(simulation.GetWorld().scaleform.requestsFailed, 2);
}

TEST(MovieEviction, AnEvictedMovieStaysUnloadedAndDrawsNothing) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 12,
      "world": {"scaleform": {"loadFrames": 1}},
      "events": [{"frame": 4, "evictMovie": "MP_BIG_MESSAGE_FREEMODE"}]})"));
  std::int32_t movie = 0;
  std::vector<bool> loaded;
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame == 0) movie = natives::REQUEST_SCALEFORM_MOVIE("MP_BIG_MESSAGE_FREEMODE");
    loaded.push_back(natives::HAS_SCALEFORM_MOVIE_LOADED(movie));
    if (frame == 3 || frame == 5) {
      natives::BEGIN_SCALEFORM_MOVIE_METHOD(movie, "RESET_MOVIE");
      natives::END_SCALEFORM_MOVIE_METHOD();
    }
    natives::DRAW_SCALEFORM_MOVIE_FULLSCREEN(movie, 255, 255, 255, 255, 0);
    if (frame == 11) natives::SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED(&movie);
  })) << simulation.Fault();
  EXPECT_EQ(loaded, (std::vector<bool>{false, true, true, true, false, false, false, false, false,
                                       false, false, false}));
  const sim::ScaleformMovie& m = simulation.GetWorld().scaleform.movies.at(0);
  ASSERT_EQ(m.methods.size(), 1U) << "the method after the eviction is ignored";
  EXPECT_EQ(m.methods[0].frame, 3);
  EXPECT_EQ(m.timesDrawn, 3) << "frames 1 to 3 only";
  EXPECT_TRUE(m.evicted);
  EXPECT_TRUE(m.released);
}

TEST(NullOrEmptyText, AFixedAnswerHoldsWhateverIsAsked) {
  for (const auto& [setting, expected] :
       std::vector<std::pair<std::string, std::vector<std::int32_t>>>{
           {"", {1, 0}},
           {R"(, "world": {"nullOrEmptyTextAnswer": 0})", {0, 0}},
           {R"(, "world": {"nullOrEmptyTextAnswer": -5})", {-5, -5}}}) {
    sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 1)" + setting + "}"));
    std::vector<std::int32_t> answers;
    ASSERT_TRUE(RunScript(simulation, [&](std::int64_t) {
      answers.push_back(natives::NATIVE_0xCA042B6957743895(0));
      answers.push_back(natives::NATIVE_0xCA042B6957743895(12345));
    })) << simulation.Fault();
    EXPECT_EQ(answers, expected) << setting;
  }
}

// What the keyboard handler saw: the calls the script had made in the frame,
// and on which thread.
struct Seen {
  std::uint32_t key;
  std::size_t callsBefore;
  bool onScriptThread;
};
std::vector<Seen> seen;
std::size_t callsSoFar = 0;
constexpr std::size_t kOutsideTheScript = 99;  // between the script's frames
std::thread::id scriptThreadId;

void RecordingHandler(std::uint32_t key, std::uint16_t, std::uint8_t, std::int32_t, std::int32_t,
                      std::int32_t, std::int32_t) {
  seen.push_back({key, callsSoFar, std::this_thread::get_id() == scriptThreadId});
}

TEST(KeyboardMidFrame, ComesBeforeTheNamedCallFromTheWindowsThread) {
  seen.clear();
  scriptThreadId = std::this_thread::get_id();
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 2, "events": [
      {"frame": 1, "key": {"code": 3}, "atCall": 2},
      {"frame": 1, "key": {"code": 1}, "atCall": 0},
      {"frame": 1, "key": {"code": 2}},
      {"frame": 1, "key": {"code": 4}, "atCall": 2},
      {"frame": 1, "key": {"code": 5}, "atCall": 50}]})"));
  simulation.HostKeyboardHandlerRegister(&RecordingHandler);
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t) {
    for (callsSoFar = 0; callsSoFar < 3; ++callsSoFar) natives::GET_GAME_TIMER();
    callsSoFar = kOutsideTheScript;
  })) << simulation.Fault();
  // The message at the frame's start comes before the script runs; a call
  // past the frame's last comes once the script has yielded.
  ASSERT_EQ(seen.size(), 5U);
  const std::vector<std::pair<std::uint32_t, std::size_t>> expected = {
      {2, kOutsideTheScript}, {1, 0}, {3, 2}, {4, 2}, {5, kOutsideTheScript}};
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].key, expected[i].first) << i;
    EXPECT_EQ(seen[i].callsBefore, expected[i].second) << i;
    EXPECT_FALSE(seen[i].onScriptThread) << i;
  }
  // The trace places each message among the frame's calls.
  EXPECT_EQ(test::EntriesInFrame(simulation.GetTrace(), 1),
            (std::vector<std::string>{"keyboard", "keyboard", "GET_GAME_TIMER", "GET_GAME_TIMER",
                                      "keyboard", "keyboard", "GET_GAME_TIMER", "scriptWait",
                                      "keyboard"}));
}

}  // namespace
