#include "sim/host/call_decoding.h"

#include <bit>

namespace sim {

void DecodeArgs(const NativeSignature& sig, const std::uint64_t* args, std::size_t count,
                TraceEntry& entry) {
  entry.native = &sig;
  entry.args.clear();
  entry.outs.clear();
  entry.result.reset();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t slot = args[i];
    switch (sig.args[i]) {
      case ArgKind::Int:
        entry.args.push_back(TraceValue::Int(static_cast<std::int32_t>(slot)));
        break;
      case ArgKind::Bool:
        entry.args.push_back(TraceValue::Bool(slot != 0));
        break;
      case ArgKind::Float:
        entry.args.push_back(
            TraceValue::Float(std::bit_cast<float>(static_cast<std::uint32_t>(slot))));
        break;
      case ArgKind::Text:
      case ArgKind::TextOrNull:
        entry.args.push_back(slot == 0 ? TraceValue::Null()
                                       : TraceValue::Text(reinterpret_cast<const char*>(slot)));
        break;
      default:
        entry.args.push_back(TraceValue::Out());
        break;
    }
  }
}

void DecodeOuts(const NativeSignature& sig, const std::uint64_t* args, std::size_t count,
                TraceEntry& entry) {
  for (std::size_t i = 0; i < count; ++i) {
    switch (sig.args[i]) {
      case ArgKind::OutInt:
      case ArgKind::InOutInt:
        entry.outs.push_back(TraceValue::Int(*reinterpret_cast<const std::int32_t*>(args[i])));
        break;
      case ArgKind::OutFloat:
        entry.outs.push_back(TraceValue::Float(*reinterpret_cast<const float*>(args[i])));
        break;
      case ArgKind::OutVector: {
        const auto* v = reinterpret_cast<const GameVector*>(args[i]);
        entry.outs.push_back(TraceValue::Vector(v->x, v->y, v->z));
        break;
      }
      default:
        break;
    }
  }
}

TraceValue DecodeResult(const NativeSignature& sig, const std::uint64_t (&result)[kResultSlots]) {
  const auto low = [&result](std::size_t i) { return static_cast<std::uint32_t>(result[i]); };
  switch (sig.result) {
    case ResultKind::Int:
      return TraceValue::Int(static_cast<std::int32_t>(low(0)));
    case ResultKind::Bool:
      return TraceValue::Bool(low(0) != 0);
    case ResultKind::Float:
      return TraceValue::Float(std::bit_cast<float>(low(0)));
    case ResultKind::Vector:
      return TraceValue::Vector(std::bit_cast<float>(low(0)), std::bit_cast<float>(low(1)),
                                std::bit_cast<float>(low(2)));
    case ResultKind::Text: {
      const char* text = reinterpret_cast<const char*>(result[0]);
      return text != nullptr ? TraceValue::Text(text) : TraceValue::Null();
    }
    case ResultKind::None:
      break;
  }
  return TraceValue::Null();
}

}  // namespace sim
