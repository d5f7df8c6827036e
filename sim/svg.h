// Pictures of what the simulated game drew: one frame's draw list as an SVG
// image of a 16:9 screen, and the choice of frames to picture. Used by
// rebound-sim's --frames-svg and by tests that show a layout.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/game/drawing.h"

namespace sim {

struct SvgOptions {
  double width = 1280.0;  // pixels; the screen is pictured at 16:9
  double height = 720.0;
};

// Rectangles and sprites in their colours (a sprite as a tinted box named by
// its texture), texts in their size, colour, justification and wrap, each
// placed through its script alignment (AlignedScreenX/Y).
void WriteFrameSvg(std::ostream& out, const FrameDrawing* frame, std::int64_t frameNumber,
                   const SvgOptions& options = {});

// Which frames to picture: "0,60,120" (those frames), "every:N" (frames 0, N,
// 2N, ...) or "drawn" (every frame in which anything was drawn).
struct FramePick {
  std::vector<std::int64_t> listed;
  std::int64_t every = 0;
  bool drawn = false;
};
inline constexpr const char* kDefaultFramePick = "every:30";

// Nullopt, with `error` set, when the text is not one of the forms above.
std::optional<FramePick> ParseFramePick(const std::string& text, std::string& error);
// The frames of a run of `framesRun` frames that the pick names, in order.
std::vector<std::int64_t> PickedFrames(const FramePick& pick, std::int64_t framesRun,
                                       const DrawingModel& drawing);
// "frame-00042.svg"
std::string SvgFileName(std::int64_t frame);

// Text made safe inside XML and HTML: markup characters escaped, control
// bytes (which XML does not allow) dropped.
std::string XmlEscape(const std::string& text);

}  // namespace sim
