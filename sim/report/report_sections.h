// The sections of the report page, each written from plain data so that it
// can be written (and tested) without a run: the summary at the top, the
// timeline, the frame viewer and key frames, the deaths, their maps, the
// phases' costs, the events, and the data the viewer's script reads.
// WriteHtmlReport (report.cpp) puts them together in this order.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <vector>

#include "sim/game/spawn.h"
#include "sim/game/timeline.h"
#include "sim/host/run_options.h"
#include "sim/host/scenario.h"
#include "sim/observe/flow_observer.h"
#include "sim/report/report.h"
#include "sim/report/report_collector.h"

namespace sim::report {

// The title, the run's numbers, its seed and how to replay it (or, for a
// recording, where it was made and how to replay it), and the page's
// navigation. Opens the page: everything before the first section.
void WriteSummary(std::ostream& out, const Scenario& scenario, const RunSummary& summary,
                  bool pluginLoaded, const RecordingOrigin* recording = nullptr);

// What the timeline draws: the collector's series, marks and kept frames.
struct TimelineInput {
  const std::vector<SeriesColumn>& columns;
  std::int64_t framesPerColumn;
  std::int64_t framesSeen;
  const std::vector<RunMark>& marks;
  std::uint64_t marksLeftOut;
  const std::vector<RecordedFrame>& frames;  // its key frames are marked on the axis
  double fps;
};

// The whole run on one time axis, with its legend.
void WriteTimeline(std::ostream& out, const TimelineInput& in);

// The frames kept for the viewer and how they were picked.
struct KeptFrames {
  const std::vector<RecordedFrame>& frames;
  std::uint64_t candidates;  // frames that could have been kept
  std::uint64_t stride;      // every stride-th candidate was
  std::uint64_t keyFramesLeftOut;
};

void WriteViewer(std::ostream& out, const KeptFrames& kept);
void WriteKeyFrames(std::ostream& out, const KeptFrames& kept);

// The kept frames' pictures, inert until the viewer shows one, and what the
// viewer shows beside them, as JSON for the page's script.
void WriteFrameData(std::ostream& out, const Scenario& scenario,
                    const std::vector<RecordedFrame>& frames, const FramePicture& picture);

// The inset's view onto the pictures: {x, y, width, height} in picture pixels.
std::array<double, 4> InsetBox(const std::vector<RecordedFrame>& frames);

// `deathCount` counts the deaths left out of `deaths` too.
void WriteDeathTable(std::ostream& out, const std::vector<DeathRecord>& deaths,
                     std::uint64_t deathCount, double msPerFrame);
void WriteMaps(std::ostream& out, const std::vector<DeathRecord>& deaths, std::uint64_t deathCount,
               const std::vector<RoadNode>& roadNodes);
// A top-down map of one respawn around the place of death: north (+y) up.
void WriteDeathMap(std::ostream& out, const DeathRecord& d, int number,
                   const std::vector<RoadNode>& roadNodes);

void WritePhaseTable(std::ostream& out, const std::array<PhaseCost, kFlowPhaseCount>& costs);
void WriteEvents(std::ostream& out, const Timeline& timeline);

}  // namespace sim::report
