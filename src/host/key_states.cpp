#include "src/host/key_states.h"

#include "src/host/platform.h"
#if REBOUND_RECORDING
#include "src/host/recorder.h"
#endif

namespace rebound {

std::array<KeyState, kKeyStateCount> keyStates{};

// The message's repeat count, scan code and extended flag matter only to the
// recording build, which records every message whole.
void OnKeyboardMessage(std::uint32_t key, [[maybe_unused]] std::uint16_t repeats,
                       [[maybe_unused]] std::uint8_t scanCode,
                       [[maybe_unused]] std::int32_t isExtended, std::int32_t isWithAlt,
                       std::int32_t wasDownBefore, std::int32_t isUpNow) noexcept {
#if REBOUND_RECORDING
  recorder::OnKeyboardMessage(key, repeats, scanCode, isExtended, isWithAlt, wasDownBefore,
                              isUpNow);
#endif
  if (key >= kKeyStateCount) return;
  KeyState& state = keyStates[key];
  state.time = TickCountMs();
  state.withAlt = isWithAlt;
  state.wasDownBefore = wasDownBefore;
  state.isUpNow = isUpNow;
}

}  // namespace rebound
