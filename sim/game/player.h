// The player: ped handle, health and its simple rules, and what revival and
// placement change.
//
// The game's rules, kept simple:
// - Dead once health falls below 1, and dead (whatever its health then reads)
//   until RESURRECT_PED, a heal event or the game's own restart.
// - Injured when a living ped's health drops below `injuredBelow`, or by an
//   injure event. It stays injured until REVIVE_INJURED_PED, RESURRECT_PED, a
//   heal or a restart, even if its health rises again. IS_PED_INJURED is also
//   true for a dead ped; REVIVE_INJURED_PED cannot bring back the dead.
// - RESURRECT_PED makes a dead ped alive and uninjured; its health stays as it
//   reads, but at least 1. On a living ped it does nothing.
// - A wanted level set with SET_PLAYER_WANTED_LEVEL is pending until
//   SET_PLAYER_WANTED_LEVEL_NOW or the start of the next frame applies it.
// - A frozen ped does not move by itself; SET_ENTITY_COORDS still places it.
// - A character switch gives the player another ped and player id, the rest
//   of the player as it was. The former ones then name nothing: natives given
//   them read 0 or false and change nothing (a script that cached a handle
//   shows in the timeline, once per former handle).
//
// The player's starting state and the events that change it (death, heal,
// injury, a move, a character switch) are in the scenario guide,
// docs/scenarios.md.
#pragma once

#include <cstdint>
#include <set>

#include "sim/game/handlers.h"

namespace sim {

struct PlayerModel : QuietArea {
  std::int32_t pedHandle = 1;  // what PLAYER_PED_ID answers
  std::int32_t playerId = 0;   // what PLAYER_ID answers
  std::int32_t health = 200;
  std::int32_t maxHealth = 200;
  std::int32_t armour = 0;
  Vec3 position;
  float heading = 0.0F;
  bool dead = false;
  bool injured = false;                  // see the rules above; dead also reads as injured
  std::int32_t injuredBelow = 100;       // health below which a living ped becomes injured
  bool frozen = false;                   // FREEZE_ENTITY_POSITION
  std::int32_t activeTasks = 0;          // what the ped is busy with; cleared at once by the script
  std::int32_t wantedLevel = 0;          // 0..5 stars in force
  std::int32_t pendingWantedLevel = -1;  // set but not yet applied; -1 = none
  bool policeIgnore = false;             // SET_POLICE_IGNORE_PLAYER
  bool beingArrested = false;            // cleared by RESET_PLAYER_ARREST_STATE
  std::set<std::int32_t> formerPedHandles;  // given up at character switches
  std::set<std::int32_t> formerPlayerIds;
  std::set<std::int32_t> notedStaleHandles;  // former handles the timeline told of
  std::int64_t staleHandleCalls = 0;         // natives given a former ped or player

  // The player becomes another character: a new ped and player id.
  void SwitchCharacter(World& world, std::int32_t newPed, std::int32_t newPlayer);

  static constexpr const char* kName = "player";  // the area's name in notes and checks
  // The area's natives' handlers, by the natives' names.
  static void RegisterNatives(HandlerRegistry& registry);
  // Takes the event if it is one of this area's kinds.
  static bool ParseEvent(const ScenarioNode& event, EventList& out);
  void Configure(const ScenarioNode& root);
  // Most frames nothing moves: the checks are inline, the work is not.
  void BeginFrame(World& world) {
    if (HasFrameWork(world)) ApplyPendingWantedLevel(world);
  }
  bool HasFrameWork(const World& /*world*/) const { return pendingWantedLevel >= 0; }
  void ApplyPendingWantedLevel(World& world);
  // Every change of health goes through here so the timeline shows it.
  void SetHealth(World& world, std::int32_t value, const char* why);
  // The game's own restart after a death: alive at full health, elsewhere.
  void Respawn(World& world, const Vec3& where, float newHeading, const char* why);
  // The ped is hurt but alive (no change for a dead ped).
  void Injure(World& world, const char* why);
  // Alive, uninjured, at full health.
  void Heal(World& world, const char* why);
  bool ReadsInjured() const { return dead || injured; }
};

ScheduledEvent SwitchCharacterEvent(std::int64_t frame, std::int32_t pedHandle,
                                    std::int32_t playerId);

}  // namespace sim
