// The HTML report of a run, one self-contained page that needs no network:
// the summary and seed, a timeline of the whole run (the bar's fill, the
// screen's fade, native calls per frame, the phases of the flow, and marks of
// taps, deaths, starts and unloads), a frame viewer with a zoom onto the bar's
// corner, the key frames of each death, a map of each respawn, the tables of
// deaths and of the phases' costs, and the notable events.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/game/drawing.h"
#include "sim/host/run_options.h"
#include "sim/host/scenario.h"
#include "sim/recording/trace_reader.h"

namespace sim {

class FlowObserver;
struct DeathRecord;
class ReportCollector;
class Simulation;
class World;

// Draws one frame's draw list (null: nothing drawn) as an SVG document, with
// the screen's fade at the frame's end (0 clear to 1 black) over it.
using FramePicture =
    std::function<std::string(const FrameDrawing* drawing, std::int64_t frame, float fadeLevel)>;

// The recording a report was built from: what its header says of where it
// was made, and how many of its answers the world model does not give.
struct RecordingOrigin {
  std::string file;
  RecordingHeader header;
  std::uint64_t unexpressed = 0;
  std::string recordingBreak;  // where the recording stops being whole; empty if it is
};

// What the page is written from besides the collector's gathering: a live
// simulation's, or a recording's run through the world (sim/replay/).
struct ReportSource {
  const Scenario& scenario;
  RunSummary summary;
  bool pluginLoaded = false;
  const FlowObserver& flow;
  const World& world;                          // its road nodes and timeline
  const RecordingOrigin* recording = nullptr;  // set when built from a recording
  // In place of the flow's deaths, when set: a recording's, whose maps show
  // only the search results the plug-in read.
  const std::vector<DeathRecord>* deaths = nullptr;
};

void WriteHtmlReport(std::ostream& out, const ReportSource& source,
                     const ReportCollector& collector, const FramePicture& picture);
void WriteHtmlReport(std::ostream& out, const Simulation& simulation,
                     const ReportCollector& collector, const FramePicture& picture);

// The page's style sheet and script: report.css and report.js beside this
// header, built in byte for byte. Everything the page needs is in the page:
// no font, script or picture is fetched, so it opens from disk.
std::string_view ReportStyle();
std::string_view ReportScript();

}  // namespace sim
