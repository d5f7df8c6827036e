#include "sim/game/world.h"

namespace sim {

void HandlerTable::Set(std::uint64_t hash, NativeHandler handler) { handlers_[hash] = handler; }

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

namespace {

// The clock belongs to the world, not to any one area of the game.
void GetGameTimer(World& world, CallFrame& call) { call.ReturnInt(world.clock.gameTimer); }
void GetFrameCount(World& world, CallFrame& call) { call.ReturnInt(world.clock.frameCount); }

}  // namespace

const HandlerTable& World::Handlers() {
  static const HandlerTable table = [] {
    HandlerTable t;
    t.Set(0x9CD27B0045628463, GetGameTimer);
    t.Set(0xFC8202EFC642E6F2, GetFrameCount);
    RegisterPlayerNatives(t);
    RegisterFeedNatives(t);
    RegisterGameStateNatives(t);
    RegisterSpawnNatives(t);
    RegisterDrawingNatives(t);
    RegisterScreenNatives(t);
    RegisterScaleformNatives(t);
    RegisterControlsNatives(t);
    RegisterLabelsNatives(t);
    return t;
  }();
  return table;
}

bool World::ParseEvent(const ScenarioNode& event, EventList& out) {
  return ParsePlayerEvent(event, out) || ParseGameStateEvent(event, out) ||
         ParseSpawnEvent(event, out) || ParseDrawingEvent(event, out) ||
         ParseScreenEvent(event, out) || ParseScaleformEvent(event, out) ||
         ParseControlsEvent(event, out);
}

}  // namespace sim
