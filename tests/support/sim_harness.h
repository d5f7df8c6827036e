// Helpers for tests that run code as the script inside the simulator.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/host/simulation.h"
// The host's scriptWait, under its decorated name on Windows.
#include "src/host/host_api.h"

namespace test {

// Runs `body` once as the script, then idles to the end of `frames` frames; false when the run
// stopped at a fault.
inline bool RunOnce(sim::Simulation& simulation, std::function<void()> body, std::int64_t frames) {
  simulation.SetScript([body] {
    body();
    for (;;) scriptWait(0);
  });
  return simulation.RunFrames(frames);
}

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

// Each scenario text must be refused with a message containing its expected
// part (the file, line and field it names).
using ScenarioMistake = std::pair<const char*, const char*>;
inline void ExpectScenarioErrors(const char* fileName, std::span<const ScenarioMistake> cases) {
  for (const auto& [json, expected] : cases) {
    try {
      sim::Scenario::Parse(fileName, json);
      ADD_FAILURE() << "no error for " << json;
    } catch (const sim::ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
    }
  }
}

// Runs `body` as the script once in every frame, given the frame, for the
// scenario's frames; false if the run stopped on a fault.
inline bool RunScript(sim::Simulation& simulation, std::function<void(std::int64_t)> body) {
  simulation.SetScript([&simulation, body] {
    for (;;) {
      body(simulation.GetWorld().clock.frame);
      scriptWait(0);
    }
  });
  return simulation.Run();
}

}  // namespace test
