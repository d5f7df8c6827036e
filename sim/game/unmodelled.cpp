#include "sim/game/unmodelled.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "sim/game/world.h"

namespace sim {

namespace {

void RecordUnmodelledCall(World& world, CallFrame& call) { world.unmodelled.Record(call); }

}  // namespace

void UnmodelledCalls::RegisterNatives(HandlerRegistry& registry) {
  std::size_t marked = 0;
  for (const NativeSignature& signature : NativeTable()) {
    if (!signature.callsRecorded) continue;
    registry.Add(signature.name, RecordUnmodelledCall);
    ++marked;
  }
  if (marked > kCapacity) {
    // A catalogue change the record has no room for: stop before any run.
    std::fprintf(stderr,
                 "rebound-sim: %zu natives are marked for a call record with room for %zu\n",
                 marked, kCapacity);
    std::abort();
  }
}

void UnmodelledCalls::Record(const CallFrame& call) {
  const NativeSignature* native = &call.Signature();
  UnmodelledCall* record = nullptr;
  for (std::size_t i = 0; i < count_ && record == nullptr; ++i) {
    if (records_[i].native == native) record = &records_[i];
  }
  if (record == nullptr) {
    record = &records_[count_++];  // RegisterNatives saw to the room
    record->native = native;
  }
  ++record->calls;
  const std::size_t kept = std::min(call.ArgCount(), UnmodelledCall::kKeptArgs);
  for (std::size_t i = 0; i < kept; ++i) record->lastArgs[i] = call.Raw(i);
}

const UnmodelledCall* UnmodelledCalls::Of(std::string_view native) const {
  for (std::size_t i = 0; i < count_; ++i) {
    if (records_[i].native->name == native) return &records_[i];
  }
  return nullptr;
}

}  // namespace sim
