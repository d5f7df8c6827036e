// The hashes that neither the game's table nor the user's catalogue knows,
// answered 0 when rebound-sim run is given --unknown-natives zero: each one's
// calls and the frame it was first called in, for the run's summary. A run
// without it has none, and such a hash stops the run as it does in the game.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "sim/base/native_table.h"

namespace sim {

class World;

// The timeline's category of the warning about a hash answered 0.
inline constexpr const char* kUnknownNativeNote = "natives";

class UnknownNatives {
 public:
  struct Native {
    // Its hash, as its name too: the trace's lines point at it. No argument
    // kinds, a whole-number result.
    NativeSignature signature;
    std::int64_t firstFrame = 0;  // of its first call
    std::uint64_t calls = 0;
  };

  UnknownNatives() = default;
  UnknownNatives(const UnknownNatives&) = delete;
  UnknownNatives& operator=(const UnknownNatives&) = delete;

  // Counts a call of `hash`; the first call of a hash is warned about on the
  // world's timeline. The hash's stand-in signature, kept as long as this is.
  const NativeSignature& CountCall(std::uint64_t hash, World& world);

  std::uint64_t Calls() const { return calls_; }
  // In the order they were first called.
  const std::deque<Native>& Natives() const { return natives_; }

 private:
  std::uint64_t calls_ = 0;
  std::deque<Native> natives_;  // never moved: trace lines point at their signatures
  std::map<std::uint64_t, std::size_t> indexOf_;  // into natives_
};

// The summary's line: "3 calls to 2 natives no table knows, answered 0: ..."
// naming the first `listed` hashes with the frame each was first called in.
std::string DescribeUnknownNatives(const UnknownNatives& unknown, std::size_t listed);

}  // namespace sim
