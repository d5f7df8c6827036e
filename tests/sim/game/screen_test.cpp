// Screen fades as the script sees them: the exact frame a fade completes, a
// fade of 0 ms, a fade reversed half-way, and fades the game starts itself.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/natives.h"
#include "tests/support/sim_harness.h"

namespace {

namespace natives = rebound::natives;
using test::RunScript;

std::string ScenarioText(int fps, int frames, const std::string& events = "[]") {
  return "{\"fps\": " + std::to_string(fps) + ", \"frames\": " + std::to_string(frames) +
         ", \"events\": " + events + "}";
}

struct FadeTiming {
  const char* what;
  int fps;
  std::int64_t startFrame;
  std::int32_t ms;
  std::int64_t doneFrame;  // the first frame at or after start + ms
};

void PrintTo(const FadeTiming& c, std::ostream* os) { *os << c.what; }

class FadeTimings : public ::testing::TestWithParam<FadeTiming> {};

TEST_P(FadeTimings, FadeOutCompletesInTheFirstFrameAtOrAfterItsDuration) {
  const FadeTiming& c = GetParam();
  sim::Simulation simulation(test::ScenarioFrom(ScenarioText(c.fps, 120)));
  std::vector<std::int64_t> fadingOut;
  std::vector<std::int64_t> fadedOut;
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame == c.startFrame) natives::DO_SCREEN_FADE_OUT(c.ms);
    if (natives::IS_SCREEN_FADING_OUT()) fadingOut.push_back(frame);
    if (natives::IS_SCREEN_FADED_OUT()) fadedOut.push_back(frame);
  })) << simulation.Fault();
  ASSERT_FALSE(fadingOut.empty());
  EXPECT_EQ(fadingOut.front(), c.startFrame) << "fading from the frame of the call";
  EXPECT_EQ(fadingOut.back(), c.doneFrame - 1);
  EXPECT_EQ(fadingOut.size(), static_cast<std::size_t>(c.doneFrame - c.startFrame));
  ASSERT_FALSE(fadedOut.empty());
  EXPECT_EQ(fadedOut.front(), c.doneFrame);
  EXPECT_EQ(fadedOut.size(), static_cast<std::size_t>(120 - c.doneFrame)) << "stays faded out";
  EXPECT_EQ(simulation.GetWorld().screen.level, 1.0F);
}

INSTANTIATE_TEST_SUITE_P(Screen, FadeTimings,
                         ::testing::Values(FadeTiming{"exactly_on_a_frame_at_60fps", 60, 0, 1500,
                                                      90},
                                           FadeTiming{"between_frames_at_30fps", 30, 1, 1500, 46},
                                           FadeTiming{"uneven_frame_times_at_7fps", 7, 0, 1000, 7},
                                           FadeTiming{"one_ms_takes_the_next_frame", 60, 3, 1, 4}),
                         [](const auto& p) { return std::string(p.param.what); });

TEST(Screen, FadeOfZeroMsCompletesWithinTheCall) {
  sim::Simulation simulation(test::ScenarioFrom(ScenarioText(60, 20)));
  bool fadedOutAtOnce = false;
  bool stillFadingAfterCancel = true;
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame == 2) {
      natives::DO_SCREEN_FADE_OUT(0);
      fadedOutAtOnce = natives::IS_SCREEN_FADED_OUT() && !natives::IS_SCREEN_FADING_OUT();
      natives::DO_SCREEN_FADE_IN(0);
    }
    // A fade-out under way, cancelled as soon as it is seen.
    if (frame == 5) natives::DO_SCREEN_FADE_OUT(1500);
    if (frame == 8 && natives::IS_SCREEN_FADING_OUT()) {
      natives::DO_SCREEN_FADE_IN(0);
      stillFadingAfterCancel = natives::IS_SCREEN_FADING_OUT() || natives::IS_SCREEN_FADED_OUT();
    }
  })) << simulation.Fault();
  EXPECT_TRUE(fadedOutAtOnce);
  EXPECT_FALSE(stillFadingAfterCancel);
  EXPECT_EQ(simulation.GetWorld().screen.fade, sim::FadeState::FadedIn);
  EXPECT_EQ(simulation.GetWorld().screen.level, 0.0F);
  EXPECT_EQ(simulation.GetWorld().screen.fadeDoneFrame, 8);
}

