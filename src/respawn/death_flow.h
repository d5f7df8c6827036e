// The respawn flow: one tick per frame of the state machine that takes the
// player's death out of the game's hands.
#pragma once

namespace rebound {

void TickDeathFlow();

}  // namespace rebound
