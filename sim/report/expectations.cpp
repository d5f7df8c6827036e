#include "sim/report/expectations.h"

#include <cstdio>
#include <cstdlib>

#include "sim/base/native_table.h"
#include "sim/game/world.h"
#include "sim/host/catalogue_natives.h"

namespace sim {

namespace {

bool IsHashText(const std::string& text) {
  if (text.size() < 3 || text.size() > 18 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
    return false;
  return text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
}

const NativeSignature* FindInCatalogue(const CatalogueNatives* catalogue, const std::string& name) {
  if (catalogue == nullptr) return nullptr;
  for (const NativeSignature& native : catalogue->Natives()) {
    if (native.name == name) return &native;
  }
  return nullptr;
}

const NativeSignature& NativeOf(const ExpectedCalls& e, const CatalogueNatives* catalogue) {
  const std::string where =
      catalogue != nullptr ? "the game's natives (rebound-sim natives) or " + catalogue->FileName()
                           : "the game's natives (rebound-sim natives)";
  if (IsHashText(e.native)) {
    const std::uint64_t hash = std::strtoull(e.native.c_str() + 2, nullptr, 16);
    const NativeSignature* found = FindNative(hash);
    if (found == nullptr && catalogue != nullptr) {
      if (const NativeEntry* entry = catalogue->Find(hash)) found = entry->signature;
    }
    if (found == nullptr) e.nativeNode.Fail("no native has the hash " + e.native + " in " + where);
    return *found;
  }
  const NativeSignature* found = FindNativeByName(e.native);
  if (found == nullptr) found = FindInCatalogue(catalogue, e.native);
  if (found == nullptr) e.nativeNode.Fail("unknown native \"" + e.native + "\": not in " + where);
  return *found;
}

std::string HashText(std::uint64_t hash) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016llX", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace

std::string DescribeExpectation(const ExpectationResult& r) {
  const ExpectedCalls& e = r.expected;
  std::string text = r.native + ": expected " + ExpectedCountText(e);
  if (e.framesGiven) {
    text += " in frames " + std::to_string(e.firstFrame) + " to " + std::to_string(e.lastFrame);
  }
  return text + ", seen " + std::to_string(r.seen);
}

ExpectationCounter::ExpectationCounter(const std::vector<ExpectedCalls>& expected,
                                       const CatalogueNatives* catalogue) {
  for (const ExpectedCalls& e : expected) {
    const NativeSignature& native = NativeOf(e, catalogue);
    const std::string name = native.name.starts_with("0x") || native.name.starts_with("_0x")
                                 ? HashText(native.hash)
                                 : native.name + " (" + HashText(native.hash) + ")";
    counted_.push_back(Counted{e, native.hash, name, 0});
  }
}

void ExpectationCounter::OnNativeCall(const NativeSignature& native) {
  const std::int64_t frame = frame_;
  for (Counted& c : counted_) {
    if (c.hash == native.hash && frame >= c.expected.firstFrame && frame <= c.expected.lastFrame)
      ++c.seen;
  }
}

void ExpectationCounter::OnFrameEnd(const RunView& run) { frame_ = run.world.clock.frame + 1; }

std::vector<ExpectationResult> ExpectationCounter::Results() const {
  std::vector<ExpectationResult> results;
  for (const Counted& c : counted_) {
    const bool met = c.seen >= c.expected.minCalls && c.seen <= c.expected.maxCalls;
    results.push_back(ExpectationResult{c.expected, c.native, c.seen, met});
  }
  return results;
}

}  // namespace sim
