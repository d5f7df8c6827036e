// The game window's thread as the simulation plays it: the thread that calls
// the plug-in's keyboard handler, and the keyboard messages of a frame that
// fall due while the script runs. Owned by Simulation.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/host/host_functions.h"

namespace sim {

struct ScheduledEvent;

// The host calls the keyboard handler on the game window's thread, not on the
// script fibre; this thread plays that part. Each message is handed over and
// waited for, so that runs stay repeatable.
class KeyboardThread {
 public:
  KeyboardThread();
  ~KeyboardThread();
  KeyboardThread(const KeyboardThread&) = delete;
  KeyboardThread& operator=(const KeyboardThread&) = delete;

  // Calls `handler` with the message's seven arguments on the thread and
  // returns once it has returned.
  void Deliver(KeyboardHandler handler, const std::uint32_t (&args)[7]);

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  KeyboardHandler handler_ = nullptr;
  std::uint32_t args_[7] = {};
  bool pending_ = false;
  bool stop_ = false;
  std::thread thread_;
};

// Keyboard messages of this frame due while the script runs, by the native
// call they come before. nativeInit compares the frame's call count with
// FirstCall() on every call, so that is a plain field read.
class KeysDueInFrame {
 public:
  // Kept in call order, ties in the order added (the scenario file's).
  void Add(const ScheduledEvent& event);
  // Takes off the list those due before the `calls`-th call.
  std::vector<const ScheduledEvent*> TakeDueAt(std::uint32_t calls);
  bool Empty() const { return keys_.empty(); }
  // The call the first of them comes before; never (the largest value) when
  // none is left.
  std::uint32_t FirstCall() const { return firstCall_; }

 private:
  std::vector<const ScheduledEvent*> keys_;
  std::uint32_t firstCall_ = UINT32_MAX;
};

}  // namespace sim
