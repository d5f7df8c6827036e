// The simulated game world: the clock, the player and every area of the game
// the plug-in touches, each in its own model. Handlers of natives and scenario
// events change it; the simulation steps it one frame at a time.
#pragma once

#include <cstdint>
#include <string>

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

namespace sim {

struct Clock {
  std::int64_t frame = 0;       // frames since the script first ran
  std::int64_t nowMs = 0;       // unwrapped game time in ms
  std::int32_t gameTimer = 0;   // what GET_GAME_TIMER answers: nowMs wrapped to 32 bits
  std::int32_t frameCount = 0;  // what GET_FRAME_COUNT answers
};

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
  Timeline timeline;

  // Reads every area's settings from the scenario.
  void Configure(const ScenarioNode& root);
  // The game's own work at the start of a frame, before the script runs.
  void BeginFrame();
  // The game's work after the script has run: what is drawn, what expires.
  void EndFrame();

  void Note(const std::string& category, const std::string& text);

  // Every area's natives.
  static const HandlerTable& Handlers();
  // Tries each area's event kinds; false if no area knows the event.
  static bool ParseEvent(const ScenarioNode& event, EventList& out);
};

}  // namespace sim
