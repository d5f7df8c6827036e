// Pad controls: presses, holds and the just-pressed edge.
#pragma once

#include "sim/game/handlers.h"

namespace sim {

struct ControlsModel {
  void Configure(const ScenarioNode& root);
  void BeginFrame(World& world);
  void EndFrame(World& world);
};

void RegisterControlsNatives(HandlerTable& table);
bool ParseControlsEvent(const ScenarioNode& event, EventList& out);

}  // namespace sim
