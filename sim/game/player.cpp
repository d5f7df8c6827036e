#include "sim/game/player.h"

#include <string>

#include "sim/game/world.h"

namespace sim {

void PlayerModel::Configure(const ScenarioNode& root) {
  auto node = root.Optional("player");
  if (!node) return;
  node->ExpectObject();
  health = static_cast<std::int32_t>(node->Int("health", health, INT32_MIN, INT32_MAX));
  maxHealth = static_cast<std::int32_t>(node->Int("maxHealth", maxHealth, 0, INT32_MAX));
  armour = static_cast<std::int32_t>(node->Int("armour", armour, 0, INT32_MAX));
  position = node->Vector("position", position);
  heading = static_cast<float>(node->Number("heading", heading));
}

void PlayerModel::BeginFrame(World& /*world*/) {}
void PlayerModel::EndFrame(World& /*world*/) {}

void PlayerModel::SetHealth(World& world, std::int32_t value, const char* why) {
  if (value == health) return;
  world.Note("player", "health " + std::to_string(health) + " -> " + std::to_string(value) +
                           " (" + why + ")");
  health = value;
  if (health < 1 && !dead) {
    dead = true;
    world.Note("player", std::string("died (") + why + ")");
  }
}

void PlayerModel::Respawn(World& world, const Vec3& where, float newHeading, const char* why) {
  dead = false;
  health = maxHealth;
  position = where;
  heading = newHeading;
  world.Note("player", "restarted at (" + std::to_string(where.x) + ", " + std::to_string(where.y) +
                           ", " + std::to_string(where.z) + ") with health " +
                           std::to_string(health) + " (" + why + ")");
}

namespace {

bool IsPlayerPed(const World& world, std::int32_t ped) { return ped == world.player.pedHandle; }

void PlayerPedId(World& world, CallFrame& call) { call.ReturnInt(world.player.pedHandle); }
void PlayerId(World& world, CallFrame& call) { call.ReturnInt(world.player.playerId); }

// Entities other than the player's ped do not exist in this world: they read
// as 0 and ignore writes.
void GetEntityHealth(World& world, CallFrame& call) {
  call.ReturnInt(IsPlayerPed(world, call.Int(0)) ? world.player.health : 0);
}

void SetEntityHealth(World& world, CallFrame& call) {
  if (IsPlayerPed(world, call.Int(0))) {
    world.player.SetHealth(world, call.Int(1), "SET_ENTITY_HEALTH");
  }
}

}  // namespace

void RegisterPlayerNatives(HandlerTable& table) {
  table.Set(0xD80958FC74E988A6, PlayerPedId);
  table.Set(0x4F8644AF03D0E0D6, PlayerId);
  table.Set(0xEEF059FAD016D209, GetEntityHealth);
  table.Set(0x6B76DC1F3AE6E6A3, SetEntityHealth);
}

bool ParsePlayerEvent(const ScenarioNode& event, EventList& out) {
  if (!event.Has("health")) return false;
  const std::int64_t frame = EventFrame(event);
  const auto value =
      static_cast<std::int32_t>(event.Child("health").AsInt(INT32_MIN, INT32_MAX));
  out.push_back(ScheduledEvent{frame, "health " + std::to_string(value),
                               [value](World& world) {
                                 world.player.SetHealth(world, value, "scenario");
                               }});
  return true;
}

}  // namespace sim
