// Screen fades: fading out, faded out, fading in, faded in.
#pragma once

#include "sim/game/handlers.h"

namespace sim {

struct ScreenModel {
  void Configure(const ScenarioNode& root);
  void BeginFrame(World& world);
  void EndFrame(World& world);
};

void RegisterScreenNatives(HandlerTable& table);
bool ParseScreenEvent(const ScenarioNode& event, EventList& out);

}  // namespace sim
