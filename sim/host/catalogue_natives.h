// The natives of a user's own catalogue (rebound-sim --natives) that the
// game's table lacks: the host's second place to look a hash up, asked only
// for a hash the game's table does not know. The world models none of them:
// each is answered with the default of its result, and its calls are counted
// for the run's summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/base/natives_catalogue.h"
#include "sim/host/native_dispatch.h"

namespace sim {

class World;

// The timeline's category of the warnings about a call the catalogue's
// signature does not fit.
inline constexpr const char* kCatalogueNote = "natives";

class CatalogueNatives {
 public:
  // A native called with another count of arguments than the catalogue
  // gives it: warned about once, at its first such call.
  struct CountMismatch {
    const NativeSignature* native = nullptr;
    std::size_t pushed = 0;       // at the first such call; NativeCallSlots::kTooManyArgs past 32
    std::int64_t firstFrame = 0;  // of the first such call
    std::uint64_t calls = 0;      // every such call
  };

  // Keeps the natives whose hash the game's table lacks; the game's own
  // behaviour stays with the others.
  explicit CatalogueNatives(NativesCatalogue catalogue);
  CatalogueNatives(const CatalogueNatives&) = delete;
  CatalogueNatives& operator=(const CatalogueNatives&) = delete;

  const NativeEntry* Find(std::uint64_t hash) const { return dispatch_->Find(hash); }
  const std::string& FileName() const { return catalogue_.fileName; }
  // The natives it answers (those the game's table lacks), in file order.
  const std::vector<NativeSignature>& Natives() const { return catalogue_.natives; }

  // Counts a call of `native` with `pushed` argument slots; a count the
  // signature does not have is noted on the world's timeline the first time.
  void CountCall(const NativeEntry& native, std::size_t pushed, World& world);
  std::uint64_t AnsweredCalls() const { return answeredCalls_; }
  // In the order they were first met.
  const std::vector<CountMismatch>& Mismatches() const { return mismatches_; }

 private:
  NativesCatalogue catalogue_;  // the dispatch points into its natives: never resized
  std::unique_ptr<NativeDispatch> dispatch_;
  std::uint64_t answeredCalls_ = 0;
  std::vector<CountMismatch> mismatches_;
  std::map<const NativeSignature*, std::size_t> mismatchOf_;  // index into mismatches_
};

// How a warning names a count of argument slots: "1 argument", "more than 32
// arguments".
std::string ArgumentCount(std::size_t pushed);

}  // namespace sim
