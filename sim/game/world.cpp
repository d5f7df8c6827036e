#include "sim/game/world.h"

#include "sim/native_dispatch.h"

namespace sim {

std::int64_t EventFrame(const ScenarioNode& event) {
  return event.Child("frame").AsInt(0, INT32_MAX);
}

void World::Configure(const ScenarioNode& root) {
  player.Configure(root);
  feed.Configure(root);
  state.Configure(root);
  spawn.Configure(root);
  drawing.Configure(root);
  screen.Configure(root);
  scaleform.Configure(root);
  controls.Configure(root);
  labels.Configure(root);
}

void World::BeginFrame() {
  // The game's own systems move before the script sees the frame: a fade
  // advances, a search finishes, a movie or dictionary loads.
  screen.BeginFrame(*this);
  state.BeginFrame(*this);
  player.BeginFrame(*this);
  spawn.BeginFrame(*this);
  drawing.BeginFrame(*this);
  scaleform.BeginFrame(*this);
  controls.BeginFrame(*this);
}

void World::EndFrame() {
  player.EndFrame(*this);
  state.EndFrame(*this);
  spawn.EndFrame(*this);
  drawing.EndFrame(*this);
  screen.EndFrame(*this);
  scaleform.EndFrame(*this);
  controls.EndFrame(*this);
}

void World::Note(const std::string& category, const std::string& text) {
  timeline.Add(TimelineEntry{clock.frame, clock.gameTimer, category, text});
}

void World::RaiseGameFault(const char* category, const std::string& message) {
  Note(category, "fault: " + message);
  if (faultSink_) faultSink_(message);
}

namespace {

// The clock belongs to the world, not to any one area of the game.
void GetGameTimer(World& world, CallFrame& call) { call.ReturnInt(world.clock.gameTimer); }
void GetFrameCount(World& world, CallFrame& call) { call.ReturnInt(world.clock.frameCount); }

}  // namespace

void World::RegisterHandlers(HandlerRegistry& registry) {
  registry.Add("GET_GAME_TIMER", GetGameTimer);
  registry.Add("GET_FRAME_COUNT", GetFrameCount);
  RegisterPlayerNatives(registry);
  RegisterFeedNatives(registry);
  RegisterGameStateNatives(registry);
  RegisterSpawnNatives(registry);
  RegisterDrawingNatives(registry);
  RegisterScreenNatives(registry);
  RegisterScaleformNatives(registry);
  RegisterControlsNatives(registry);
  RegisterLabelsNatives(registry);
}

const NativeDispatch& World::Dispatch() {
  static const NativeDispatch dispatch = [] {
    HandlerRegistry registry;
    RegisterHandlers(registry);
    return NativeDispatch(NativeTable(), registry);
  }();
  return dispatch;
}

ScheduledEvent HitchEvent(std::int64_t frame, std::int64_t ms) {
  return ScheduledEvent{
      frame, "the game stalls: this frame comes " + std::to_string(ms) + " ms after the one before",
      [ms](World& world) { world.clock.Hitch(ms); }};
}

namespace {

bool ParseClockEvent(const ScenarioNode& event, EventList& out) {
  if (!event.Has("hitchMs")) return false;
  const std::int64_t frame = EventFrame(event);
  out.push_back(HitchEvent(frame, event.Child("hitchMs").AsInt(0, INT32_MAX)));
  return true;
}

}  // namespace

bool World::ParseEvent(const ScenarioNode& event, EventList& out) {
  return ParseClockEvent(event, out) || ParsePlayerEvent(event, out) ||
         ParseGameStateEvent(event, out) || ParseSpawnEvent(event, out) ||
         ParseDrawingEvent(event, out) || ParseScreenEvent(event, out) ||
         ParseScaleformEvent(event, out) || ParseControlsEvent(event, out);
}

}  // namespace sim
