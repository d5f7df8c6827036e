// Heap allocations of the respawn flow, counted by the simulator: the plug-in
// allocates only in the tick that creates the respawn bar and in the first
// death's tick (its timer list), for any label length and in every language
// of the game; and the simulator, keeping no trace, allocates nothing in the
// frames of an idle run or of a death cycle away from its transitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/host/simulation.h"
#include "src/host/process_state.h"
#include "src/host/script_main.h"
#include "tests/support/sim_harness.h"

namespace {

using sim::FlowPhase;

// One frame as the counter saw it.
struct FrameCount {
  std::int64_t frame;
  FlowPhase phase;  // at frame end
  std::uint64_t plugin;
  std::uint64_t simulator;
  std::uint32_t calls;
  std::size_t notes;  // entries the frame added to the timeline
};

struct RunCounts {
  std::vector<FrameCount> frames;
  std::vector<std::string> drawnLabels;  // the bar's label text, each frame it was drawn
  std::string fault;
};

// `frames` frames of the plug-in's whole script with deaths at the given
// frames, the bar's label in `language` given as `label`.
RunCounts RunDeaths(const std::string& label, int language, std::vector<int> deathFrames,
                    int frames, bool keepDrawings = true) {
  rebound::testing_seam::ResetProcessStateForTesting();
  nlohmann::json scenario = {
      {"frames", frames},
      {"player", {{"position", {100.0, 200.0, 30.0}}}},
      {"world",
       {{"language", language},
        {"labelsByLanguage", {{std::to_string(language), {{"KS_RESPAWN_B", label}}}}},
        {"textures", {{"loaded", {"timerbars"}}}},
        {"spawnSearch",
         {{"frames", 3}, {"outcome", "complete"}, {"results", {{150.0, 200.0, 30.0}}}}}}},
      {"events", nlohmann::json::array()}};
  for (int f : deathFrames) scenario["events"].push_back({{"frame", f}, {"health", 0}});

  RunCounts run;
  sim::Simulation simulation(test::ScenarioFrom(scenario.dump()),
                             sim::SimOptions{.recordTrace = false, .keepDrawings = keepDrawings});
  simulation.SetScript([] { rebound::ScriptMain(); });
  const sim::Timeline& timeline = simulation.GetWorld().timeline;
  for (int f = 0; f < frames; ++f) {
    const std::size_t notesBefore = timeline.Entries().size();
    if (!simulation.RunFrames(1)) break;
    const sim::AllocationCounts& a = simulation.AllocationsInLastFrame();
    run.frames.push_back({f, simulation.Flow().Phase(), a.plugin, a.simulator,
                          simulation.CallsInLastFrame(), timeline.Entries().size() - notesBefore});
    for (const sim::DrawItem& item : simulation.GetWorld().drawing.DrawList(f)) {
      if (item.kind == sim::DrawKind::Text) run.drawnLabels.push_back(item.text);
    }
  }
  run.fault = simulation.Fault();
  return run;
}

// The ticks allowed to allocate: each one that created the respawn bar (the
// frame the flow entered BarFilling), and the tick of the first death (the
// frame it entered DeathPause), which starts the flow's two timers.
std::vector<std::int64_t> AllocatingTicks(const RunCounts& run) {
  std::vector<std::int64_t> allowed;
  bool firstDeathSeen = false;
  FlowPhase before = FlowPhase::Watching;
  for (const FrameCount& f : run.frames) {
    if (f.phase == FlowPhase::BarFilling && before != FlowPhase::BarFilling)
      allowed.push_back(f.frame);
    if (f.phase == FlowPhase::DeathPause && before == FlowPhase::Watching && !firstDeathSeen) {
      firstDeathSeen = true;
      allowed.push_back(f.frame);
    }
    before = f.phase;
  }
  return allowed;
}

// Whole copies of `piece`, padded with dots to exactly `bytes` bytes: valid
// UTF-8 that the long mode cuts in the middle of a character.
std::string Repeat(const std::string& piece, std::size_t bytes) {
  std::string text;
  while (text.size() + piece.size() <= bytes) text += piece;
  return text + std::string(bytes - text.size(), '.');
}

// Labels of every length that chooses a different path: empty, short, the
// last length held inside a std::string (15) and the first that is not (16),
// the last short text (99) and the first long one (100), 150 bytes in long
// mode, and multi-byte texts of the languages that make labels long.
const std::vector<std::string>& Labels() {
  static const std::vector<std::string> labels = {
      "",
      "Respawn",
      std::string(15, 'a'),
      std::string(16, 'b'),
      std::string(99, 'c'),
      std::string(100, 'd'),
      std::string(150, 'e'),
      "Возрождение",                                // 22 bytes of Cyrillic
      "Επαναφορά",                                  // Greek
      "重生",                                       // 6 bytes
      "復活するにはタップ",                         // 27 bytes
      "부활하려면 누르세요",                        // Korean
      Repeat("Нажмите, чтобы возродиться. ", 150),  // long mode, cut mid-character
      Repeat("按住以重生。", 150),
  };
  return labels;
}

// Every language code of the game; 8, 9, 10 and 12 lay text out differently.
class RespawnAllocations : public ::testing::TestWithParam<int> {
 protected:
  void TearDown() override { rebound::testing_seam::ResetProcessStateForTesting(); }
};

TEST_P(RespawnAllocations, PluginAllocatesOnlyWhenTheBarIsCreatedAndAtTheFirstDeath) {
  const int language = GetParam();
  for (const std::string& label : Labels()) {
    SCOPED_TRACE("label of " + std::to_string(label.size()) + " bytes: \"" + label + "\"");
    // Two whole death cycles: the second death finds the timer list in place.
    const RunCounts run = RunDeaths(label, language, {10, 700}, 1300);
    ASSERT_EQ(run.fault, "");

    const std::vector<std::int64_t> allowed = AllocatingTicks(run);
    ASSERT_EQ(allowed.size(), 3U) << "two bar creations and one first death";
    for (const FrameCount& f : run.frames) {
      const bool isAllowed = std::find(allowed.begin(), allowed.end(), f.frame) != allowed.end();
      if (isAllowed) {
        // The bar itself is made here: the count must see the plug-in's
        // allocations, or the zeros elsewhere prove nothing.
        EXPECT_GT(f.plugin, 0U) << "frame " << f.frame << " in " << sim::FlowPhaseName(f.phase);
      } else {
        EXPECT_EQ(f.plugin, 0U) << "frame " << f.frame << " in " << sim::FlowPhaseName(f.phase);
      }
    }
    // Both respawns completed, and the bar showed the label as the game gave it.
    EXPECT_EQ(run.frames.back().phase, FlowPhase::Watching);
    ASSERT_FALSE(run.drawnLabels.empty());
    for (const std::string& drawn : run.drawnLabels) EXPECT_EQ(drawn, label);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLanguage, RespawnAllocations, ::testing::Range(0, 13));

// With no trace and no pictures, the simulator's own handling of the plug-in's
// calls allocates nothing: in every frame of an idle run, and in the settled
// frames of a death cycle that write nothing on the timeline (a note, such as
// the bar passing another 10 %, is text made for the person watching).
TEST(SimulatorAllocations, NoneInIdleFramesNorInTheSteadyFramesOfADeathCycle) {
  const RunCounts idle = RunDeaths("Respawn", 0, {}, 300, false);
  ASSERT_EQ(idle.fault, "");
  for (const FrameCount& f : idle.frames) {
    if (f.frame == 0) continue;  // start-up: the script starts, the ticker is posted
    ASSERT_EQ(f.simulator, 0U) << "idle frame " << f.frame;
    ASSERT_EQ(f.calls, 2U);
  }

  for (const std::string& label :
       {std::string("Respawn"), std::string(16, 'b'), std::string(150, 'e')}) {
    SCOPED_TRACE(std::to_string(label.size()) + " bytes");
    const RunCounts run = RunDeaths(label, 0, {10, 700}, 1300, false);
    ASSERT_EQ(run.fault, "");
    // The steady frames: the bar filling, well after it appeared and before it
    // is full, and the watching frames between the two deaths.
    std::int64_t steadyFilling = 0;
    std::int64_t noted = 0;
    std::uint64_t callsInSteadyFrames = 0;
    for (std::size_t i = 10; i + 10 < run.frames.size(); ++i) {
      const FrameCount& f = run.frames[i];
      const bool settled =
          run.frames[i - 10].phase == f.phase && run.frames[i + 10].phase == f.phase;
      if (!settled || (f.phase != FlowPhase::BarFilling && f.phase != FlowPhase::Watching)) {
        continue;
      }
      if (f.notes > 0) {
        ++noted;
        continue;
      }
      EXPECT_EQ(f.simulator, 0U) << "frame " << f.frame << " in " << sim::FlowPhaseName(f.phase);
      if (f.phase == FlowPhase::BarFilling) ++steadyFilling;
      callsInSteadyFrames += f.calls;
    }
    EXPECT_GT(steadyFilling, 600) << "the steady frames of both bars were looked at";
    EXPECT_LE(noted, 20) << "a note for each 10 % of each bar, and no more";
    EXPECT_GT(callsInSteadyFrames, 500U * 30U);
  }
}

}  // namespace
