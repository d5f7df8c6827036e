// The verdict on a scenario's "expect": counts the calls of each native an
// expectation names, as the run makes them, and says after the run which
// expectations were met. Counting rides on the watched call path, which a run
// takes only when someone watches it: a run without expectations pays nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/host/expected_calls.h"
#include "sim/host/run_watcher.h"

namespace sim {

class CatalogueNatives;

// One expectation after the run.
struct ExpectationResult {
  ExpectedCalls expected;
  std::string native;  // "NAME (0x...)", as the terminal and the JUnit file name it
  std::uint64_t seen = 0;
  bool met = false;
};

// What the terminal says of an expectation: the native, what was expected,
// what was seen and the frames counted ("GET_GAME_TIMER (0x...): expected
// exactly 3 calls in frames 10 to 20, seen 5").
std::string DescribeExpectation(const ExpectationResult& result);

class ExpectationCounter : public RunWatcher {
 public:
  // Looks each native up in the game's table, then in the user's catalogue
  // (null for none); one in neither throws ScenarioError naming the file,
  // line and field. Made before the run, so that a mistake stops it before
  // it starts; watches it from its first frame.
  ExpectationCounter(const std::vector<ExpectedCalls>& expected, const CatalogueNatives* catalogue);

  void OnNativeCall(const NativeSignature& native) override;
  void OnHostEvent(const RunView& /*run*/, std::string_view /*name*/) override {}
  // The frame the next calls are made in: the one after the frame that ended.
  void OnFrameEnd(const RunView& run) override;

  // Every expectation in the scenario's order, with its count so far.
  std::vector<ExpectationResult> Results() const;

 private:
  struct Counted {
    ExpectedCalls expected;
    std::uint64_t hash = 0;
    std::string native;
    std::uint64_t seen = 0;
  };
  std::vector<Counted> counted_;
  std::int64_t frame_ = 0;  // of the calls under way
};

// Hands every call and event to each of several watchers, in order: the
// report's collector and the expectations' counter watch one run together.
class RunWatchers : public RunWatcher {
 public:
  explicit RunWatchers(std::vector<RunWatcher*> watchers) : watchers_(std::move(watchers)) {}
  void OnNativeCall(const NativeSignature& native) override {
    for (RunWatcher* w : watchers_) w->OnNativeCall(native);
  }
  void OnHostEvent(const RunView& run, std::string_view name) override {
    for (RunWatcher* w : watchers_) w->OnHostEvent(run, name);
  }
  void OnFrameEnd(const RunView& run) override {
    for (RunWatcher* w : watchers_) w->OnFrameEnd(run);
  }
  void OnFault(const RunView& run, const TraceFault& fault) override {
    for (RunWatcher* w : watchers_) w->OnFault(run, fault);
  }

 private:
  std::vector<RunWatcher*> watchers_;
};

}  // namespace sim
