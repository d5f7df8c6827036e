// Texture dictionaries, text commands, script graphics alignment and the per-frame draw list.
#pragma once

#include "sim/game/handlers.h"

namespace sim {

struct DrawingModel {
  void Configure(const ScenarioNode& root);
  void BeginFrame(World& world);
  void EndFrame(World& world);
};

void RegisterDrawingNatives(HandlerTable& table);
bool ParseDrawingEvent(const ScenarioNode& event, EventList& out);

// ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME when no feed post is open: a
// component of the open display-text command.
void DrawingAddPlayerNameComponent(World& world, CallFrame& call);

}  // namespace sim
