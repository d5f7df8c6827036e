// The player: ped handle, health and its simple rules, and what revival and
// placement change.
#pragma once

#include <cstdint>

#include "sim/game/handlers.h"

namespace sim {

struct PlayerModel {
  std::int32_t pedHandle = 1;     // what PLAYER_PED_ID answers
  std::int32_t playerId = 0;      // what PLAYER_ID answers
  std::int32_t health = 200;
  std::int32_t maxHealth = 200;
  std::int32_t armour = 0;
  Vec3 position;
  float heading = 0.0F;
  // Dead once health falls below 1, and stays dead (whatever its health
  // reads) until resurrected or restarted by the game.
  bool dead = false;

  void Configure(const ScenarioNode& root);
  void BeginFrame(World& world);
  void EndFrame(World& world);
  // Every change of health goes through here so the timeline shows it.
  void SetHealth(World& world, std::int32_t value, const char* why);
  // The game's own restart after a death: alive at full health, elsewhere.
  void Respawn(World& world, const Vec3& where, float newHeading, const char* why);
};

void RegisterPlayerNatives(HandlerTable& table);
bool ParsePlayerEvent(const ScenarioNode& event, EventList& out);

}  // namespace sim
