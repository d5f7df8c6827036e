#include "sim/game/controls.h"

#include "sim/game/world.h"

namespace sim {

void ControlsModel::Configure(const ScenarioNode& /*root*/) {}
void ControlsModel::BeginFrame(World& /*world*/) {}
void ControlsModel::EndFrame(World& /*world*/) {}

void RegisterControlsNatives(HandlerTable& /*table*/) {}

bool ParseControlsEvent(const ScenarioNode& /*event*/, EventList& /*out*/) { return false; }

}  // namespace sim
