#include "sim/game/world.h"

#include <cstdio>
#include <cstdlib>

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

const char* World::AreaWithWork() const {
  if (screen.HasFrameWork()) return "screen";
  if (state.HasFrameWork(*this)) return "state";
  if (player.HasFrameWork()) return "player";
  if (spawn.HasFrameWork()) return "spawn";
  if (drawing.HasFrameWork()) return "drawing";
  if (scaleform.HasFrameWork()) return "scaleform";
  if (controls.HasFrameWork()) return "controls";
  return nullptr;
}

void World::WorkMissed(const char* area) {
  std::fprintf(
      stderr,
      "rebound-sim: the %s area has work for the frame that nothing noted (World::NoteWork)\n",
      area);
  std::abort();
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
