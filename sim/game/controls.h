// Pad controls: presses and holds from the scenario, and the just-pressed
// edge that IS_CONTROL_JUST_PRESSED reports on the first frame of a press only.
//
// Events (each may add "pad": 0..2, default 0):
//   {"frame": 200, "tap": 223}                                   down in frame 200 only
//   {"frame": 200, "hold": 223, "frames": 30}                    down in frames 200..229
//   {"from": 200, "to": 400, "tapEveryFrames": 6, "control": 223}  taps at 200, 206, ... <= 400
//   {"from": 200, "to": 400, "tapEveryFrames": 1, "control": 223}  a fresh press in every frame
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "sim/game/handlers.h"

namespace sim {

struct ControlState {
  bool down = false;
  std::int64_t pressedFrame = -1;  // first frame of the current or last press
  std::int64_t releaseFrame = -1;  // first frame it is up again
};

struct ControlPress {
  std::int64_t frame = 0;
  std::int32_t pad = 0;
  std::int32_t control = 0;
  std::int64_t frames = 1;  // how long it is held
};

struct ControlsModel : QuietArea {
  std::map<std::pair<std::int32_t, std::int32_t>, ControlState> controls;  // by (pad, control)
  std::vector<ControlPress> presses;  // every press the scenario made, in order

  static constexpr const char* kName = "controls";  // the area's name in notes and checks
  // The area's natives' handlers, by the natives' names.
  static void RegisterNatives(HandlerRegistry& registry);
  // Takes the event if it is one of this area's kinds.
  static bool ParseEvent(const ScenarioNode& event, EventList& out);
  void Configure(const ScenarioNode& root);
  // Lets go of the controls whose hold has ended.
  // Most frames nothing moves: the checks are inline, the work is not.
  void BeginFrame(World& world) {
    if (HasFrameWork(world)) ReleaseControls(world);
  }
  bool HasFrameWork(const World& /*world*/) const { return !controls.empty(); }
  void ReleaseControls(World& world);

  // Holds the control down for `frames` frames from the current one. A press
  // while the control is still down only lengthens the hold: the control was
  // never up in between, so it makes no new edge.
  void Press(World& world, std::int32_t pad, std::int32_t control, std::int64_t frames);
  // A press that makes an edge even while the control is down: it went up
  // and down again between two frames (a tap in every frame).
  void PressAgain(World& world, std::int32_t pad, std::int32_t control);
  bool JustPressed(const World& world, std::int32_t pad, std::int32_t control) const;
};

// A tap (down in its frame only) or a hold, as the scenario's events make
// them; `again` makes an edge even while the control is still down.
ScheduledEvent PressEvent(std::int64_t frame, std::int32_t pad, std::int32_t control,
                          std::int64_t frames, bool again = false);

}  // namespace sim
