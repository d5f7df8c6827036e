// Controls as the script sees them: IS_CONTROL_JUST_PRESSED is true on the
// first frame of a press only, for taps, holds and taps at a rate.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/natives.h"
#include "tests/support/sim_harness.h"

namespace {

namespace natives = rebound::natives;

constexpr std::int32_t kRespawnTap = 223;

struct PressCase {
  const char* what;
  const char* events;
  std::vector<std::int64_t> justPressed;  // frames in which (pad 0, 223) was just pressed
};

void PrintTo(const PressCase& c, std::ostream* os) { *os << c.what; }

class JustPressed : public ::testing::TestWithParam<PressCase> {};

TEST_P(JustPressed, IsTrueOnTheFirstFrameOfEachPressOnly) {
  const PressCase& c = GetParam();
  sim::Simulation simulation(
      test::ScenarioFrom(std::string(R"({"frames": 40, "events": )") + c.events + "}"));
  std::vector<std::int64_t> seen;
  simulation.SetScript([&] {
    for (;;) {
      const bool first = natives::IS_CONTROL_JUST_PRESSED(0, kRespawnTap);
      // Asking again in the same frame is not a new press, nor does it use one up.
      EXPECT_EQ(natives::IS_CONTROL_JUST_PRESSED(0, kRespawnTap), first);
      if (first) seen.push_back(simulation.GetWorld().clock.frame);
      scriptWait(0);
    }
  });
  ASSERT_TRUE(simulation.Run()) << simulation.Fault();
  EXPECT_EQ(seen, c.justPressed);
}

INSTANTIATE_TEST_SUITE_P(
    Controls, JustPressed,
    ::testing::Values(
        PressCase{"tap", R"([{"frame": 10, "tap": 223}])", {10}},
        PressCase{"hold_counts_once", R"([{"frame": 10, "hold": 223, "frames": 5}])", {10}},
        PressCase{"taps_with_a_frame_between",
                  R"([{"frame": 10, "tap": 223}, {"frame": 12, "tap": 223}])",
                  {10, 12}},
        // Never up in between: one long press.
        PressCase{"taps_in_adjacent_frames",
                  R"([{"frame": 10, "tap": 223}, {"frame": 11, "tap": 223}])",
                  {10}},
        PressCase{"tap_during_a_hold",
                  R"([{"frame": 10, "hold": 223, "frames": 10}, {"frame": 15, "tap": 223}])",
                  {10}},
        PressCase{"tap_in_the_frame_a_hold_ends",
                  R"([{"frame": 10, "hold": 223, "frames": 10}, {"frame": 20, "tap": 223}])",
                  {10}},
        PressCase{"tap_a_frame_after_a_hold_ends",
                  R"([{"frame": 10, "hold": 223, "frames": 10}, {"frame": 21, "tap": 223}])",
                  {10, 21}},
        PressCase{"tapping_at_a_rate",
                  R"([{"from": 10, "to": 30, "tapEveryFrames": 6, "control": 223}])",
                  {10, 16, 22, 28}},
        // Up and down again between frames: a fresh press in each.
        PressCase{"tapping_in_every_frame",
                  R"([{"from": 10, "to": 13, "tapEveryFrames": 1, "control": 223}])",
                  {10, 11, 12, 13}},
        PressCase{"tapping_in_every_frame_during_a_hold",
                  R"([{"frame": 8, "hold": 223, "frames": 10},
                      {"from": 10, "to": 11, "tapEveryFrames": 1, "control": 223}])",
                  {8, 10, 11}},
        PressCase{"the_last_tap_may_fall_on_to",
                  R"([{"from": 10, "to": 22, "tapEveryFrames": 6, "control": 223}])",
                  {10, 16, 22}},
        PressCase{"another_pad", R"([{"frame": 10, "tap": 223, "pad": 1}])", {}},
        PressCase{"another_control", R"([{"frame": 10, "tap": 22}])", {}}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(Controls, EveryTapIsInTheTimeline) {
  sim::Simulation simulation(test::ScenarioFrom(
      R"({"frames": 30, "events": [{"from": 10, "to": 22, "tapEveryFrames": 6, "control": 223},
                                   {"frame": 25, "hold": 223, "frames": 3, "pad": 2}]})"));
  ASSERT_TRUE(simulation.Run()) << simulation.Fault();
  std::vector<std::string> taps;
  for (const auto& e : simulation.GetWorld().timeline.Entries()) {
    if (e.category == "event") taps.push_back(std::to_string(e.frame) + " " + e.text);
  }
  EXPECT_EQ(taps, (std::vector<std::string>{"10 tap 223", "16 tap 223", "22 tap 223",
                                            "25 hold 223 on pad 2 for 3 frames"}));
}

TEST(Controls, BadEventsNameTheField) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"events": [{"from": 1, "to": 9, "tapEveryFrames": 0, "control": 223}]})",
       "field 'events[0].tapEveryFrames': expected an integer from 1"},
      {"{\"events\": [{\"from\": 20,\n \"to\": 10, \"tapEveryFrames\": 6, \"control\": 223}]}",
       "bad.json:2: field 'events[0].to': expected a frame at or after 'from' (20)"},
      {R"({"events": [{"from": 1, "to": 9, "tapEveryFrames": 3}]})",
       "field 'events[0]': missing field 'control'"},
      {R"({"events": [{"frame": 1, "hold": 223}]})", "field 'events[0]': missing field 'frames'"},
      {R"({"events": [{"frame": 1, "hold": 223, "frames": 0}]})",
       "field 'events[0].frames': expected an integer from 1"},
      {R"({"events": [{"frame": 1, "tap": "X"}]})",
       "field 'events[0].tap': expected an integer, got a string"},
      {R"({"events": [{"frame": 1, "tap": 223, "pad": 3}]})",
       "field 'events[0].pad': expected an integer from 0 to 2, got 3"},
      {R"({"events": [{"frame": 1, "tap": 223, "hold": 223}]})",
       "field 'events[0].hold': unknown field"},
  };
  test::ExpectScenarioErrors("bad.json", cases);
}

}  // namespace
