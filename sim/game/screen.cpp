#include "sim/game/screen.h"

#include "sim/game/world.h"

namespace sim {

void ScreenModel::Configure(const ScenarioNode& /*root*/) {}
void ScreenModel::BeginFrame(World& /*world*/) {}
void ScreenModel::EndFrame(World& /*world*/) {}

void RegisterScreenNatives(HandlerTable& /*table*/) {}

bool ParseScreenEvent(const ScenarioNode& /*event*/, EventList& /*out*/) { return false; }

}  // namespace sim
