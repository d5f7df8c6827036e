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

#include "sim/game/drawing.h"

namespace sim {

class ReportRecorder;
class Simulation;

// Draws one frame's draw list (null: nothing drawn) as an SVG document, with
// the screen's fade at the frame's end (0 clear to 1 black) over it.
using FramePicture =
    std::function<std::string(const FrameDrawing* drawing, std::int64_t frame, float fadeLevel)>;

void WriteHtmlReport(std::ostream& out, const Simulation& simulation,
                     const ReportRecorder& recorder, const FramePicture& picture);

// The page's style sheet and script: report.css and report.js beside this
// header, built in byte for byte. Everything the page needs is in the page:
// no font, script or picture is fetched, so it opens from disk.
std::string_view ReportStyle();
std::string_view ReportScript();

}  // namespace sim
