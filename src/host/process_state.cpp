#include "src/host/process_state.h"

#include "src/host/key_states.h"
#include "src/hud/hud_text.h"
#include "src/hud/panel.h"
#include "src/respawn/death_flow.h"
#include "src/respawn/event_timers.h"
#include "src/spawn/random_detail.h"

namespace rebound::testing_seam {

void ResetProcessStateForTesting() noexcept {
  keyStates.fill(KeyState{});
  hudBarPanel = HudBarPanel{};
  deathFlow = DeathFlow{};
  eventTimers = std::vector<EventTimerEntry>{};
  TextScaleOverride = std::vector<double>{};
  longTextStorage = LongTextStorage{};
  SetSeedSourceForTesting(nullptr);
}

}  // namespace rebound::testing_seam
