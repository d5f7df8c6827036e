#include "sim/game/scaleform.h"

#include "sim/game/world.h"

namespace sim {

void ScaleformModel::Configure(const ScenarioNode& /*root*/) {}
void ScaleformModel::BeginFrame(World& /*world*/) {}
void ScaleformModel::EndFrame(World& /*world*/) {}

void RegisterScaleformNatives(HandlerTable& /*table*/) {}

bool ParseScaleformEvent(const ScenarioNode& /*event*/, EventList& /*out*/) { return false; }

}  // namespace sim
