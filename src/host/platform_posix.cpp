// Platform pieces for the Linux module the simulator loads.
#include <chrono>

#include "src/host/library_entry.h"
#include "src/host/platform.h"

namespace rebound {

std::uint32_t TickCountMs() noexcept {
  const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

}  // namespace rebound
