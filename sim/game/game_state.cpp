#include "sim/game/game_state.h"

#include "sim/game/world.h"

namespace sim {

void GameStateModel::Configure(const ScenarioNode& /*root*/) {}
void GameStateModel::BeginFrame(World& /*world*/) {}
void GameStateModel::EndFrame(World& /*world*/) {}

namespace {

void NoteSetting(World& world, const char* name, bool& field, bool value) {
  world.Note("settings", std::string(name) + " " + (value ? "true" : "false"));
  field = value;
}

void SetFadeInAfterDeathArrest(World& world, CallFrame& call) {
  NoteSetting(world, "fade in after death/arrest", world.state.fadeInAfterDeathArrest,
              call.Bool(0));
}
void SetFadeOutAfterArrest(World& world, CallFrame& call) {
  NoteSetting(world, "fade out after arrest", world.state.fadeOutAfterArrest, call.Bool(0));
}
void SetFadeOutAfterDeath(World& world, CallFrame& call) {
  NoteSetting(world, "fade out after death", world.state.fadeOutAfterDeath, call.Bool(0));
}
void SetFlagAA391C72(World& world, CallFrame& call) {
  NoteSetting(world, "game function 0xAA391C728106F7AF", world.state.flagAA391C72, call.Bool(0));
}

}  // namespace

void RegisterGameStateNatives(HandlerTable& table) {
  table.Set(0xDA66D2796BA33F12, SetFadeInAfterDeathArrest);
  table.Set(0x1E0B4DC0D990A4E7, SetFadeOutAfterArrest);
  table.Set(0x4A18E01DF2C87B86, SetFadeOutAfterDeath);
  table.Set(0xAA391C728106F7AF, SetFlagAA391C72);
}

bool ParseGameStateEvent(const ScenarioNode& /*event*/, EventList& /*out*/) { return false; }

}  // namespace sim
