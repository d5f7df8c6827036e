// A cooperative fibre on the simulator's main thread, standing in for the
// Windows fiber on which the real host runs a script. The Linux half switches
// with Boost.Context (fcontext), the Windows half is a real Windows fiber.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace sim {

// How much of a fibre's stack has been used at its deepest.
struct StackUse {
  bool measured = false;  // false where the platform cannot reach the stack
  std::size_t peak = 0;   // bytes from the top of the stack to the deepest one written
  std::size_t size = 0;   // the stack's size
};

class Fibre {
 public:
  Fibre(std::function<void()> body, std::size_t stackSize);
  ~Fibre();
  Fibre(const Fibre&) = delete;
  Fibre& operator=(const Fibre&) = delete;

  // From the main context: run the fibre until it yields or its body returns.
  void Resume();
  // From inside the fibre: give control back to whoever resumed it.
  static void Yield();
  // True while the calling code runs on some fibre (any thread-local check
  // of "am I the script?").
  static bool OnFibre();

  bool Finished() const { return finished_; }
  // The high-water mark of the stack: the stack is filled with a pattern when
  // the fibre is made, and the deepest byte no longer holding it is the
  // deepest the fibre has reached. Called while the fibre is not running.
  StackUse PeakStackUse() const;
  bool Started() const { return started_; }
  // The part of the stack in use where the fibre stopped (from its saved
  // context to the top), to see what a dropped fibre still held; empty where
  // the system places the stack (Windows), as only the fiber itself knows its
  // bounds there. Read with care under AddressSanitizer: the red zones of
  // frames that never returned stay poisoned.
  std::span<const unsigned char> StackInUse() const;

  // The platform's half: the context, the stack and the entry that runs body_.
  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  std::function<void()> body_;
  bool started_ = false;
  bool finished_ = false;
};

// A fibre abandoned mid-run (the run stopped while the script was suspended)
// keeps its stack alive, so that what the script had allocated stays
// reachable rather than being reported as leaked.
void Abandon(std::unique_ptr<Fibre> fibre);

// Hands over every abandoned fibre, for a program that runs one simulation
// after another (the world fuzzer): it frees those of runs that ended cleanly
// and keeps those of runs stopped at a fault, whose suspended frames still
// hold what the fault's own frames allocated.
std::vector<std::unique_ptr<Fibre>> TakeAbandonedFibres();

}  // namespace sim
