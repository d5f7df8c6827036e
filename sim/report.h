// The HTML report of a run: the summary, each death and respawn with its
// figures, pictures of the key frames, and the whole timeline.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace sim {

class Simulation;

// Draws one frame as an SVG document; empty when the frame was not kept.
using FramePicture = std::function<std::string(std::int64_t frame)>;

void WriteHtmlReport(std::ostream& out, const Simulation& simulation, const FramePicture& picture);

}  // namespace sim
