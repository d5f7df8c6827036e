#include "src/host/key_states.h"

#include "src/host/platform.h"

namespace rebound {

std::array<KeyState, kKeyStateCount> keyStates{};

void OnKeyboardMessage(std::uint32_t key, std::uint16_t /*repeats*/, std::uint8_t /*scanCode*/,
                       std::int32_t /*isExtended*/, std::int32_t isWithAlt,
                       std::int32_t wasDownBefore, std::int32_t isUpNow) noexcept {
  if (key >= kKeyStateCount) return;
  KeyState& state = keyStates[key];
  state.time = TickCountMs();
  state.withAlt = isWithAlt;
  state.wasDownBefore = wasDownBefore;
  state.isUpNow = isUpNow;
}

}  // namespace rebound
