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

class World;

struct SvgOptions {
  // Pixels; the screen is pictured at 16:9, at the size of a common game
  // screen so that the HUD's small texts read as they do in the game.
  double width = 1920.0;
  double height = 1080.0;
  // The game's screen fade at the end of the frame, 0 clear to 1 black
  // (ScreenModel::LevelAtFrame): drawn over everything else.
  double fadeLevel = 0.0;
  // Adds what only a developer needs: the frame number and fade level, each
  // movie's name and outline, and each sprite's texture name.
  bool debug = false;
};

// Rectangles and sprites in their colours (a sprite as a tinted box), texts
// in their size, colour, justification and wrap, each placed through its
// script alignment (AlignedScreenX/Y); a shard as the game shows it, a large
// title over a dark band across the screen; then the screen fade.
void WriteFrameSvg(std::ostream& out, const FrameDrawing* frame, std::int64_t frameNumber,
                   const SvgOptions& options = {});
// The same as a text, under the given screen fade: the picture of a frame
// that the HTML report embeds.
std::string FrameSvgText(const FrameDrawing* frame, std::int64_t frameNumber, float fadeLevel);
// The picture of one frame of a run: what was drawn in it, under the screen's
// fade at the frame's end, with the debug additions when asked for. The files
// of rebound-sim's --frames-svg and of its panel demo.
void WriteWorldFrameSvg(std::ostream& out, const World& world, std::int64_t frame, bool debug);

// Which frames to picture: "0,60,120" (those frames), "every:N" (frames 0, N,
// 2N, ...) or "drawn" (every frame in which anything was drawn).
struct FramePick {
  std::vector<std::int64_t> listed;
  std::int64_t every = 0;
  bool drawn = false;
};
inline constexpr const char* kDefaultFramePick = "every:30";
// kDefaultFramePick, read.
FramePick DefaultFramePick();

// Nullopt, with `error` set, when the text is not one of the forms above.
std::optional<FramePick> ParseFramePick(const std::string& text, std::string& error);
// The frames of a run of `framesRun` frames that the pick names, in order.
std::vector<std::int64_t> PickedFrames(const FramePick& pick, std::int64_t framesRun,
                                       const DrawingModel& drawing);
// "frame-00042.svg"
std::string SvgFileName(std::int64_t frame);
// Whether a picture of `pick` in a run of at most `maxFrames` frames may take
// the file name `name`: SvgFileName of a frame the pick can name.
bool IsPictureFileName(const FramePick& pick, const std::string& name, std::int64_t maxFrames);

// Text made safe inside XML and HTML: markup characters escaped, control
// bytes (which XML does not allow) dropped.
std::string XmlEscape(const std::string& text);

}  // namespace sim
