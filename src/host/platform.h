// The one place that knows which platform the plug-in is built for: the
// Windows DLL the real host loads, or the Linux module the simulator loads.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define REBOUND_WINDOWS 1
#else
#define REBOUND_WINDOWS 0
#endif

namespace rebound {

// Milliseconds since the system started, wrapping at 2^32 (GetTickCount on
// Windows, the monotonic clock elsewhere).
std::uint32_t TickCountMs() noexcept;

}  // namespace rebound
