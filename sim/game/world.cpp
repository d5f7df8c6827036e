#include "sim/game/world.h"

#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <type_traits>
#include <utility>

namespace sim {

std::int64_t EventFrame(const ScenarioNode& event) {
  return event.Child("frame").AsInt(0, INT32_MAX);
}

namespace {

// The type of each area in the list, for what is done without a world.
template <typename Visit>
void ForEachAreaType(Visit&& visit) {
  std::apply(
      [&](auto... area) {
        (visit(
             std::type_identity<std::remove_reference_t<decltype(std::declval<World&>().*area)>>{}),
         ...);
      },
      World::kAreas);
}

// What every area offers the world; a new area that lacks a part fails here.
template <typename Area>
concept WorldArea = requires(Area& area, const Area& constArea, World& world,
                             const ScenarioNode& node, HandlerRegistry& registry, EventList& out) {
  { Area::kName } -> std::convertible_to<const char*>;
  Area::RegisterNatives(registry);
  { Area::ParseEvent(node, out) } -> std::same_as<bool>;
  area.Configure(node);
  area.BeginFrame(world);
  area.EndFrame(world);
  { constArea.HasFrameWork(world) } -> std::same_as<bool>;
};

}  // namespace

void World::Configure(const ScenarioNode& root) {
  ForEachArea([&root](auto& area) { area.Configure(root); });
}

const char* World::AreaWithWork() const {
  const char* found = nullptr;
  ForEachArea([this, &found]<typename Area>(const Area& area) {
    static_assert(WorldArea<Area>);
    if (found == nullptr && area.HasFrameWork(*this)) found = Area::kName;
  });
  return found;
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
  ForEachAreaType(
      [&registry]<typename Area>(std::type_identity<Area>) { Area::RegisterNatives(registry); });
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
  // The first area that knows the event's kind takes it.
  bool taken = ParseClockEvent(event, out);
  ForEachAreaType([&]<typename Area>(std::type_identity<Area>) {
    taken = taken || Area::ParseEvent(event, out);
  });
  return taken;
}

}  // namespace sim
