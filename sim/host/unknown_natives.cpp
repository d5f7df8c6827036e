#include "sim/host/unknown_natives.h"

#include <algorithm>

#include "sim/base/call.h"
#include "sim/base/number_format.h"
#include "sim/game/world.h"
#include "sim/host/simulation.h"

namespace sim {

const NativeSignature& UnknownNatives::CountCall(std::uint64_t hash, World& world) {
  ++calls_;
  const auto [at, first] = indexOf_.emplace(hash, natives_.size());
  if (!first) {
    Native& known = natives_[at->second];
    ++known.calls;
    return known.signature;
  }
  Native& native = natives_.emplace_back();
  native.signature.hash = hash;
  native.signature.name = HexHash(hash);
  native.signature.result = ResultKind::Int;
  native.firstFrame = world.clock.frame;
  native.calls = 1;
  world.Note(kUnknownNativeNote, "warning: native " + HexHash(hash) +
                                     " is in no table; answered 0 (--unknown-natives zero; "
                                     "warned once)");
  return native.signature;
}

std::string DescribeUnknownNatives(const UnknownNatives& unknown, std::size_t listed) {
  const std::deque<UnknownNatives::Native>& natives = unknown.Natives();
  std::string text = CountOf(static_cast<long long>(unknown.Calls()), "call", "calls") + " to " +
                     CountOf(static_cast<long long>(natives.size()), "native", "natives") +
                     " no table knows, answered 0";
  for (std::size_t i = 0; i < natives.size() && i < listed; ++i) {
    text += (i == 0 ? ": " : ", ") + HexHash(natives[i].signature.hash) + " (" +
            CountOf(static_cast<long long>(natives[i].calls), "call", "calls") +
            ", the first in frame " + std::to_string(natives[i].firstFrame) + ")";
  }
  if (natives.size() > listed) {
    text += " and " + std::to_string(natives.size() - listed) + " more";
  }
  return text;
}

// A call of a hash that neither the game's table nor the user's catalogue
// knows, in a run told to answer such calls 0: reached from the refusal path,
// where such a hash lands, so a known native's call never comes near it. The
// result's slots are zeroed and nothing else is written: no out-variable is
// known to be one. The trace shows the raw slots pushed, as it does for a
// refused call, the kinds being unknown.
std::uint64_t* Simulation::UnknownNativeCall() {
  call_.result[0] = call_.result[1] = call_.result[2] = call_.result[3] = 0;
  ++callsThisFrame_;
  const InsideHostScope inside;
  const NativeSignature& native = options_.unknownNatives->CountCall(call_.hash, world_);
  if (!tracing_) return call_.result;
  TraceEntry entry;
  entry.frame = world_.clock.frame;
  entry.time = world_.clock.gameTimer;
  entry.native = &native;
  entry.unknownNative = true;
  const std::size_t pushed = std::min(call_.argCount, kMaxArgs);
  for (std::size_t i = 0; i < pushed; ++i) {
    entry.args.push_back(TraceValue::Int(static_cast<std::int64_t>(call_.args[i])));
  }
  entry.result = TraceValue::Int(0);
  if (labelLines_) LabelLine(entry);
  Record(entry);
  return call_.result;
}

}  // namespace sim
