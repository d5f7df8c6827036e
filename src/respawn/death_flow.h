// The respawn flow: the per-frame state machine that takes the player's death
// out of the game's hands, shows the wasted shard and the respawn bar, and
// revives the player near the place of death.
#pragma once

#include <cstdint>
#include <memory>

#include "src/hud/hud_bar.h"
#include "src/spawn/spawn_point.h"
#include "src/spawn/vector3.h"

namespace rebound {

enum class DeathFlowState : std::int32_t {
  Watching = -1,   // alive; each tick tests the health
  DeathPause = 0,  // death seen; a short pause before the shard
  ShardDelay = 1,  // game fade-outs cancelled; waits to fill the shard
  BarFilling = 2,  // the respawn bar fills with time and taps
  Respawning = 3,  // faded out; the respawn runs once the screen is black
};

struct DeathFlow {
  DeathFlowState state = DeathFlowState::Watching;
  std::int32_t movieHandle = -1;       // the shard movie; -1 when none
  Vector3 deathPosition;               // where the player died
  SpawnPoint spawnPoint;               // where the player is placed; rotation.z is the heading
  bool shardHidden = false;            // requested but not yet filled: not drawn
  std::int32_t respawnProgress = 0;    // points; the respawn starts above 100
  std::unique_ptr<HudBar> respawnBar;  // listed in the panel exactly while it exists
  // From the revival to the end of the respawn. Found set by a respawn that
  // starts, it tells of a script the host dropped and started afresh within
  // one: that revival may have stopped before it restored the health.
  bool revivalUnderWay = false;
  // While the spawn search runs. Found set by a respawn that starts, it tells
  // of a search that the host's dropped script never cancelled.
  bool searchUnderWay = false;
};

// The one flow of the process.
extern DeathFlow deathFlow;

// One tick, once per pass of the script loop. May yield inside while it waits
// for the shard movie and during the respawn.
void TickDeathFlow();

// Cancels a fade-out the game has started (it would black out the shard).
void CancelFadeOut();

}  // namespace rebound
