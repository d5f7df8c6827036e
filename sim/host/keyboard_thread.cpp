#include "sim/host/keyboard_thread.h"

#include <algorithm>

#include "sim/game/handlers.h"

namespace sim {

KeyboardThread::KeyboardThread() : thread_([this] { Loop(); }) {}

KeyboardThread::~KeyboardThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void KeyboardThread::Deliver(KeyboardHandler handler, const std::uint32_t (&args)[7]) {
  std::unique_lock<std::mutex> lock(mutex_);
  handler_ = handler;
  for (int i = 0; i < 7; ++i) args_[i] = args[i];
  pending_ = true;
  wake_.notify_all();
  done_.wait(lock, [this] { return !pending_; });
}

void KeyboardThread::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return pending_ || stop_; });
    if (stop_) return;
    const KeyboardHandler handler = handler_;
    std::uint32_t a[7];
    for (int i = 0; i < 7; ++i) a[i] = args_[i];
    lock.unlock();
    handler(a[0], static_cast<std::uint16_t>(a[1]), static_cast<std::uint8_t>(a[2]),
            static_cast<std::int32_t>(a[3]), static_cast<std::int32_t>(a[4]),
            static_cast<std::int32_t>(a[5]), static_cast<std::int32_t>(a[6]));
    lock.lock();
    pending_ = false;
    done_.notify_all();
  }
}

void KeysDueInFrame::Add(const ScheduledEvent& event) {
  keys_.insert(std::upper_bound(keys_.begin(), keys_.end(), &event,
                                [](const ScheduledEvent* a, const ScheduledEvent* b) {
                                  return a->atCall < b->atCall;
                                }),
               &event);
  firstCall_ = static_cast<std::uint32_t>(keys_.front()->atCall);
}

std::vector<const ScheduledEvent*> KeysDueInFrame::TakeDueAt(std::uint32_t calls) {
  std::size_t due = 0;
  while (due < keys_.size() && static_cast<std::uint32_t>(keys_[due]->atCall) <= calls) ++due;
  std::vector<const ScheduledEvent*> now(keys_.begin(),
                                         keys_.begin() + static_cast<std::ptrdiff_t>(due));
  keys_.erase(keys_.begin(), keys_.begin() + static_cast<std::ptrdiff_t>(due));
  firstCall_ = keys_.empty() ? UINT32_MAX : static_cast<std::uint32_t>(keys_.front()->atCall);
  return now;
}

}  // namespace sim
