#include "src/respawn/event_timers.h"

#include <chrono>

#include "src/host/natives.h"

namespace rebound {

std::vector<EventTimerEntry> eventTimers;
const EventTimer idleEventTimer{0, 0, true};

namespace {

std::int64_t WallClockMs() noexcept {
  using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return WallClockMsFromTicks(std::chrono::duration_cast<Ticks>(sinceEpoch).count());
}

}  // namespace

std::int64_t WallClockMsFromTicks(std::int64_t ticks100ns) noexcept { return ticks100ns / 10000; }

void RestartEventTimer(EventTimer& timer) {
  timer.stopped = false;
  timer.gameTimeMs = natives::GET_GAME_TIMER();
  timer.wallClockMs = WallClockMs();
}

EventTimer StartEventTimer(std::int32_t id) {
  for (EventTimerEntry& entry : eventTimers) {
    if (entry.timerId == id) {
      RestartEventTimer(entry.timer);
      return entry.timer;
    }
  }
  EventTimerEntry entry;
  entry.timer.gameTimeMs = natives::GET_GAME_TIMER();
  entry.timer.wallClockMs = WallClockMs();
  entry.timer.stopped = false;
  entry.timerId = id;
  eventTimers.push_back(entry);
  return entry.timer;
}

const EventTimer& FindEventTimer(std::int32_t id) {
  for (const EventTimerEntry& entry : eventTimers) {
    if (entry.timerId == id) return entry.timer;
  }
  return idleEventTimer;
}

std::int32_t EventTimerElapsed(const EventTimer& timer) {
  // Subtract as unsigned so that a wrap of the game timer gives the right,
  // small difference instead of a signed overflow.
  const auto now = static_cast<std::uint32_t>(natives::GET_GAME_TIMER());
  return static_cast<std::int32_t>(now - static_cast<std::uint32_t>(timer.gameTimeMs));
}

}  // namespace rebound
