#include "sim/game/spawn.h"

#include "sim/game/world.h"

namespace sim {

void SpawnModel::Configure(const ScenarioNode& /*root*/) {}
void SpawnModel::BeginFrame(World& /*world*/) {}
void SpawnModel::EndFrame(World& /*world*/) {}

void RegisterSpawnNatives(HandlerTable& /*table*/) {}

bool ParseSpawnEvent(const ScenarioNode& /*event*/, EventList& /*out*/) { return false; }

}  // namespace sim
