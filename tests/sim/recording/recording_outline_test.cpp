// A recording's outline: the clock fitted to its recorded game times, and
// what of them no frame rate and hitches can give.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/recording/recording_outline.h"

namespace {

// What a list holds, for a failure's message.
std::string Listed(const sim::UnexpressedList& list) {
  std::string out;
  for (const sim::Unexpressed& item : list.Items()) {
    out += item.what + " from frame " + std::to_string(item.firstFrame) + ": " + item.detail + "\n";
  }
  return out;
}

TEST(RecordingOutline, TheClockFitsTheRateAndHitchesAndKeepsASleepingScriptAsleep) {
  // 30 fps with a stall of 250 ms in frame 3; the script waits 300 ms in
  // frame 9, unseen until it runs again.
  const auto recorded = [](std::int64_t woke) {
    std::vector<std::optional<std::int64_t>> times;
    for (std::int64_t f = 0; f < 40; ++f) {
      times.push_back(5000 + f * 1000 / 30 + (f >= 3 ? 250 : 0));
      if (f > 9 && f < woke) times.back().reset();
    }
    return times;
  };
  const auto fit = [&](std::int64_t woke, sim::UnexpressedList& unexpressed) {
    return sim::FitClock(recorded(woke), {sim::RecordedWait{9, 300, woke, woke}}, unexpressed);
  };
  struct Wake {
    std::int64_t woke;
    std::vector<std::pair<std::int64_t, std::int64_t>> hitches;  // empty: not checked
    bool listed;
  };
  // 300 ms after frame 9 is frame 18 at this rate; a later wake holds the
  // unseen frames back with hitches of their own, an earlier one cannot be.
  const Wake wakes[] = {{18, {{3, 284}}, false}, {20, {}, false}, {16, {}, true}};
  for (const Wake& w : wakes) {
    SCOPED_TRACE(w.woke);
    sim::UnexpressedList unexpressed;
    const sim::ClockFit clock = fit(w.woke, unexpressed);
    EXPECT_EQ(clock.fps, 30);
    EXPECT_EQ(clock.start, 5000);
    if (!w.hitches.empty()) {
      EXPECT_EQ(clock.hitches, w.hitches);
    }
    if (w.woke == 20) {
      EXPECT_GT(clock.hitches.size(), 1U);
      EXPECT_EQ(clock.hitches.front(), (std::pair<std::int64_t, std::int64_t>{3, 284}));
    }
    ASSERT_EQ(unexpressed.Items().size(), w.listed ? 1U : 0U) << Listed(unexpressed);
    if (w.listed) {
      EXPECT_EQ(unexpressed.Items()[0].what, "scriptWait");
      EXPECT_EQ(unexpressed.Items()[0].firstFrame, 9);
    }
  }
}

}  // namespace
