// The report of a recording against the report of the run it recorded: a
// seeded run with the built plug-in is traced and gathered for its report as
// it goes; the trace, run through the world without the plug-in, must give
// the same deaths, key frames, timeline, marks and pictures. The page then
// says where the recording came from.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "sim/report/recording_report.h"
#include "sim/report/report_collector.h"
#include "sim/report/svg.h"

namespace {

std::string Picture(const sim::FrameDrawing* drawing, std::int64_t frame, float fade) {
  return sim::FrameSvgText(drawing, frame, fade);
}

// A seeded run of a shipped scenario, its trace kept as text.
struct LiveRun {
  std::ostringstream trace;
  std::unique_ptr<sim::Simulation> simulation;
  sim::ReportCollector collector{true};

  explicit LiveRun(const std::string& name) {
    sim::SimOptions options;
    options.recordTrace = false;
    options.traceStream = &trace;
    options.seed = 11;
    simulation = std::make_unique<sim::Simulation>(
        sim::Scenario::Load(std::string(REBOUND_SOURCE_DIR) + "/scenarios/" + name + ".json"),
        options);
    simulation->SetWatcher(&collector);
    EXPECT_TRUE(simulation->LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation->Fault();
    EXPECT_TRUE(simulation->Run()) << simulation->Fault();
    simulation->UnloadPlugin();
  }
};

// The same recording run through the world for its report.
struct ReportOfRecording : sim::RecordingReport {
  explicit ReportOfRecording(const std::string& text)
      : sim::RecordingReport([text] { return sim::RecordingFrames::FromText(text, "run.jsonl"); },
                             "run.jsonl") {}

