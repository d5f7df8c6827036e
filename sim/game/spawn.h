// The game's asynchronous spawn-point search and its road nodes.
#pragma once

#include "sim/game/handlers.h"

namespace sim {

struct SpawnModel {
  void Configure(const ScenarioNode& root);
  void BeginFrame(World& world);
  void EndFrame(World& world);
};

void RegisterSpawnNatives(HandlerTable& table);
bool ParseSpawnEvent(const ScenarioNode& event, EventList& out);

}  // namespace sim
