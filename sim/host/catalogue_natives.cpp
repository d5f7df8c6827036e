#include "sim/host/catalogue_natives.h"

#include <algorithm>
#include <utility>

#include "sim/base/number_format.h"
#include "sim/game/world.h"
#include "sim/host/simulation.h"

namespace sim {

namespace {

std::vector<NativeSignature> NativesTheGameLacks(std::vector<NativeSignature> natives) {
  std::erase_if(natives,
                [](const NativeSignature& native) { return FindNative(native.hash) != nullptr; });
  return natives;
}

// What a text native is answered with by default: a game-owned empty text,
// which outlives every call as the game's own texts do.
constexpr const char* kEmptyText = "";

}  // namespace

std::string ArgumentCount(std::size_t pushed) {
  if (pushed == NativeCallSlots::kTooManyArgs) return "more than 32 arguments";
  return pushed == 1 ? "1 argument" : std::to_string(pushed) + " arguments";
}

CatalogueNatives::CatalogueNatives(NativesCatalogue catalogue) {
  catalogue.natives = NativesTheGameLacks(std::move(catalogue.natives));
  catalogue_ = std::move(catalogue);
  // No handlers: every native is marked as answered by default.
  dispatch_ = std::make_unique<NativeDispatch>(catalogue_.natives, HandlerRegistry{});
}

void CatalogueNatives::CountCall(const NativeEntry& native, std::size_t pushed, World& world) {
  ++answeredCalls_;
  if (pushed == native.argCount) return;
  const auto [at, first] = mismatchOf_.emplace(native.signature, mismatches_.size());
  if (!first) {
    ++mismatches_[at->second].calls;
    return;
  }
  mismatches_.push_back(CountMismatch{native.signature, pushed, world.clock.frame, 1});
  world.Note(kCatalogueNote, "warning: " + ReadableNativeName(*native.signature) + " called with " +
                                 ArgumentCount(pushed) + ", the catalogue gives it " +
                                 std::to_string(native.argCount) +
                                 " (answered by default; warned once)");
}

// A call of a native the game's table lacks and the user's catalogue lists,
// reached from the refusal path, which is where such a hash lands. Its slots
// are checked as far as the call and the catalogue agree; a count that differs
// is warned about, not refused, as a catalogue's signature may be the one that
// is wrong. The trace shows the slots the two agree on.
std::uint64_t* Simulation::CatalogueCall(const NativeEntry& native) {
  const std::size_t pushed = call_.argCount;
  const std::size_t known = std::min<std::size_t>(pushed, native.argCount);
  for (std::size_t i = 0; i < known; ++i) {
    if (call_.args[i] - native.ranges[i].low > native.ranges[i].span) {
      return RefuseNativeCall(&native, true);
    }
  }
  call_.result[0] = call_.result[1] = call_.result[2] = call_.result[3] = 0;
  if (native.signature->result == ResultKind::Text) {
    call_.result[0] = reinterpret_cast<std::uintptr_t>(kEmptyText);
  }
  ++callsThisFrame_;
  {
    const InsideHostScope inside;
    options_.catalogue->CountCall(native, pushed, world_);
  }
  call_.argCount = known;
  if (slowCalls_ || native.followedByFlow) return WatchedCall(native);
  const InsideHostScope inside;
  RunHandler(native);
  return call_.result;
}

}  // namespace sim
