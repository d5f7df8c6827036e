#include "sim/game/controls.h"

#include <algorithm>
#include <string>

#include "sim/game/world.h"

namespace sim {

namespace {

// Pads as the game numbers them: 0 the player's, then the frontend's.
constexpr std::int64_t kMaxPad = 2;
// The game's control ids stay well below this; a larger one is a typo.
constexpr std::int64_t kMaxControl = 1000;

}  // namespace

void ControlsModel::Configure(const ScenarioNode& /*root*/) {}

void ControlsModel::ReleaseControls(World& world) {
  for (auto& [key, state] : controls) {
    if (state.down && world.clock.frame >= state.releaseFrame) state.down = false;
  }
}

void ControlsModel::Press(World& world, std::int32_t pad, std::int32_t control,
                          std::int64_t frames) {
  const std::int64_t now = world.clock.frame;
  presses.push_back(ControlPress{now, pad, control, frames});
  world.NoteWork();
  ControlState& state = controls[{pad, control}];
  if (state.down) {
    state.releaseFrame = std::max(state.releaseFrame, now + frames);
    return;
  }
  state.down = true;
  state.pressedFrame = now;
  state.releaseFrame = now + frames;
}

void ControlsModel::PressAgain(World& world, std::int32_t pad, std::int32_t control) {
  const std::int64_t now = world.clock.frame;
  presses.push_back(ControlPress{now, pad, control, 1});
  world.NoteWork();
  ControlState& state = controls[{pad, control}];
  state.down = true;
  state.pressedFrame = now;
  state.releaseFrame = std::max(state.releaseFrame, now + 1);
}

bool ControlsModel::JustPressed(const World& world, std::int32_t pad, std::int32_t control) const {
  const auto it = controls.find({pad, control});
  return it != controls.end() && it->second.down && it->second.pressedFrame == world.clock.frame;
}

namespace {

void IsControlJustPressed(World& world, CallFrame& call) {
  call.ReturnBool(world.controls.JustPressed(world, call.Int(0), call.Int(1)));
}

}  // namespace

ScheduledEvent PressEvent(std::int64_t frame, std::int32_t pad, std::int32_t control,
                          std::int64_t frames, bool again) {
  std::string description = (frames == 1 ? "tap " : "hold ") + std::to_string(control);
  if (pad != 0) description += " on pad " + std::to_string(pad);
  if (frames != 1) description += " for " + std::to_string(frames) + " frames";
  if (again) {
    return ScheduledEvent{frame, description, [pad, control](World& world) {
                            world.controls.PressAgain(world, pad, control);
                          }};
  }
  return ScheduledEvent{frame, description, [pad, control, frames](World& world) {
                          world.controls.Press(world, pad, control, frames);
                        }};
}

void ControlsModel::RegisterNatives(HandlerRegistry& registry) {
  registry.Add("IS_CONTROL_JUST_PRESSED", IsControlJustPressed);
}

// {"frame": 200, "tap": 223}: down for that frame only.
// {"frame": 200, "hold": 223, "frames": 30}: down for 30 frames.
// {"from": 200, "to": 400, "tapEveryFrames": 6, "control": 223}: a tap at
// 200, 206, ... up to 400. Each may name a "pad" (0 when left out).
bool ControlsModel::ParseEvent(const ScenarioNode& event, EventList& out) {
  const bool tap = event.Has("tap");
  const bool hold = event.Has("hold");
  const bool repeated = event.Has("tapEveryFrames");
  if (!tap && !hold && !repeated) return false;
  const auto pad = static_cast<std::int32_t>(event.Int("pad", 0, 0, kMaxPad));

  if (repeated) {
    // A tap in every frame makes a fresh press in each (the control goes up
    // and down again between frames); otherwise a tap is down in its frame.
    const std::int64_t every = event.Child("tapEveryFrames").AsInt(1, INT32_MAX);
    const auto control = static_cast<std::int32_t>(event.Child("control").AsInt(0, kMaxControl));
    const std::int64_t from = event.Child("from").AsInt(0, INT32_MAX);
    const ScenarioNode toNode = event.Child("to");
    const std::int64_t to = toNode.AsInt(0, INT32_MAX);
    if (to < from)
      toNode.Fail("expected a frame at or after 'from' (" + std::to_string(from) + ")");
    // Each tap is an event held in memory: a span that would make millions of
    // them is a mistake in the scenario, not a run anyone can watch.
    constexpr std::int64_t kMaxTapsPerSpan = 100'000;
    const std::int64_t taps = (to - from) / every + 1;
    if (taps > kMaxTapsPerSpan) {
      toNode.Fail("makes " + std::to_string(taps) + " taps; a span may make at most " +
                  std::to_string(kMaxTapsPerSpan));
    }
    for (std::int64_t frame = from; frame <= to; frame += every) {
      out.push_back(PressEvent(frame, pad, control, 1, every == 1));
    }
    return true;
  }
  const std::int64_t frame = EventFrame(event);
  if (tap) {
    const auto control = static_cast<std::int32_t>(event.Child("tap").AsInt(0, kMaxControl));
    out.push_back(PressEvent(frame, pad, control, 1));
    return true;
  }
  const auto control = static_cast<std::int32_t>(event.Child("hold").AsInt(0, kMaxControl));
  const std::int64_t frames = event.Child("frames").AsInt(1, INT32_MAX);
  out.push_back(PressEvent(frame, pad, control, frames));
  return true;
}

}  // namespace sim