TEST(Screen, AReversedFadeStartsFromTheLevelReachedAndTakesItsWholeDuration) {
  // 10 fps: 100 ms a frame.
  sim::Simulation simulation(test::ScenarioFrom(ScenarioText(10, 40)));
  std::vector<float> level(40, -1.0F);
  std::vector<sim::FadeState> state(40);
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    level[frame] = simulation.GetWorld().screen.level;
    state[frame] = simulation.GetWorld().screen.fade;
    if (frame == 0) natives::DO_SCREEN_FADE_OUT(1000);
    if (frame == 5) natives::DO_SCREEN_FADE_IN(1000);
  })) << simulation.Fault();
  EXPECT_FLOAT_EQ(level[5], 0.5F);
  EXPECT_FLOAT_EQ(level[6], 0.45F) << "a tenth of the way back from 0.5";
  EXPECT_FLOAT_EQ(level[10], 0.25F);
  EXPECT_EQ(state[14], sim::FadeState::FadingIn);
  EXPECT_EQ(state[15], sim::FadeState::FadedIn) << "1000 ms after the reversal";
  EXPECT_EQ(level[15], 0.0F);
}

TEST(Screen, AFadeTowardsWhatTheScreenAlreadyShowsChangesNothing) {
  sim::Simulation simulation(test::ScenarioFrom(ScenarioText(60, 10)));
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame == 1) natives::DO_SCREEN_FADE_IN(1500);
    if (frame == 2) natives::DO_SCREEN_FADE_OUT(0);
    if (frame == 3) natives::DO_SCREEN_FADE_OUT(1500);
    if (frame == 4) {
      EXPECT_TRUE(natives::IS_SCREEN_FADED_OUT());
    }
  })) << simulation.Fault();
  int fadesStarted = 0;
  for (const auto& e : simulation.GetWorld().timeline.Entries()) {
    if (e.category == "screen" && e.text.find("started") != std::string::npos) ++fadesStarted;
  }
  EXPECT_EQ(fadesStarted, 1) << "only the fade-out of 0 ms in frame 2";
}

TEST(Screen, TheGameFadesByItselfFromTheScenario) {
  sim::Simulation simulation(test::ScenarioFrom(
      ScenarioText(10, 30, R"([{"frame": 5, "fadeOut": 300}, {"frame": 20, "fadeIn": 0}])")));
  std::vector<bool> fadingOut(30);
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    fadingOut[frame] = natives::IS_SCREEN_FADING_OUT();
  })) << simulation.Fault();
  EXPECT_FALSE(fadingOut[4]);
  EXPECT_TRUE(fadingOut[5]) << "the event lands before the script's frame";
  EXPECT_TRUE(fadingOut[7]);
  EXPECT_FALSE(fadingOut[8]);
  EXPECT_EQ(simulation.GetWorld().screen.fade, sim::FadeState::FadedIn);
  EXPECT_EQ(simulation.GetWorld().screen.fadeBy, "game");
}

TEST(Screen, KeepsTheLevelAtEachFrameEndForThePictures) {
  // 10 fps: a 400 ms fade-out from frame 2 is a quarter further each frame;
  // a fade-in of 0 ms in frame 9 clears the screen within that frame.
  {
    sim::Simulation simulation(test::ScenarioFrom(
        ScenarioText(10, 12, R"([{"frame": 2, "fadeOut": 400}, {"frame": 9, "fadeIn": 0}])")));
    ASSERT_TRUE(RunScript(simulation, [](std::int64_t) {})) << simulation.Fault();
    const sim::ScreenModel& screen = simulation.GetWorld().screen;
    const float expected[] = {0, 0, 0, 0.25F, 0.5F, 0.75F, 1, 1, 1, 0, 0, 0};
    for (std::int64_t frame = 0; frame < 12; ++frame) {
      EXPECT_FLOAT_EQ(screen.LevelAtFrame(frame), expected[frame]) << "frame " << frame;
    }
    EXPECT_FLOAT_EQ(screen.LevelAtFrame(-1), 0.0F) << "before the run: clear";
    EXPECT_FLOAT_EQ(screen.LevelAtFrame(500), 0.0F) << "after it: as it ended";
    EXPECT_EQ(screen.LevelChanges().size(), 5U) << "one entry per change, none per still frame";
  }

  // Nothing is kept when no picture will be made.
  sim::SimOptions options;
  options.keepDrawings = false;
  sim::Simulation unpictured(
      test::ScenarioFrom(ScenarioText(10, 12, R"([{"frame": 2, "fadeOut": 400}])")), options);
  ASSERT_TRUE(RunScript(unpictured, [](std::int64_t) {})) << unpictured.Fault();
  EXPECT_TRUE(unpictured.GetWorld().screen.LevelChanges().empty());
}

TEST(Screen, BadFadeEventsNameTheField) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"events": [{"frame": 1, "fadeOut": -5}]})",
       "field 'events[0].fadeOut': expected an integer from 0"},
      {R"({"events": [{"frame": 1, "fadeIn": "slow"}]})",
       "field 'events[0].fadeIn': expected an integer, got a string"},
      {R"({"events": [{"fadeIn": 100}]})", "field 'events[0]': missing field 'frame'"},
      {R"({"events": [{"frame": 1, "fadeIn": 100, "fadeOut": 100}]})",
       "field 'events[0].fadeIn': unknown field"},
  };
  test::ExpectScenarioErrors("fades.json", cases);
}

}  // namespace
