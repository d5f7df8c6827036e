// A native call as the script builds it through the host (nativeInit, then one
// nativePush64 a slot, then nativeCall), and the messages with which the host
// refuses a call that breaks that protocol or its native's slot checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/base/call.h"
#include "sim/observe/trace.h"

namespace sim {

class NativeDispatch;
struct NativeEntry;

// The call being built. Simulation owns one and works on its fields inline:
// every native call goes through them.
struct NativeCallSlots {
  // A push past kMaxArgs leaves this count, which no native takes.
  static constexpr std::size_t kTooManyArgs = kMaxArgs + 1;

  NativeCallSlots() = default;
  // The frame points into this object's own slots.
  NativeCallSlots(const NativeCallSlots&) = delete;
  NativeCallSlots& operator=(const NativeCallSlots&) = delete;

  void Open(std::uint64_t nativeHash) {
    open = true;
    hash = nativeHash;
    argCount = 0;
  }
  void Push(std::uint64_t value) {
    if (argCount >= kMaxArgs) [[unlikely]] {
      argCount = kTooManyArgs;
      return;
    }
    args[argCount++] = value;
  }

  bool open = false;  // begun with nativeInit, not yet called
  std::uint64_t hash = 0;
  std::uint64_t args[kMaxArgs] = {};
  std::size_t argCount = 0;  // kTooManyArgs once more than kMaxArgs were pushed
  std::uint64_t result[kResultSlots] = {};
  std::uint64_t deadResult[kResultSlots] = {};  // handed out after a fault
  // What the handlers are given: the slots above, the native of each call.
  CallFrame frame{args, result};
};

// The call of `hash` with its first `count` slots, as a fault line shows it:
// each slot decoded where its kind allows it, raw where not.
RefusedCall RefusedCallOf(const NativeDispatch& dispatch, std::uint64_t hash,
                          const std::uint64_t* slots, std::size_t count);

// The refusals, each naming what is wrong. `onScriptFibre`: whether the
// function was called, as it must be, from the script fibre.
std::string InitRefusal(const NativeDispatch& dispatch, const NativeCallSlots& slots,
                        std::uint64_t hash, bool onScriptFibre);
std::string PushRefusal(bool onScriptFibre);
std::string WaitRefusal(std::uint32_t ms, bool onScriptFibre);
// `opened`: the call had been begun with nativeInit; `native` is null for a
// hash the game does not know.
std::string CallRefusal(const NativeEntry* native, const NativeCallSlots& slots, bool opened,
                        bool onScriptFibre);

}  // namespace sim
