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
  std::int32_t script = -1;                 // see plugin below
  const NativeSignature* native = nullptr;  // null for a host event
  std::string host;                         // the host event's name
  std::vector<TraceValue> args;  // native arguments, or the host event's values (HostValueNames)
  std::vector<TraceValue> outs;  // values written through out-variables
  std::optional<TraceValue> result;
  // A recording's own call (the recorder asking the frame count and game
  // timer): the plug-in under test never makes it.
  bool byRecorder = false;
  // A frame inside a recording's idle stretch: its time was not recorded but
  // interpolated between the stretch's first and last frame, so it may be a
  // millisecond or two off the game's.
  bool timeInterpolated = false;
  // A call of a hash no table knows, answered 0 (rebound-sim run
  // --unknown-natives zero): `native` is a stand-in named by the hash, and
  // `args` hold the raw slots pushed, written as such. In what would be padding.
  bool unknownNative = false;
  // Written only in a run where more than one script runs (several plug-ins,
  // or a plug-in with additional threads): the module, by its TracePlugin
  // number (0 for none), and the script's index in registration order across
  // the run (-1 for a line made off any script, such as a registration at
  // process attach). Both sit in what would be padding: the entry is on the
  // script's stack for every traced host line, and a run with one script
  // must use no more of it than it always did.
  std::uint16_t plugin = 0;

  bool IsNative(std::string_view name) const { return native != nullptr && native->name == name; }
  bool IsHost(std::string_view name) const { return native == nullptr && host == name; }
  std::string_view Name() const { return native != nullptr ? native->name : host; }
};

// The plug-ins' file names as trace lines number them: 1 for the first name
// asked for, 2 for the next other one, and so on (0 is none). Asked on the
// simulator's own thread, or while it waits for the keyboard thread.
std::uint16_t TracePlugin(const std::string& fileName);
const std::string& TracePluginName(std::uint16_t number);

// An argument of a call the host refused, or whose handler stopped the run:
// decoded by its native's signature where the slot is one its kind allows,
// else the slot's raw 64 bits (the bad slot itself, a slot past the native's
// arguments, any slot of a hash the game does not know).
struct RefusedArg {
  bool raw = false;
  std::uint64_t slot = 0;  // when raw
  TraceValue value;        // when not
};

// The native call a fault is about.
struct RefusedCall {
  std::uint64_t hash = 0;
  const NativeSignature* native = nullptr;  // null for a hash the game does not know
  std::vector<RefusedArg> args;             // what was pushed, at most kMaxArgs
};

// Where a run stopped at a fault: the last line of its trace.
struct TraceFault {
  std::int64_t frame = 0;  // -1 at load
  std::int32_t time = 0;
  // The native calls the script made in that frame before the fault: the
  // refused call's index in its frame, counted from 0 as `atCall` counts.
  std::uint32_t call = 0;
  std::string reason;                  // what was wrong; the frame is in `frame`
  std::optional<RefusedCall> refused;  // none when no native call was under way
};

class Trace {
 public:
  void Add(TraceEntry entry) { entries_.push_back(std::move(entry)); }
  const std::vector<TraceEntry>& Entries() const { return entries_; }
  std::vector<TraceEntry>& Entries() { return entries_; }
  void Clear() {
    entries_.clear();
    fault_.reset();
  }

  // Entries of one native or host event, in order.
  std::vector<const TraceEntry*> Find(std::string_view name) const;
  std::size_t Count(std::string_view name) const;
  std::size_t NativeCalls() const;

  // The fault the run stopped at, written after every entry.
  void SetFault(TraceFault fault) { fault_ = std::move(fault); }
  const std::optional<TraceFault>& Fault() const { return fault_; }

  static std::string ToJson(const TraceEntry& entry);
  static std::string ToJson(const TraceFault& fault);
  void WriteJsonLines(std::ostream& out) const;

 private:
  std::vector<TraceEntry> entries_;
  std::optional<TraceFault> fault_;
};

// A refused call as a reader reads it in a message or the report's viewer:
// `NAME(arg, ...)`, texts quoted, a raw slot as 0x and 16 hex digits.
std::string RefusedCallText(const RefusedCall& call);

// The named values of a host line, in the order the line writes them and the
// entry's args hold them (whole numbers, but for a fault's reason, a text);
// empty for an event with none or one the trace does not know.
const std::vector<std::string_view>& HostValueNames(std::string_view host);

// How the trace writes a float: the shortest digits that read back as the
// same float, and the strings "NaN", "Infinity" and "-Infinity" for what JSON
// has no number for.
nlohmann::ordered_json TraceNumber(double value);

}  // namespace sim
