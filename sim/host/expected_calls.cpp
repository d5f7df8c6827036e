#include "sim/host/expected_calls.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "sim/base/number_format.h"

namespace sim {

namespace {

constexpr std::int64_t kMaxCount = INT64_MAX;

void RejectUnknownKeys(const ScenarioNode& node, std::initializer_list<std::string_view> known) {
  for (const std::string& key : node.Keys()) {
    if (std::find(known.begin(), known.end(), key) != known.end()) continue;
    std::string list;
    for (std::string_view k : known) {
      if (!list.empty()) list.append(", ");
      list.append(k);
    }
    node.Fail("unknown key \"" + key + "\" (expected " + list + ")");
  }
}

// "calls": a count, or {"min": N, "max": M} with either left out.
void ReadCount(const ScenarioNode& calls, ExpectedCalls& expected) {
  if (!calls.IsObject()) {
    expected.minCalls = expected.maxCalls = static_cast<std::uint64_t>(calls.AsInt(0, kMaxCount));
    return;
  }
  RejectUnknownKeys(calls, {"min", "max"});
  if (!calls.Has("min") && !calls.Has("max")) calls.Fail("expected \"min\", \"max\" or both");
  expected.minCalls = static_cast<std::uint64_t>(calls.Int("min", 0, 0, kMaxCount));
  if (const auto max = calls.Optional("max")) {
    expected.maxCalls = static_cast<std::uint64_t>(max->AsInt(0, kMaxCount));
    if (expected.maxCalls < expected.minCalls) {
      max->Fail("expected at least \"min\" (" + std::to_string(expected.minCalls) + ")");
    }
  }
}

void ReadFrames(const ScenarioNode& frames, ExpectedCalls& expected) {
  const std::vector<ScenarioNode> ends = frames.Items();
  if (ends.size() != 2) frames.Fail("expected [FIRST, LAST], two frame numbers");
  expected.firstFrame = ends[0].AsInt(0, kMaxCount);
  expected.lastFrame = ends[1].AsInt(0, kMaxCount);
  if (expected.lastFrame < expected.firstFrame) {
    ends[1].Fail("expected a frame at or after the first (" + std::to_string(expected.firstFrame) +
                 ")");
  }
  expected.framesGiven = true;
}

ExpectedCalls ReadEntry(const ScenarioNode& item) {
  item.ExpectObject();
  RejectUnknownKeys(item, {"native", "calls", "frames"});
  const ScenarioNode native = item.Child("native");
  ExpectedCalls expected{native, native.AsString()};
  if (expected.native.empty()) expected.nativeNode.Fail("expected a native's name or hash");
  ReadCount(item.Child("calls"), expected);
  if (const auto frames = item.Optional("frames")) ReadFrames(*frames, expected);
  return expected;
}

}  // namespace

std::vector<ExpectedCalls> ParseExpectedCalls(const ScenarioNode& list) {
  if (!list.IsArray()) list.Fail("expected a list of expected calls");
  std::vector<ExpectedCalls> expectations;
  for (const ScenarioNode& item : list.Items()) expectations.push_back(ReadEntry(item));
  return expectations;
}

std::string ExpectedCountText(const ExpectedCalls& e) {
  const auto calls = [](std::uint64_t n) {
    return CountOf(static_cast<long long>(n), "call", "calls");
  };
  if (e.maxCalls == 0) return "no calls";
  if (e.minCalls == e.maxCalls) return "exactly " + calls(e.minCalls);
  if (e.maxCalls == ExpectedCalls::kNoLimit) return "at least " + calls(e.minCalls);
  if (e.minCalls == 0) return "at most " + calls(e.maxCalls);
  return "from " + std::to_string(e.minCalls) + " to " + calls(e.maxCalls);
}

}  // namespace sim
