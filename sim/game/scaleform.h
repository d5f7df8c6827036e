// Scaleform movies: requests, loading, method calls and full-screen drawing.
#pragma once

#include "sim/game/handlers.h"

namespace sim {

struct ScaleformModel {
  void Configure(const ScenarioNode& root);
  void BeginFrame(World& world);
  void EndFrame(World& world);
};

void RegisterScaleformNatives(HandlerTable& table);
bool ParseScaleformEvent(const ScenarioNode& event, EventList& out);

}  // namespace sim
