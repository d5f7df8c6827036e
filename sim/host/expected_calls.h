// A scenario's "expect": how often the run must call a native, counted over
// the whole run or a span of frames. Read with the scenario; the natives they
// name are looked up once the user's catalogue is known, as a name may be
// one of its own (sim/report/expectations.h counts and judges them).
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sim/base/scenario_reader.h"

namespace sim {

struct ExpectedCalls {
  ScenarioNode nativeNode;  // the entry's "native", to name in a message
  std::string native;       // as written: a name, or "0x" and the hash
  std::uint64_t minCalls = 0;
  std::uint64_t maxCalls = kNoLimit;  // kNoLimit: at least minCalls
  std::int64_t firstFrame = 0;
  std::int64_t lastFrame = kLastFrame;  // kLastFrame: to the run's end
  bool framesGiven = false;

  static constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();
  static constexpr std::int64_t kLastFrame = std::numeric_limits<std::int64_t>::max();
};

// Reads the "expect" list; a mistake (an unknown key, a count range the
// wrong way round, a frame range that ends before it starts) throws
// ScenarioError naming the file, line and field.
std::vector<ExpectedCalls> ParseExpectedCalls(const ScenarioNode& list);

// "exactly 3 calls", "at least 1 call", "from 2 to 5 calls", "no calls".
std::string ExpectedCountText(const ExpectedCalls& expected);

}  // namespace sim
