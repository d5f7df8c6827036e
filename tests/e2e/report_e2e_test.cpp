// What the report gathers of whole runs with the built plug-in: the key frames
// through each death, the marks, the maps' points, the timeline's columns and
// the viewer's sample, and that it holds no more than it shows.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "sim/report/report.h"
#include "sim/report/report_collector.h"
#include "sim/report/svg.h"

namespace {

struct RecordedRun {
  std::unique_ptr<sim::Simulation> simulation;
  sim::ReportCollector collector;

  explicit RecordedRun(const std::string& name, std::int64_t frames = -1, bool takeDrawings = true)
      : collector(takeDrawings) {
    sim::Scenario scenario =
        sim::Scenario::Load(std::string(REBOUND_SOURCE_DIR) + "/scenarios/" + name + ".json");
    if (frames >= 0) scenario.frames = frames;
    sim::SimOptions options;
    options.recordTrace = false;
    options.seed = 7;
    simulation = std::make_unique<sim::Simulation>(std::move(scenario), options);
    simulation->SetWatcher(&collector);
    EXPECT_TRUE(simulation->LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation->Fault();
    EXPECT_TRUE(simulation->Run()) << simulation->Fault();
    simulation->UnloadPlugin();
  }

  std::vector<const sim::RecordedFrame*> Keys() const {
    std::vector<const sim::RecordedFrame*> keys;
    for (const auto& f : collector.Frames()) {
      if (!f.key.empty()) keys.push_back(&f);
    }
    return keys;
  }
};

// The nine moments of one death, in order, each in the state it names.
void ExpectKeyFramesOfOneDeath(const std::vector<const sim::RecordedFrame*>& keys,
                               const sim::DeathRecord& d) {
  ASSERT_EQ(keys.size(), 9U);
  const char* expected[] = {"The wasted shard", "Bar shown at", "Bar at 5",
                            "Bar full",         "Fading out",   "Black screen",
                            "Player placed",    "Fading in",    "First clear frame"};
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i]->key.rfind(expected[i], 0), 0U) << i << ": " << keys[i]->key;
    if (i > 0) {
      EXPECT_LT(keys[i - 1]->frame, keys[i]->frame) << keys[i]->key;
    }
  }
  EXPECT_EQ(keys[0]->frame, d.shardFrame);
  EXPECT_GE(keys[1]->fill, 0.0F);
  EXPECT_LT(keys[1]->fill, 5.0F);
  EXPECT_GE(keys[2]->fill, 50.0F);
  EXPECT_LT(keys[2]->fill, 55.0F);
  EXPECT_GE(keys[3]->fill, 99.999F);
  EXPECT_LE(keys[3]->frame, d.fadeOutFrame);
  EXPECT_EQ(keys[4]->fadeState, sim::FadeState::FadingOut);
  EXPECT_GE(keys[4]->fade, 0.5F);
  EXPECT_LT(keys[4]->fade, 0.6F);
  EXPECT_EQ(keys[5]->fadeState, sim::FadeState::FadedOut);
  EXPECT_EQ(keys[6]->frame, d.placeFrame);
  EXPECT_EQ(keys[7]->fadeState, sim::FadeState::FadingIn);
  EXPECT_LE(keys[7]->fade, 0.5F);
  EXPECT_GT(keys[7]->fade, 0.4F);
  EXPECT_EQ(keys[8]->fadeState, sim::FadeState::FadedIn);
  EXPECT_EQ(keys[8]->fade, 0.0F);
  // The bar's frames drew it; the black and the clear frames drew nothing.
  for (int i : {1, 2, 3}) EXPECT_TRUE(keys[i]->drawn) << keys[i]->key;
  for (int i : {5, 8}) EXPECT_FALSE(keys[i]->drawn) << keys[i]->key;
}

