// A native call's slots read back as the trace's values, for the trace and
// the flow observer: the arguments before the handler runs, and what it wrote
// through the out-pointers and the result slots after.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/base/call.h"
#include "sim/observe/trace.h"

namespace sim {

// Makes `entry` the call of `sig` with its `count` argument slots. The entry's
// lists keep their room, so this allocates nothing once they have grown.
void DecodeArgs(const NativeSignature& sig, const std::uint64_t* args, std::size_t count,
                TraceEntry& entry);
// Adds to `entry` what the handler wrote through the call's out-pointers.
void DecodeOuts(const NativeSignature& sig, const std::uint64_t* args, std::size_t count,
                TraceEntry& entry);
TraceValue DecodeResult(const NativeSignature& sig, const std::uint64_t (&result)[kResultSlots]);

}  // namespace sim
