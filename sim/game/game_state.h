// Game-wide switches: fades after death and arrest, the death/arrest restart,
// pause, time scale, HUD and radar, post-effects.
#pragma once

#include <cstdint>

#include "sim/game/handlers.h"

namespace sim {

struct GameStateModel {
  bool fadeInAfterDeathArrest = true;
  bool fadeOutAfterArrest = true;
  bool fadeOutAfterDeath = true;
  bool flagAA391C72 = true;  // game function 0xAA391C728106F7AF, known by hash only

  void Configure(const ScenarioNode& root);
  void BeginFrame(World& world);
  void EndFrame(World& world);
};

void RegisterGameStateNatives(HandlerTable& table);
bool ParseGameStateEvent(const ScenarioNode& event, EventList& out);

}  // namespace sim
