// Keyed event timers: when something last happened, in game time, so a caller
// can ask each frame whether enough milliseconds have passed since. The respawn
// flow keeps its timers here by id; the HUD panel keeps one of its own.
#pragma once

#include <cstdint>
#include <vector>

namespace rebound {

struct EventTimer {
  std::int32_t gameTimeMs = 0;   // game timer at the last start or restart
  std::int64_t wallClockMs = 0;  // milliseconds since 1970 at the same moment
  bool stopped = false;          // only the idle timer is stopped
};

struct EventTimerEntry {
  EventTimer timer;
  std::int32_t timerId = 0;
};

// In the order ids were first started; entries are never removed or reordered.
extern std::vector<EventTimerEntry> eventTimers;
// Returned for ids that were never started; never written.
extern const EventTimer idleEventTimer;

void RestartEventTimer(EventTimer& timer);
// Restarts the timer with this id, or appends a new one; returns a copy.
EventTimer StartEventTimer(std::int32_t id);
// The timer with this id, or idleEventTimer. Read it at once: a later start
// may move the list.
const EventTimer& FindEventTimer(std::int32_t id);
// Game time since the timer's stamp, wrap-safe: callers compare it with ">".
std::int32_t EventTimerElapsed(const EventTimer& timer);

// Wall-clock milliseconds from a count of 100 ns units since 1970, truncated
// toward zero.
std::int64_t WallClockMsFromTicks(std::int64_t ticks100ns) noexcept;

}  // namespace rebound
