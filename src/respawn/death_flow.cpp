#include "src/respawn/death_flow.h"

namespace rebound {

// Placeholder until the respawn state machine lands: the loop runs, the tick
// does nothing.
void TickDeathFlow() {}

}  // namespace rebound
