// The simulated game's dispatch of a native call: from the hash the script
// pushed to the native's signature, the checks its argument slots must pass
// and the handler that answers it. Built once from the natives table and the
// handlers the world's areas register by name; looked up on every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/base/native_table.h"
#include "sim/game/handlers.h"

namespace sim {

// The handlers do not match the natives table: a name the table does not
// know, a native with two handlers, or a native with neither a handler nor
// the table's mark that the neutral default answers it. The message names
// every such native.
class HandlerTableError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// The values one argument slot may hold, as one unsigned range check:
// the slot is accepted when slot - low <= span.
struct SlotRange {
  std::uint64_t low = 0;
  std::uint64_t span = ~std::uint64_t{0};
};

struct NativeEntry {
  std::uint64_t hash = 0;
  const NativeSignature* signature = nullptr;  // null marks an empty slot of the table
  NativeHandler handler = nullptr;  // AnswerNeutrally for the natives the table leaves to it
  std::uint32_t argCount = 0;
  // The flow observer reads this native's calls: they are decoded even when
  // no trace is kept.
  bool followedByFlow = false;
  const SlotRange* ranges = nullptr;  // argCount of them

  // Whether every slot holds a value the native's signature allows. Only
  // integer checks: the caller names what is wrong when this fails.
  bool Accepts(const std::uint64_t* slots) const {
    bool ok = true;
    for (std::uint32_t i = 0; i < argCount; ++i) {
      ok &= slots[i] - ranges[i].low <= ranges[i].span;
    }
    return ok;
  }
};

class NativeDispatch {
 public:
  // Throws HandlerTableError when the registry does not match the table.
  NativeDispatch(const std::vector<NativeSignature>& table, const HandlerRegistry& registry);
  NativeDispatch(const NativeDispatch&) = delete;
  NativeDispatch& operator=(const NativeDispatch&) = delete;

  // The entry of a hash, or nullptr when the game has no such native.
  const NativeEntry* Find(std::uint64_t hash) const {
    // Open addressing with linear probing; the table is at most half full,
    // so a probe ends at the native or at an empty slot within a step or two.
    std::size_t i = Home(hash);
    for (;;) {
      const NativeEntry& e = slots_[i];
      if (e.hash == hash && e.signature != nullptr) return &e;
      if (e.signature == nullptr) return nullptr;
      i = (i + 1) & mask_;
    }
  }

  std::size_t Size() const { return size_; }
  // Slots of the open-addressing table (a power of two); for tests.
  std::size_t Capacity() const { return slots_.size(); }

 private:
  // Places one native in the open-addressed slots; throws HandlerTableError
  // when its hash is there already.
  void Insert(const NativeSignature& signature, NativeHandler handler);
  std::size_t Home(std::uint64_t hash) const {
    // Fibonacci hashing: the top bits of the product mix every bit of the hash.
    return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ULL) >> shift_);
  }

  std::vector<NativeEntry> slots_;
  std::vector<SlotRange> ranges_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
  std::size_t size_ = 0;
};

// The dispatch of every native the game knows, built from the natives table
// and the handlers the world's areas register, the first time it is asked
// for. Throws HandlerTableError when the two do not match.
const NativeDispatch& WorldDispatch();

// The handler of the natives that the neutral default answers: it leaves the
// zeroed result as it is. A handler like any other, so that a call need not
// ask whether there is one.
void AnswerNeutrally(World& world, CallFrame& call);

// The range of values a slot of this kind may hold.
SlotRange RangeOf(ArgKind kind);

}  // namespace sim
