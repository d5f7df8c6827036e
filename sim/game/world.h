// The simulated game world: the clock, the player and every area of the game
// the plug-in touches, each in its own model. Handlers of natives and scenario
// events change it; the simulation steps it one frame at a time.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>

#include "sim/game/controls.h"
#include "sim/game/drawing.h"
#include "sim/game/feed.h"
#include "sim/game/game_state.h"
#include "sim/game/handlers.h"
#include "sim/game/labels.h"
#include "sim/game/player.h"
#include "sim/game/scaleform.h"
#include "sim/game/screen.h"
#include "sim/game/spawn.h"
#include "sim/game/timeline.h"
#include "sim/game/unmodelled.h"

namespace sim {

// Frames come at the scenario's fixed step unless the game stalls: a hitch
// event makes its frame come any number of ms after the one before (0 for
// two frames at one game time), and every later frame keeps that delay.
//   {"frame": 300, "hitchMs": 2500}
struct Clock {
  std::int64_t frame = 0;       // frames since the script first ran
  std::int64_t nowMs = 0;       // unwrapped game time in ms
  std::int32_t gameTimer = 0;   // what GET_GAME_TIMER answers: nowMs wrapped to 32 bits
  std::int32_t frameCount = 0;  // what GET_FRAME_COUNT answers
  std::int64_t stepMs = 0;      // this frame's fixed step from the one before (0 for frame 0)
  std::int64_t hitchesMs = 0;   // what the hitches so far added to the fixed steps (may be < 0)

  // This frame comes `ms` after the one before, rather than its fixed step.
  void Hitch(std::int64_t ms) {
    const std::int64_t delta = ms - stepMs;
    hitchesMs += delta;
    nowMs += delta;
    gameTimer = static_cast<std::int32_t>(static_cast<std::uint32_t>(nowMs));
    stepMs = ms;
  }
};

// {"frame": F, "hitchMs": N}: frame F comes N ms after the frame before it.
ScheduledEvent HitchEvent(std::int64_t frame, std::int64_t ms);

class World {
 public:
  Clock clock;
  PlayerModel player;
  FeedModel feed;
  GameStateModel state;
  SpawnModel spawn;
  DrawingModel drawing;
  ScreenModel screen;
  ScaleformModel scaleform;
  ControlsModel controls;
  LabelsModel labels;
  UnmodelledCalls unmodelled;
  Timeline timeline;

  // Every area, once. Whatever visits all areas (settings, handlers, events,
  // the frame's work) walks this list, so that no visit can leave one out.
  // The order is the order of the visits: an area's settings are read, its
  // events tried and its frame-end work done in it.
  static constexpr std::tuple kAreas{
      &World::player, &World::feed,      &World::state,    &World::spawn,  &World::drawing,
      &World::screen, &World::scaleform, &World::controls, &World::labels, &World::unmodelled};

  // Reads every area's settings from the scenario.
  void Configure(const ScenarioNode& root);
  // The game's own work at the start of a frame, before the script runs: a
  // fade advances, a search finishes, a movie or dictionary loads.
  void BeginFrame() {
    if (!workPending_) [[likely]] {
      CheckNoWorkMissed();
      return;
    }
    // The screen starts the frame first: a fade that completes is noted
    // before any other area's work of the frame, as the timeline has it.
    screen.BeginFrame(*this);
    ForEachArea([this]<typename Area>(Area& area) {
      if constexpr (!std::is_same_v<Area, ScreenModel>) area.BeginFrame(*this);
    });
  }
  // The game's work after the script has run: what is drawn, what expires.
  void EndFrame() {
    if (!workPending_) [[likely]] {
      CheckNoWorkMissed();
      return;
    }
    // In the list's order: the game's own death handling may start a fade,
    // which the screen files after it.
    ForEachArea([this](auto& area) { area.EndFrame(*this); });
    workPending_ = AreaWithWork() != nullptr;
  }
  // Whatever gives an area work at a frame's start or end (a fade, a search,
  // a death, a pause lifted, a movie, a press, a hidden HUD component, a draw)
  // notes it here. Most frames no area has any, and then BeginFrame and
  // EndFrame pass every area by with one test; the first frame looks at all
  // of them, for what the scenario set up.
  void NoteWork() { workPending_ = true; }
  // The first area with work at a frame's start or end, or nullptr.
  const char* AreaWithWork() const;

  void Note(const std::string& category, const std::string& text);

  // Where the real game would crash or silently garble what the script asked
  // for (an index out of range, a movie used after its release): every area
  // raises such a fault here. The note goes to the timeline under the area's
  // category; the sink (installed by whoever runs the world, the simulation)
  // stops the run, and on the script fibre does not return. Without a sink
  // the note is all that happens.
  void RaiseGameFault(const char* category, const std::string& message);
  using GameFaultSink = std::function<void(const std::string& message)>;
  void SetGameFaultSink(GameFaultSink sink) { faultSink_ = std::move(sink); }

  // Every area registers its natives' handlers, by the natives' names.
  static void RegisterHandlers(HandlerRegistry& registry);
  // Tries each area's event kinds; false if no area knows the event.
  static bool ParseEvent(const ScenarioNode& event, EventList& out);

 private:
  template <typename Visit>
  void ForEachArea(Visit&& visit) {
    std::apply([&](auto... area) { (visit(this->*area), ...); }, kAreas);
  }
  template <typename Visit>
  void ForEachArea(Visit&& visit) const {
    std::apply([&](auto... area) { (visit(this->*area), ...); }, kAreas);
  }

  // Where work was not noted, an area would silently stop moving: builds
  // with assertions check, on every frame that passes the areas by, that
  // none has any.
  void CheckNoWorkMissed() const {
#ifndef NDEBUG
    if (const char* area = AreaWithWork()) WorkMissed(area);
#endif
  }
  [[noreturn]] static void WorkMissed(const char* area);

  GameFaultSink faultSink_;
  bool workPending_ = true;
};

}  // namespace sim