  std::string Page(const sim::RecordingOrigin& origin) const {
    std::ostringstream page;
    Write(page, origin, Picture);
    return page.str();
  }
};

// The deaths a report of the recording shows are the live run's, frame for
// frame.
void ExpectSameDeaths(const LiveRun& live, const ReportOfRecording& recorded) {
  const auto& liveDeaths = live.simulation->Flow().Deaths();
  const auto& deaths = recorded.Run().Flow().Deaths();
  ASSERT_EQ(deaths.size(), liveDeaths.size());
  ASSERT_FALSE(deaths.empty());
  for (std::size_t i = 0; i < deaths.size(); ++i) {
    const sim::DeathRecord& a = liveDeaths[i];
    const sim::DeathRecord& b = deaths[i];
    EXPECT_EQ(b.deathFrame, a.deathFrame);
    EXPECT_EQ(b.shardFrame, a.shardFrame);
    EXPECT_EQ(b.fadeOutFrame, a.fadeOutFrame);
    EXPECT_EQ(b.placeFrame, a.placeFrame);
    EXPECT_EQ(b.respawnFrame, a.respawnFrame);
    EXPECT_EQ(b.taps, a.taps);
    EXPECT_EQ(b.distance, a.distance);
    EXPECT_EQ(b.searchOutcome, a.searchOutcome);
    EXPECT_EQ(b.searchResultCount, a.searchResultCount);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(b.spawnPosition[k], a.spawnPosition[k]);
  }
}

// The key frames, with their pictures drawn from the recorded calls and the
// fade the recorded fade calls gave, alike before `samePicturesBefore`.
void ExpectSameFrames(const LiveRun& live, const ReportOfRecording& recorded,
                      std::int64_t samePicturesBefore) {
  const auto& liveFrames = live.collector.Frames();
  const auto& frames = recorded.Collector().Frames();
  ASSERT_EQ(frames.size(), liveFrames.size());
  std::size_t keys = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const sim::RecordedFrame& a = liveFrames[i];
    const sim::RecordedFrame& b = frames[i];
    ASSERT_EQ(b.frame, a.frame);
    EXPECT_EQ(b.key, a.key) << b.frame;
    EXPECT_EQ(b.gameTime, a.gameTime) << b.frame;
    EXPECT_EQ(b.phase, a.phase) << b.frame;
    EXPECT_EQ(b.fill, a.fill) << b.frame;
    EXPECT_EQ(b.fade, a.fade) << b.frame;
    EXPECT_EQ(b.callCount, a.callCount) << b.frame;
    if (b.frame < samePicturesBefore) {
      EXPECT_EQ(Picture(&b.drawing, b.frame, b.fade), Picture(&a.drawing, a.frame, a.fade))
          << b.frame;
    }
    keys += b.key.empty() ? 0 : 1;
  }
  EXPECT_GE(keys, recorded.Run().Flow().Deaths().size());
}

// The timeline's columns and marks.
void ExpectSameTimeline(const LiveRun& live, const ReportOfRecording& recorded) {
  ASSERT_EQ(recorded.Collector().Columns().size(), live.collector.Columns().size());
  for (std::size_t i = 0; i < live.collector.Columns().size(); ++i) {
    const sim::SeriesColumn& a = live.collector.Columns()[i];
    const sim::SeriesColumn& b = recorded.Collector().Columns()[i];
    EXPECT_EQ(b.maxFill, a.maxFill) << a.firstFrame;
    EXPECT_EQ(b.maxFade, a.maxFade) << a.firstFrame;
    EXPECT_EQ(b.calls, a.calls) << a.firstFrame;
    EXPECT_EQ(b.phaseFrames, a.phaseFrames) << a.firstFrame;
  }
  ASSERT_EQ(recorded.Collector().Marks().size(), live.collector.Marks().size());
  for (std::size_t i = 0; i < live.collector.Marks().size(); ++i) {
    EXPECT_EQ(recorded.Collector().Marks()[i].frame, live.collector.Marks()[i].frame);
    EXPECT_EQ(recorded.Collector().Marks()[i].kind, live.collector.Marks()[i].kind);
  }
}

TEST(RecordingReport, GivesTheLiveRunsDeathsKeyFramesTimelineAndPictures) {
  struct Case {
    const char* name;
    // The misbehaving world evicts the shard's movie, after which the game
    // draws nothing of it; no answer shows that (a draw has none), so the
    // recording's pictures still show the shard the plug-in asked for. The
    // pictures agree before this frame.
    std::int64_t samePicturesBefore;
  };
  constexpr std::int64_t kAll = INT64_MAX;
  for (const Case& c :
       {Case{"plain-death", kAll}, Case{"restarts", kAll}, Case{"misbehaving-world", 150}}) {
    const std::string name = c.name;
    SCOPED_TRACE(name);
    LiveRun live(name);
    ReportOfRecording recorded(live.trace.str());
    EXPECT_TRUE(recorded.Run().Differences().Empty());

    ExpectSameDeaths(live, recorded);
    ExpectSameFrames(live, recorded, c.samePicturesBefore);
    ExpectSameTimeline(live, recorded);
  }
}

TEST(RecordingReport, ThePageSaysWhereTheRecordingWasMadeAndShowsTheDeath) {
  LiveRun live("plain-death");
  const std::string header =
      R"({"format":"rebound-recording","version":1,"rebound":"0.1.0","build":"recorder",)"
      R"("platform":"windows","hostFile":"ScriptHookV.dll","hostVersion":"1.0.3095.0",)"
      R"("gameFile":"GTA5.exe","gameVersion":"1.0.3095.0","frameBase":123456})";
  ReportOfRecording recorded(header + "\n" + live.trace.str());
  const sim::RecordingOrigin origin{"field.jsonl", recorded.Outline().header, 0, ""};
  const std::string page = recorded.Page(origin);
  EXPECT_NE(page.find("<h1>Rebound recording: "), std::string::npos);
  EXPECT_NE(page.find("Built from the recording <code>field.jsonl</code> (format version 1): "
                      "Rebound 0.1.0, build recorder, on windows; host ScriptHookV.dll "
                      "1.0.3095.0; game GTA5.exe 1.0.3095.0; its frame 0 was the game's frame "
                      "123456."),
            std::string::npos);
  // The death's key frames: the shard, the bar, the fade and the black screen.
  for (const char* key :
       {"The wasted shard, first frame", "Bar full", "Fading out (", "Black screen",
        "Player placed at the spawn point", "First clear frame"}) {
    EXPECT_NE(page.find(key), std::string::npos) << key;
  }
  // The bar's fill, in its colour, in the pictures.
  EXPECT_NE(page.find("fill=\"rgb(224,50,52)\""), std::string::npos);
  // The map shows only the result the plug-in read, and says so.
  EXPECT_NE(page.find("2 more search results not shown"), std::string::npos);
}

}  // namespace