TEST(Report, KeyFramesGoThroughTheWholeDeath) {
  RecordedRun run("plain-death");
  const auto& deaths = run.simulation->Flow().Deaths();
  ASSERT_EQ(deaths.size(), 1U);
  ExpectKeyFramesOfOneDeath(run.Keys(), deaths[0]);
  // Every viewer frame carries the calls made in it.
  for (const auto& f : run.collector.Frames()) {
    EXPECT_EQ(f.calls.size(), f.callCount) << "frame " << f.frame;
    EXPECT_EQ(f.death, 1U);
  }
  const auto& shard = *run.Keys()[0];
  ASSERT_FALSE(shard.calls.empty());
  EXPECT_EQ(shard.calls.back()->name, "DRAW_SCALEFORM_MOVIE_FULLSCREEN");
}

TEST(Report, EachDeathHasItsOwnKeyFrames) {
  RecordedRun run("two-deaths");
  const auto& deaths = run.simulation->Flow().Deaths();
  ASSERT_EQ(deaths.size(), 2U);
  const auto keys = run.Keys();
  ASSERT_EQ(keys.size(), 18U);
  for (std::size_t death = 0; death < 2; ++death) {
    const std::vector<const sim::RecordedFrame*> own(keys.begin() + 9 * death,
                                                     keys.begin() + 9 * (death + 1));
    for (const auto* k : own) EXPECT_EQ(k->death, death + 1);
    ExpectKeyFramesOfOneDeath(own, deaths[death]);
  }
  // More candidates than the viewer holds: a sample every stride-th, with
  // every key frame, in frame order.
  const auto& frames = run.collector.Frames();
  EXPECT_LE(frames.size(), sim::ReportCollector::kViewerFrames + keys.size());
  if (run.collector.Candidates() > sim::ReportCollector::kViewerFrames) {
    EXPECT_GT(run.collector.Stride(), 1U);
  }
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(frames[i - 1].frame, frames[i].frame);
    }
    if (frames[i].key.empty()) {
      EXPECT_EQ(frames[i].candidate % run.collector.Stride(), 0U);
    }
  }
}

TEST(Report, MarksTapsDeathsLoadAndUnload) {
  RecordedRun run("tapping");
  const auto& d = run.simulation->Flow().Deaths().at(0);
  ASSERT_GT(d.taps, 0);
  int taps = 0;
  std::vector<sim::MarkKind> others;
  for (const auto& m : run.collector.Marks()) {
    if (m.kind == sim::MarkKind::Tap) {
      ++taps;
      EXPECT_GT(m.frame, d.shardFrame);
      EXPECT_LT(m.frame, d.fadeOutFrame);
    } else {
      others.push_back(m.kind);
      if (m.kind == sim::MarkKind::Death) {
        EXPECT_EQ(m.frame, d.deathFrame);
      }
    }
  }
  EXPECT_EQ(taps, d.taps);
  EXPECT_EQ(others, (std::vector<sim::MarkKind>{sim::MarkKind::Load, sim::MarkKind::ScriptStart,
                                                sim::MarkKind::Death, sim::MarkKind::Unload}));
  EXPECT_EQ(run.collector.Marks().back().frame, run.simulation->FramesRun() - 1);
}

TEST(Report, MarksScriptRestartsAndTheHostsUnload) {
  RecordedRun run("restarts");
  std::vector<std::int64_t> starts;
  std::vector<std::int64_t> unloads;
  for (const auto& m : run.collector.Marks()) {
    if (m.kind == sim::MarkKind::ScriptStart) starts.push_back(m.frame);
    if (m.kind == sim::MarkKind::Unload) unloads.push_back(m.frame);
  }
  // The first start, then one in each frame the host restarted the script.
  EXPECT_EQ(starts, (std::vector<std::int64_t>{0, 120, 335, 876}));
  EXPECT_EQ(unloads, (std::vector<std::int64_t>{1100}));
}

TEST(Report, HostEventsMarkedByName) {
  const struct {
    const char* event;
    bool marked;
    sim::MarkKind kind;
  } cases[] = {
      {"attach", true, sim::MarkKind::Load},   {"scriptStart", true, sim::MarkKind::ScriptStart},
      {"detach", true, sim::MarkKind::Unload}, {"scriptWait", false, sim::MarkKind::Tap},
      {"keyboard", false, sim::MarkKind::Tap}, {"scriptRegister", false, sim::MarkKind::Tap},
  };
  for (const auto& c : cases) {
    sim::MarkKind kind = sim::MarkKind::Tap;
    EXPECT_EQ(sim::HostEventMark(c.event, kind), c.marked) << c.event;
    EXPECT_EQ(kind, c.kind) << c.event;
  }
}

