// The key-state table: the latest keyboard message seen for each key code,
// written by the host's keyboard thread through OnKeyboardMessage.
#pragma once

#include <array>
#include <cstdint>

namespace rebound {

struct KeyState {
  std::uint32_t time = 0;    // tick count when the latest message arrived
  std::int32_t withAlt = 0;  // as the host passed it, not folded to 0/1
  std::int32_t wasDownBefore = 0;
  std::int32_t isUpNow = 0;
};

// Key codes 0..254; a message for 255 or above is dropped.
inline constexpr std::uint32_t kKeyStateCount = 255;

extern std::array<KeyState, kKeyStateCount> keyStates;

// Called by the host on its window thread, never on the script fibre: it only
// stores, and calls no native.
void OnKeyboardMessage(std::uint32_t key, std::uint16_t repeats, std::uint8_t scanCode,
                       std::int32_t isExtended, std::int32_t isWithAlt, std::int32_t wasDownBefore,
                       std::int32_t isUpNow) noexcept;

}  // namespace rebound
