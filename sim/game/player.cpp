#include "sim/game/player.h"

#include <cstdio>
#include <string>

#include "sim/base/number_format.h"
#include "sim/game/world.h"

namespace sim {

namespace {

constexpr std::int64_t kMaxWantedLevel = 5;

}  // namespace

void PlayerModel::Configure(const ScenarioNode& root) {
  auto node = root.Optional("player");
  if (!node) return;
  node->ExpectObject();
  pedHandle = static_cast<std::int32_t>(node->Int("pedHandle", pedHandle, INT32_MIN, INT32_MAX));
  playerId = static_cast<std::int32_t>(node->Int("playerId", playerId, INT32_MIN, INT32_MAX));
  health = static_cast<std::int32_t>(node->Int("health", health, INT32_MIN, INT32_MAX));
  maxHealth = static_cast<std::int32_t>(node->Int("maxHealth", maxHealth, 0, INT32_MAX));
  armour = static_cast<std::int32_t>(node->Int("armour", armour, 0, INT32_MAX));
  position = node->Vector("position", position);
  heading = node->Float("heading", heading);
  injuredBelow = static_cast<std::int32_t>(node->Int("injuredBelow", injuredBelow, 1, INT32_MAX));
  injured = node->Bool("injured", injured);
  frozen = node->Bool("frozen", frozen);
  activeTasks = static_cast<std::int32_t>(node->Int("activeTasks", activeTasks, 0, INT32_MAX));
  wantedLevel =
      static_cast<std::int32_t>(node->Int("wantedLevel", wantedLevel, 0, kMaxWantedLevel));
  policeIgnore = node->Bool("policeIgnore", policeIgnore);
  beingArrested = node->Bool("beingArrested", beingArrested);
  // A player that starts below 1 health starts dead.
  dead = health < 1;
}

void PlayerModel::ApplyPendingWantedLevel(World& world) {
  // The game applies a wanted level set without "now" on its next update.
  if (pendingWantedLevel >= 0) {
    world.Note("player", "wanted level " + std::to_string(wantedLevel) + " -> " +
                             std::to_string(pendingWantedLevel));
    wantedLevel = pendingWantedLevel;
    pendingWantedLevel = -1;
  }
}

void PlayerModel::SetHealth(World& world, std::int32_t value, const char* why) {
  if (value == health) return;
  world.Note("player", "health " + std::to_string(health) + " -> " + std::to_string(value) + " (" +
                           why + ")");
  const bool dropped = value < health;
  health = value;
  if (health < 1 && !dead) {
    dead = true;
    world.NoteWork();  // the game's death handling looks at it after the scripts
    world.Note("player", std::string("died (") + why + ")");
  } else if (!dead && dropped && health < injuredBelow && !injured) {
    injured = true;
    world.Note("player", std::string("injured (") + why + ")");
  }
}

void PlayerModel::Respawn(World& world, const Vec3& where, float newHeading, const char* why) {
  dead = false;
  injured = false;
  health = maxHealth;
  position = where;
  heading = newHeading;
  world.Note("player", "restarted at " + FormatPosition(where) + " with health " +
                           std::to_string(health) + " (" + why + ")");
}

void PlayerModel::Injure(World& world, const char* why) {
  if (dead || injured) return;
  injured = true;
  world.Note("player", std::string("injured (") + why + ")");
}

void PlayerModel::Heal(World& world, const char* why) {
  dead = false;
  injured = false;
  health = maxHealth;
  world.Note("player", "healed to " + std::to_string(health) + " (" + why + ")");
}

void PlayerModel::SwitchCharacter(World& world, std::int32_t newPed, std::int32_t newPlayer) {
  if (newPed != pedHandle) formerPedHandles.insert(pedHandle);
  if (newPlayer != playerId) formerPlayerIds.insert(playerId);
  formerPedHandles.erase(newPed);
  formerPlayerIds.erase(newPlayer);
  world.Note("player", "character switch: ped " + std::to_string(pedHandle) + " -> " +
                           std::to_string(newPed) + ", player " + std::to_string(playerId) +
                           " -> " + std::to_string(newPlayer));
  pedHandle = newPed;
  playerId = newPlayer;
}

namespace {

// A handle the player had before a character switch names nothing now; the
// timeline tells of its first use.
[[gnu::cold]] void NoteStale(World& world, const char* what, std::int32_t handle) {
  ++world.player.staleHandleCalls;
  const std::int32_t key = what[0] == 'p' && what[1] == 'e' ? handle : ~handle;
  if (world.player.notedStaleHandles.insert(key).second) {
    world.Note("player", std::string(what) + " " + std::to_string(handle) +
                             ", the player's before a character switch, used: it names nothing "
                             "now");
  }
}

[[gnu::cold, gnu::noinline]] bool IsFormerPlayerPed(World& world, std::int32_t ped) {
  if (world.player.formerPedHandles.count(ped) != 0) NoteStale(world, "ped", ped);
  return false;
}

// Asked by most of the player's natives on every frame: the common answer
// takes one comparison in the caller, the rest is out of line.
[[gnu::always_inline]] inline bool IsPlayerPed(World& world, std::int32_t ped) {
  if (ped == world.player.pedHandle) [[likely]]
    return true;
  if (world.player.formerPedHandles.empty()) return false;
  return IsFormerPlayerPed(world, ped);
}
bool IsPlayer(World& world, std::int32_t player) {
  if (player == world.player.playerId) return true;
  if (!world.player.formerPlayerIds.empty() && world.player.formerPlayerIds.count(player) != 0)
      [[unlikely]]
    NoteStale(world, "player", player);
  return false;
}

void PlayerPedId(World& world, CallFrame& call) { call.ReturnInt(world.player.pedHandle); }
void PlayerId(World& world, CallFrame& call) { call.ReturnInt(world.player.playerId); }

// Entities other than the player's ped, and players other than the player,
// do not exist in this world: they read as 0 or false and ignore writes.

void GetEntityHealth(World& world, CallFrame& call) {
  call.ReturnInt(IsPlayerPed(world, call.Int(0)) ? world.player.health : 0);
}

void GetEntityMaxHealth(World& world, CallFrame& call) {
  call.ReturnInt(IsPlayerPed(world, call.Int(0)) ? world.player.maxHealth : 0);
}

void SetEntityHealth(World& world, CallFrame& call) {
  if (IsPlayerPed(world, call.Int(0))) {
    world.player.SetHealth(world, call.Int(1), "SET_ENTITY_HEALTH");
  }
}

void GetEntityCoords(World& world, CallFrame& call) {
  call.ReturnVector(IsPlayerPed(world, call.Int(0)) ? world.player.position : Vec3{});
}

void SetEntityCoords(World& world, CallFrame& call) {
  if (!IsPlayerPed(world, call.Int(0))) return;
  world.player.position = Vec3{call.Float(1), call.Float(2), call.Float(3)};
  world.Note("player", "moved to " + FormatPosition(world.player.position));
}

void SetEntityHeading(World& world, CallFrame& call) {
  if (!IsPlayerPed(world, call.Int(0))) return;
  world.player.heading = call.Float(1);
  world.Note("player", "heading " + FormatNumber(world.player.heading));
}

void FreezeEntityPosition(World& world, CallFrame& call) {
  if (!IsPlayerPed(world, call.Int(0))) return;
  const bool frozen = call.Bool(1);
  if (frozen != world.player.frozen) world.Note("player", frozen ? "frozen" : "released");
  world.player.frozen = frozen;
}

void IsEntityDead(World& world, CallFrame& call) {
  call.ReturnBool(IsPlayerPed(world, call.Int(0)) && world.player.dead);
}

void IsPedInjured(World& world, CallFrame& call) {
  call.ReturnBool(IsPlayerPed(world, call.Int(0)) && world.player.ReadsInjured());
}

void ResurrectPed(World& world, CallFrame& call) {
  PlayerModel& p = world.player;
  if (!IsPlayerPed(world, call.Int(0)) || !p.dead) return;
  p.dead = false;
  p.injured = false;
  if (p.health < 1) p.health = 1;
  world.Note("player", "resurrected with health " + std::to_string(p.health));
}

void ReviveInjuredPed(World& world, CallFrame& call) {
  PlayerModel& p = world.player;
  if (!IsPlayerPed(world, call.Int(0)) || p.dead || !p.injured) return;
  p.injured = false;
  world.Note("player", "revived from injury with health " + std::to_string(p.health));
}

void SetPedArmour(World& world, CallFrame& call) {
  if (!IsPlayerPed(world, call.Int(0))) return;
  const std::int32_t armour = call.Int(1);
  if (armour != world.player.armour) {
    world.Note("player",
               "armour " + std::to_string(world.player.armour) + " -> " + std::to_string(armour));
  }
  world.player.armour = armour;
}

void ClearPedTasksImmediately(World& world, CallFrame& call) {
  if (!IsPlayerPed(world, call.Int(0))) return;
  if (world.player.activeTasks != 0) {
    world.Note("player", "tasks cleared (" + std::to_string(world.player.activeTasks) + " active)");
  }
  world.player.activeTasks = 0;
}

void SetPlayerWantedLevel(World& world, CallFrame& call) {
  if (!IsPlayer(world, call.Int(0))) return;
  // The game keeps the level in 0..5.
  const std::int32_t level = call.Int(1);
  world.player.pendingWantedLevel =
      level < 0 ? 0
                : (level > kMaxWantedLevel ? static_cast<std::int32_t>(kMaxWantedLevel) : level);
  world.NoteWork();
}

void SetPlayerWantedLevelNow(World& world, CallFrame& call) {
  PlayerModel& p = world.player;
  if (!IsPlayer(world, call.Int(0)) || p.pendingWantedLevel < 0) return;
  if (p.pendingWantedLevel != p.wantedLevel) {
    world.Note("player", "wanted level " + std::to_string(p.wantedLevel) + " -> " +
                             std::to_string(p.pendingWantedLevel));
  }
  p.wantedLevel = p.pendingWantedLevel;
  p.pendingWantedLevel = -1;
}

void SetPoliceIgnorePlayer(World& world, CallFrame& call) {
  if (!IsPlayer(world, call.Int(0))) return;
  const bool ignore = call.Bool(1);
  if (ignore != world.player.policeIgnore) {
    world.Note("player",
               ignore ? "police ignore the player" : "police no longer ignore the player");
  }
  world.player.policeIgnore = ignore;
}

void ResetPlayerArrestState(World& world, CallFrame& call) {
  if (!IsPlayer(world, call.Int(0))) return;
  if (world.player.beingArrested) world.Note("player", "arrest called off");
  world.player.beingArrested = false;
}

}  // namespace

void PlayerModel::RegisterNatives(HandlerRegistry& registry) {
  registry.Add("PLAYER_PED_ID", PlayerPedId);
  registry.Add("PLAYER_ID", PlayerId);
  registry.Add("GET_ENTITY_HEALTH", GetEntityHealth);
  registry.Add("GET_ENTITY_MAX_HEALTH", GetEntityMaxHealth);
  registry.Add("SET_ENTITY_HEALTH", SetEntityHealth);
  registry.Add("GET_ENTITY_COORDS", GetEntityCoords);
  registry.Add("SET_ENTITY_COORDS", SetEntityCoords);
  registry.Add("SET_ENTITY_HEADING", SetEntityHeading);
  registry.Add("FREEZE_ENTITY_POSITION", FreezeEntityPosition);
  registry.Add("IS_ENTITY_DEAD", IsEntityDead);
  registry.Add("IS_PED_INJURED", IsPedInjured);
  registry.Add("RESURRECT_PED", ResurrectPed);
  registry.Add("REVIVE_INJURED_PED", ReviveInjuredPed);
  registry.Add("SET_PED_ARMOUR", SetPedArmour);
  registry.Add("CLEAR_PED_TASKS_IMMEDIATELY", ClearPedTasksImmediately);
  registry.Add("SET_PLAYER_WANTED_LEVEL", SetPlayerWantedLevel);
  registry.Add("SET_PLAYER_WANTED_LEVEL_NOW", SetPlayerWantedLevelNow);
  registry.Add("SET_POLICE_IGNORE_PLAYER", SetPoliceIgnorePlayer);
  registry.Add("RESET_PLAYER_ARREST_STATE", ResetPlayerArrestState);
}

// {"frame": F, "health": N}: health set to N (below 1 kills).
// {"frame": F, "injure": true}: a living ped becomes injured, health as is.
// {"frame": F, "heal": true}: alive, uninjured, full health.
// {"frame": F, "position": [x, y, z]}: the ped is moved there.
// {"frame": F, "wantedLevel": N}: N stars at once.
// {"frame": F, "arrest": true}: the police start arresting the player.
ScheduledEvent SwitchCharacterEvent(std::int64_t frame, std::int32_t pedHandle,
                                    std::int32_t playerId) {
  return ScheduledEvent{frame,
                        "character switch to ped " + std::to_string(pedHandle) + ", player " +
                            std::to_string(playerId),
                        [pedHandle, playerId](World& world) {
                          world.player.SwitchCharacter(world, pedHandle, playerId);
                        }};
}

namespace {

// An event flag must say true: false would read as "do nothing".
void ExpectTrue(const ScenarioNode& event, const char* key) {
  const ScenarioNode node = event.Child(key);
  if (!node.AsBool()) node.Fail("expected true");
}

ScheduledEvent HealthEvent(const ScenarioNode& event, std::int64_t frame) {
  const auto value = static_cast<std::int32_t>(event.Child("health").AsInt(INT32_MIN, INT32_MAX));
  return ScheduledEvent{frame, "health " + std::to_string(value), [value](World& world) {
                          world.player.SetHealth(world, value, "scenario");
                        }};
}

ScheduledEvent InjureEvent(const ScenarioNode& event, std::int64_t frame) {
  ExpectTrue(event, "injure");
  return ScheduledEvent{frame, "injure",
                        [](World& world) { world.player.Injure(world, "scenario"); }};
}

ScheduledEvent HealEvent(const ScenarioNode& event, std::int64_t frame) {
  ExpectTrue(event, "heal");
  return ScheduledEvent{frame, "heal", [](World& world) { world.player.Heal(world, "scenario"); }};
}

ScheduledEvent PositionEvent(const ScenarioNode& event, std::int64_t frame) {
  const Vec3 where = event.Child("position").AsVec3();
  return ScheduledEvent{frame, "move to " + FormatPosition(where), [where](World& world) {
                          world.player.position = where;
                          world.Note("player", "moved to " + FormatPosition(where));
                        }};
}

ScheduledEvent WantedLevelEvent(const ScenarioNode& event, std::int64_t frame) {
  const auto level =
      static_cast<std::int32_t>(event.Child("wantedLevel").AsInt(0, kMaxWantedLevel));
  return ScheduledEvent{frame, "wanted level " + std::to_string(level), [level](World& world) {
                          world.player.pendingWantedLevel = -1;
                          world.player.wantedLevel = level;
                        }};
}

ScheduledEvent SwitchCharacterEventFrom(const ScenarioNode& event, std::int64_t frame) {
  const ScenarioNode node = event.Child("switchCharacter");
  node.ExpectObject();
  const auto ped = static_cast<std::int32_t>(node.Child("pedHandle").AsInt(INT32_MIN, INT32_MAX));
  const auto player = static_cast<std::int32_t>(node.Child("playerId").AsInt(INT32_MIN, INT32_MAX));
  return SwitchCharacterEvent(frame, ped, player);
}

ScheduledEvent ArrestEvent(const ScenarioNode& event, std::int64_t frame) {
  ExpectTrue(event, "arrest");
  return ScheduledEvent{frame, "arrest", [](World& world) { world.player.beingArrested = true; }};
}

// The player's event kinds by the key that names each, tried in this order.
struct PlayerEventKind {
  const char* key;
  ScheduledEvent (*parse)(const ScenarioNode& event, std::int64_t frame);
};
constexpr PlayerEventKind kPlayerEventKinds[] = {
    {"health", HealthEvent},
    {"injure", InjureEvent},
    {"heal", HealEvent},
    {"position", PositionEvent},
    {"wantedLevel", WantedLevelEvent},
    {"switchCharacter", SwitchCharacterEventFrom},
    {"arrest", ArrestEvent},
};

}  // namespace

bool PlayerModel::ParseEvent(const ScenarioNode& event, EventList& out) {
  for (const PlayerEventKind& kind : kPlayerEventKinds) {
    if (!event.Has(kind.key)) continue;
    const std::int64_t frame = EventFrame(event);
    out.push_back(kind.parse(event, frame));
    return true;
  }
  return false;
}

}  // namespace sim
