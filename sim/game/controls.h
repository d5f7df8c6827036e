// Pad controls: presses and holds from the scenario, and the just-pressed
// edge that IS_CONTROL_JUST_PRESSED reports on the first frame of a press only.
// Taps in adjacent frames make one long press; a tap span with a tap every
// frame lets the control up between frames, a fresh press in each. The
// events (tap, hold, tap span, on pads 0 to 2) are in the scenario guide,
// docs/scenarios.md.
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
