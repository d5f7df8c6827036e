// The record of a run: every native call with its decoded arguments, outs and
// result, and every host event, in call order. Written as JSON Lines.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/base/native_table.h"

namespace sim {

struct TraceValue {
  enum class Kind { Int, Bool, Float, Text, Null, Out, Vector };
  Kind kind = Kind::Int;
  std::int64_t integer = 0;
  double number = 0.0;
  std::string text;
  double vector[3] = {0.0, 0.0, 0.0};

  static TraceValue Int(std::int64_t v) {
    TraceValue t;
    t.integer = v;
    return t;
  }
  static TraceValue Bool(bool v) {
    TraceValue t;
    t.kind = Kind::Bool;
    t.integer = v ? 1 : 0;
    return t;
  }
  static TraceValue Float(float v) {
    TraceValue t;
    t.kind = Kind::Float;
    t.number = v;
    return t;
  }
  static TraceValue Text(std::string v) {
    TraceValue t;
    t.kind = Kind::Text;
    t.text = std::move(v);
    return t;
  }
  static TraceValue Null() {
    TraceValue t;
    t.kind = Kind::Null;
    return t;
  }
  static TraceValue Out() {
    TraceValue t;
    t.kind = Kind::Out;
    return t;
  }
  static TraceValue Vector(float x, float y, float z) {
    TraceValue t;
    t.kind = Kind::Vector;
    t.vector[0] = x;
    t.vector[1] = y;
    t.vector[2] = z;
    return t;
  }

  bool IsTrue() const { return kind == Kind::Bool && integer != 0; }
};

struct TraceEntry {
  std::int64_t frame = 0;
  std::int32_t time = 0;
  const NativeSignature* native = nullptr;  // null for a host event
  std::string host;                         // the host event's name
  std::vector<TraceValue> args;  // native arguments, or the host event's values (HostValueNames)
  std::vector<TraceValue> outs;  // values written through out-variables
  std::optional<TraceValue> result;
  // A recording's own call (the recorder asking the frame count and game
  // timer): the plug-in under test never makes it.
  bool byRecorder = false;

  bool IsNative(std::string_view name) const { return native != nullptr && native->name == name; }
  bool IsHost(std::string_view name) const { return native == nullptr && host == name; }
  std::string_view Name() const { return native != nullptr ? native->name : host; }
};

class Trace {
 public:
  void Add(TraceEntry entry) { entries_.push_back(std::move(entry)); }
  const std::vector<TraceEntry>& Entries() const { return entries_; }
  std::vector<TraceEntry>& Entries() { return entries_; }
  void Clear() { entries_.clear(); }

  // Entries of one native or host event, in order.
  std::vector<const TraceEntry*> Find(std::string_view name) const;
  std::size_t Count(std::string_view name) const;
  std::size_t NativeCalls() const;

  static std::string ToJson(const TraceEntry& entry);
  void WriteJsonLines(std::ostream& out) const;

 private:
  std::vector<TraceEntry> entries_;
};

// The named values of a host line, in the order the line writes them and the
// entry's args hold them (all whole numbers); empty for an event with none or
// one the trace does not know.
const std::vector<std::string_view>& HostValueNames(std::string_view host);

// How the trace writes a float: the shortest digits that read back as the
// same float, and the strings "NaN", "Infinity" and "-Infinity" for what JSON
// has no number for.
nlohmann::ordered_json TraceNumber(double value);

}  // namespace sim
