#include "src/respawn/revive_player.h"

#include <cstdint>

#include "src/host/host_api.h"
#include "src/host/natives.h"

namespace rebound {

namespace {

// Lets the game finish bringing the character back before its health is set.
constexpr std::uint32_t kRevivalSettleMs = 50;

}  // namespace

// Every ped and player handle is asked for again right before the call that
// takes it: the game may replace the ped while the script waits, and a stale
// handle would act on the wrong entity.
void RevivePlayer() {
  using namespace natives;
  FREEZE_ENTITY_POSITION(PLAYER_PED_ID(), true);
  SET_PLAYER_WANTED_LEVEL(PLAYER_ID(), 0, false);
  SET_PLAYER_WANTED_LEVEL_NOW(PLAYER_ID(), false);
  SET_POLICE_IGNORE_PLAYER(PLAYER_ID(), true);
  SET_PED_ARMOUR(PLAYER_PED_ID(), 0);
  RESET_PLAYER_ARREST_STATE(PLAYER_ID());

  // Dead is tested first: a dead character also counts as injured, and must
  // be resurrected rather than revived from injury.
  bool revived = false;
  if (IS_ENTITY_DEAD(PLAYER_PED_ID(), false)) {
    RESURRECT_PED(PLAYER_PED_ID());
    revived = true;
  } else if (IS_PED_INJURED(PLAYER_PED_ID())) {
    REVIVE_INJURED_PED(PLAYER_PED_ID());
    revived = true;
  }
  if (revived) {
    scriptWait(kRevivalSettleMs);
    const std::int32_t fullHealth = GET_ENTITY_MAX_HEALTH(PLAYER_PED_ID());
    SET_ENTITY_HEALTH(PLAYER_PED_ID(), fullHealth, 0);
  }

  CLEAR_PED_TASKS_IMMEDIATELY(PLAYER_PED_ID());
  FREEZE_ENTITY_POSITION(PLAYER_PED_ID(), false);
  NATIVE_0x95D2D383D5396B8A(PLAYER_PED_ID(), false);
  NATIVE_0xA6F312FCCE9C1DFE(PLAYER_ID());
  SET_POLICE_IGNORE_PLAYER(PLAYER_ID(), false);
}

}  // namespace rebound
