#include "sim/game/drawing.h"

#include "sim/game/world.h"

namespace sim {

void DrawingModel::Configure(const ScenarioNode& /*root*/) {}
void DrawingModel::BeginFrame(World& /*world*/) {}
void DrawingModel::EndFrame(World& /*world*/) {}

void RegisterDrawingNatives(HandlerTable& /*table*/) {}

bool ParseDrawingEvent(const ScenarioNode& /*event*/, EventList& /*out*/) { return false; }

void DrawingAddPlayerNameComponent(World& /*world*/, CallFrame& /*call*/) {}

}  // namespace sim
