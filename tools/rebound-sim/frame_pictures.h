// The frame pictures rebound-sim writes into a folder: the folder made before
// any work, then one SVG file per picked frame. Used by run (--frames-svg) and
// by panel-demo.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "sim/report/svg.h"

namespace sim {
class Simulation;
class World;
}  // namespace sim

namespace rebound_sim {

// The folder for the pictures, made now, so that a path that cannot be one is
// known before the run. `made` tells whether it was missing. False after
// saying why on standard error.
bool PrepareFramePictureFolder(const std::string& dir, bool* made = nullptr);

// The picture of `frame` of the world as DIR/frame-NNNNN.svg, put in place;
// its path, or nothing after saying why on standard error.
std::optional<std::string> WriteFramePicture(const sim::World& world, const std::string& dir,
                                             std::int64_t frame, bool debug, const char* what);

// One picture per chosen frame of the run (the default pick when none is
// chosen). A choice that names no frame of the run says so rather than write
// nothing in silence; `console`, when given, is told how many were written.
bool WriteFramePictures(const sim::Simulation& simulation, const std::string& dir,
                        const std::optional<sim::FramePick>& chosen, bool debug,
                        std::FILE* console);

}  // namespace rebound_sim
