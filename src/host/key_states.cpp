#include "src/host/key_states.h"

#include "src/host/platform.h"
#include "src/recorder/hooks.h"

namespace rebound {

std::array<KeyState, kKeyStateCount> keyStates{};

// The message's repeat count, scan code and extended flag matter only to the
// recording build, which records every message whole.
void OnKeyboardMessage(std::uint32_t key, std::uint16_t repeats, std::uint8_t scanCode,
                       std::int32_t isExtended, std::int32_t isWithAlt, std::int32_t wasDownBefore,
                       std::int32_t isUpNow) noexcept {
  recorder::OnKeyboardMessage(key, repeats, scanCode, isExtended, isWithAlt, wasDownBefore,
                              isUpNow);
  if (key >= kKeyStateCount) return;
  KeyState& state = keyStates[key];
  state.time = TickCountMs();
  state.withAlt = isWithAlt;
  state.wasDownBefore = wasDownBefore;
  state.isUpNow = isUpNow;
}

}  // namespace rebound
