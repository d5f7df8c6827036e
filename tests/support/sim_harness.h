// Helpers for tests that run code as the script inside the simulator.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/simulation.h"

namespace test {

inline sim::Scenario ScenarioFrom(std::string_view json) {
  return sim::Scenario::Parse("test.json", json);
}

// The native names of the trace's native calls in one frame, in order.
inline std::vector<std::string> NativesInFrame(const sim::Trace& trace, std::int64_t frame) {
  std::vector<std::string> names;
  for (const auto& e : trace.Entries()) {
    if (e.frame == frame && e.native != nullptr) names.emplace_back(e.native->name);
  }
  return names;
}

// Every entry's name (natives and host events) in one frame, in order.
inline std::vector<std::string> EntriesInFrame(const sim::Trace& trace, std::int64_t frame) {
  std::vector<std::string> names;
  for (const auto& e : trace.Entries()) {
    if (e.frame == frame) names.emplace_back(e.Name());
  }
  return names;
}

}  // namespace test
