#include "sim/host/slot_protocol.h"

#include <algorithm>

#include "sim/base/number_format.h"
#include "sim/host/call_decoding.h"
#include "sim/host/native_dispatch.h"

namespace sim {

namespace {

std::string NativeName(const NativeDispatch& dispatch, std::uint64_t hash) {
  const NativeEntry* native = dispatch.Find(hash);
  return native != nullptr ? ReadableNativeName(*native->signature) : HexHash(hash);
}

// What is wrong with one slot of a known native; empty when nothing is.
std::string SlotFault(ArgKind kind, std::uint64_t slot) {
  switch (kind) {
    case ArgKind::Int:
    case ArgKind::Float:
    case ArgKind::Bool:
      if ((slot >> 32) != 0) {
        return " has its upper 32 bits set: " + HexHash(slot);
      }
      if (kind == ArgKind::Bool && slot > 1) return " is " + std::to_string(slot) + ", not 0 or 1";
      return {};
    case ArgKind::Text:
      return slot == 0 ? " is a null text pointer" : std::string();
    case ArgKind::TextOrNull:
      return {};
    case ArgKind::OutInt:
    case ArgKind::OutFloat:
    case ArgKind::OutVector:
    case ArgKind::InOutInt:
      return slot == 0 ? " is a null pointer" : std::string();
  }
  return {};
}

// A known native whose slots its checks refused.
std::string SlotsRefusal(const NativeEntry& native, const NativeCallSlots& slots) {
  const NativeSignature& sig = *native.signature;
  const std::string who = HasPublicName(sig) ? "native " + sig.name + " (" + HexHash(sig.hash) + ")"
                                             : ReadableNativeName(sig);
  if (slots.argCount != sig.args.size()) {
    return who + ": " +
           (slots.argCount == NativeCallSlots::kTooManyArgs ? "more than 32 arguments"
            : slots.argCount == 1                           ? "1 argument"
                                  : std::to_string(slots.argCount) + " arguments") +
           " pushed, it takes " + std::to_string(sig.args.size());
  }
  for (std::size_t i = 0; i < slots.argCount; ++i) {
    const std::string fault = SlotFault(sig.args[i], slots.args[i]);
    if (fault.empty()) continue;
    return who + ": argument " + std::to_string(i + 1) + " (" +
           std::string(ArgKindName(sig.args[i])) + ")" + fault;
  }
  // The quick check and this one disagree: a fault of the simulator itself.
  return who + ": refused by the slot check, but no argument is wrong";
}

}  // namespace

std::string InitRefusal(const NativeDispatch& dispatch, const NativeCallSlots& slots,
                        std::uint64_t hash, bool onScriptFibre) {
  if (!onScriptFibre)
    return "native " + NativeName(dispatch, hash) + " called outside the script fibre";
  return "nativeInit(" + NativeName(dispatch, hash) + ") before the call of " +
         NativeName(dispatch, slots.hash) + " was run";
}

std::string PushRefusal(bool onScriptFibre) {
  return onScriptFibre ? "nativePush64 without nativeInit"
                       : "nativePush64 called outside the script fibre";
}

std::string WaitRefusal(std::uint32_t ms, bool onScriptFibre) {
  if (!onScriptFibre)
    return "scriptWait(" + std::to_string(ms) + ") called outside the script fibre";
  return "scriptWait between nativeInit and nativeCall";
}

RefusedCall RefusedCallOf(const NativeDispatch& dispatch, std::uint64_t hash,
                          const std::uint64_t* slots, std::size_t count) {
  RefusedCall call;
  call.hash = hash;
  const NativeEntry* native = dispatch.Find(hash);
  call.native = native != nullptr ? native->signature : nullptr;
  count = std::min(count, kMaxArgs);
  const std::size_t known = call.native != nullptr ? std::min(count, call.native->args.size()) : 0;
  TraceEntry decoded;
  if (known > 0) DecodeArgs(*call.native, slots, known, decoded);
  for (std::size_t i = 0; i < count; ++i) {
    RefusedArg arg;
    arg.raw = i >= known || !SlotFault(call.native->args[i], slots[i]).empty();
    if (arg.raw) {
      arg.slot = slots[i];
    } else {
      arg.value = decoded.args[i];
    }
    call.args.push_back(std::move(arg));
  }
  return call;
}

std::string CallRefusal(const NativeEntry* native, const NativeCallSlots& slots, bool opened,
                        bool onScriptFibre) {
  if (!onScriptFibre) return "nativeCall called outside the script fibre";
  if (!opened) return "nativeCall without nativeInit";
  if (native == nullptr) return "native " + HexHash(slots.hash) + " is not a native of the game";
  return SlotsRefusal(*native, slots);
}

}  // namespace sim