double Distance2d(const double* a, const double* b) { return std::hypot(a[0] - b[0], a[1] - b[1]); }

TEST(Report, MapsKeepTheSearchAndThePointChosen) {
  {
    RecordedRun run("plain-death");
    const auto& d = run.simulation->Flow().Deaths().at(0);
    ASSERT_TRUE(d.searched);
    EXPECT_NEAR(Distance2d(d.searchCentre, d.deathPosition), 100.0, 0.5);
    EXPECT_EQ(d.searchResults.size(), 3U);
    EXPECT_EQ(d.searchResultCount, 3U);
    ASSERT_TRUE(d.chosen);
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(d.chosenPoint[i], d.spawnPosition[i]);
  }
  {
    // The search fails: the road node is the point chosen, and no result is kept.
    RecordedRun run("road-node-fallback");
    const auto& d = run.simulation->Flow().Deaths().at(0);
    EXPECT_TRUE(d.searched);
    EXPECT_TRUE(d.searchResults.empty());
    ASSERT_TRUE(d.chosen);
    EXPECT_EQ(d.searchOutcome, "road node");
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(d.chosenPoint[i], d.spawnPosition[i]);
  }
  {
    // Too far: the point chosen is kept though the player goes back to the
    // place of death.
    RecordedRun run("far-spawn");
    const auto& d = run.simulation->Flow().Deaths().at(0);
    ASSERT_TRUE(d.chosen);
    EXPECT_GT(Distance2d(d.chosenPoint, d.deathPosition), 300.0);
    EXPECT_EQ(d.searchOutcome, "place of death");
    EXPECT_DOUBLE_EQ(Distance2d(d.spawnPosition, d.deathPosition), 0.0);
  }
}

TEST(Report, TimelineColumnsWidenAndCoverTheWholeRun) {
  constexpr std::int64_t kFrames = 10000;
  RecordedRun run("plain-death", kFrames);
  const auto& columns = run.collector.Columns();
  const std::int64_t width = run.collector.FramesPerColumn();
  // 10000 frames in at most 2048 columns: 8 frames each.
  EXPECT_EQ(width, 8);
  EXPECT_LE(columns.size(), sim::ReportCollector::kMaxColumns);
  std::int64_t frames = 0;
  float fill = -1.0F;
  float fade = 0.0F;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    EXPECT_EQ(columns[i].firstFrame, static_cast<std::int64_t>(i) * width);
    std::uint32_t phases = 0;
    for (auto n : columns[i].phaseFrames) phases += n;
    EXPECT_EQ(phases, columns[i].frames);
    frames += columns[i].frames;
    fill = std::max(fill, columns[i].maxFill);
    fade = std::max(fade, columns[i].maxFade);
  }
  EXPECT_EQ(frames, kFrames);
  EXPECT_GE(fill, 99.999F);
  EXPECT_EQ(fade, 1.0F);
}

TEST(Report, DrawListsAreTakenUnlessThePicturesWantThemToo) {
  // One simulation at a time: each run's figures are read before the next.
  const auto itemsOfEachFrame = [](bool takeDrawings, bool& modelKeepsAny) {
    RecordedRun run("plain-death", -1, takeDrawings);
    modelKeepsAny = !run.simulation->GetWorld().drawing.frames.empty();
    std::vector<std::size_t> items;
    for (const auto& f : run.collector.Frames()) items.push_back(f.drawing.items.size());
    return items;
  };
  bool takenKeeps = true;
  bool sharedKeeps = false;
  const std::vector<std::size_t> taken = itemsOfEachFrame(true, takenKeeps);
  const std::vector<std::size_t> shared = itemsOfEachFrame(false, sharedKeeps);
  EXPECT_FALSE(takenKeeps);
  EXPECT_TRUE(sharedKeeps);
  EXPECT_EQ(taken, shared);
}

}  // namespace
