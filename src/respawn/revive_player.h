// Brings the player character back to a living, controllable state in place:
// police interest cleared, full health after a death or injury, tasks
// cleared. The respawn flow calls it while the screen is faded out.
#pragma once

namespace rebound {

// Yields once for 50 ms when the character was dead or injured; otherwise
// returns in the same frame.
void RevivePlayer();

}  // namespace rebound
