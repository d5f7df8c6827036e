#include "sim/observe/trace.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string_view>

#include <nlohmann/json.hpp>

#include "sim/base/number_format.h"

namespace sim {

// A float shown with the fewest digits that read back as the same float, so
// that 0.923f reads 0.923 and not 0.92299997806549072. JSON has no NaN or
// infinity: those are the strings "NaN", "Infinity" and "-Infinity".
nlohmann::ordered_json TraceNumber(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  return std::strtod(FloatDigits(value).c_str(), nullptr);
}

namespace {

// Writes one JSON line as nlohmann::ordered_json's dump writes it (no spaces,
// non-ASCII as it is, bad UTF-8 replaced), byte for byte, without building a
// document first: a trace is written as the run goes, a line per native call,
// and a document per line was most of the time of a traced run.
class LineWriter {
 public:
  // Room for nearly every line at once: a string grown from nothing to a
  // line's hundred bytes moves four times on the way.
  LineWriter() { out_.reserve(192); }

  void Key(std::string_view key) {
    if (PutShort(key, true)) return;
    Separate();
    Quoted(key);
    out_ += ':';
    first_ = true;
  }
  void IntField(std::string_view key, std::int64_t value) {
    Key(key);
    Int(value);
  }
  void TextField(std::string_view key, std::string_view text) {
    Key(key);
    Text(text);
  }
  void Int(std::int64_t value) {
    char buf[24];
    char* at = buf;
    if (!first_) *at++ = ',';
    first_ = false;
    out_.append(buf, std::to_chars(at, buf + sizeof buf, value).ptr);
  }
  void Bool(bool value) {
    Separate();
    out_ += value ? "true" : "false";
  }
  void Null() {
    Separate();
    out_ += "null";
  }
  void Text(std::string_view text) {
    if (PutShort(text, false)) return;
    Separate();
    Quoted(text);
  }
  void Number(double value) {
    if (std::isnan(value)) return Text("NaN");
    if (std::isinf(value)) return Text(value > 0 ? "Infinity" : "-Infinity");
    Separate();
    // The digits nlohmann's dump writes for the double, from its own routine.
    char buf[64];
    const double shortest = std::strtod(FloatDigits(value).c_str(), nullptr);
    out_.append(buf, nlohmann::detail::to_chars(buf, buf + sizeof buf, shortest));
  }
  void Value(const TraceValue& v);
  void Open(char bracket) {
    Separate();
    out_ += bracket;
    first_ = true;
  }
  void Close(char bracket) {
    out_ += bracket;
    first_ = false;
  }
  std::string Take() { return std::move(out_); }

 private:
  void Quoted(std::string_view text) {
    if (PlainAscii(text)) {
      out_ += '"';
      out_ += text;
      out_ += '"';
    } else {
      out_ += nlohmann::ordered_json(std::string(text))
                  .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
  }
  // A short text of printable ASCII (a key, a name, most values) goes out
  // quoted in one append, with the comma before it and, for a KEY, the colon
  // after: one call of the string's append a field rather than five, which
  // an unoptimised build pays for on every line of a trace. False, and
  // nothing written, for any other text.
  bool PutShort(std::string_view text, bool key) {
    char buf[64];
    if (text.size() + 4 > sizeof buf || !PlainAscii(text)) return false;
    std::size_t n = 0;
    if (!first_) buf[n++] = ',';
    buf[n++] = '"';
    if (!text.empty()) std::memcpy(buf + n, text.data(), text.size());
    n += text.size();
    buf[n++] = '"';
    if (key) buf[n++] = ':';
    out_.append(buf, n);
    first_ = key;
    return true;
  }
  // Printable ASCII but for the quote and the backslash is written as it is.
  static bool PlainAscii(std::string_view text) {
    for (const char c : text) {
      if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') return false;
    }
    return true;
  }
  void Separate() {
    if (!first_) out_ += ',';
    first_ = false;
  }

  std::string out_;
  bool first_ = true;
};

void LineWriter::Value(const TraceValue& v) {
  switch (v.kind) {
    case TraceValue::Kind::Int:
      return Int(v.integer);
    case TraceValue::Kind::Bool:
      return Bool(v.integer != 0);
    case TraceValue::Kind::Float:
      return Number(v.number);
    case TraceValue::Kind::Text:
      return Text(v.text);
    case TraceValue::Kind::Null:
      return Null();
    case TraceValue::Kind::Out:
      return Text("out");
    case TraceValue::Kind::Vector:
      Open('[');
      for (const double d : v.vector) Number(d);
      return Close(']');
  }
  Null();
}

void WriteValues(LineWriter& w, std::string_view key, const std::vector<TraceValue>& values) {
  w.Key(key);
  w.Open('[');
  for (const TraceValue& v : values) w.Value(v);
  w.Close(']');
}

// The host's services' lines: what each was asked and what it answered.
// Built before main rather than at the first lookup, which a script makes on
// its fibre, so that a run's script stack is not charged for building it.
struct ServiceLine {
  std::string_view host;
  std::vector<std::string_view> names;
};
const std::vector<ServiceLine> kServiceLines = {
    {"getGameVersion", {"version"}},
    {"getGlobalPtr", {"id"}},
    {"getScriptHandleBaseAddress", {"handle"}},
    {"worldGetAllVehicles", {"size", "written"}},
    {"worldGetAllPeds", {"size", "written"}},
    {"worldGetAllObjects", {"size", "written"}},
    {"worldGetAllPickups", {"size", "written"}},
    {"createTexture", {"file", "id"}},
    {"drawTexture", {"id", "index", "level", "ms"}},
    {"nativeCanExecuteInThisContext", {"answer"}},
    {"scriptsAreLaunchedUsingReloading", {"answer"}},
};

// Looked up only once the table of the host's own lines has none: out of
// line, so that the lookup a script makes on its fibre keeps its frame.
[[gnu::noinline]] const std::vector<std::string_view>& ServiceValueNames(
    const std::string_view& host) {
  static const std::vector<std::string_view> none;
  for (const ServiceLine& line : kServiceLines) {
    if (line.host == host) return line.names;
  }
  return none;
}

}  // namespace

const std::vector<std::string_view>& HostValueNames(std::string_view host) {
  struct Kind {
    std::string_view host;
    std::vector<std::string_view> names;
  };
  static const std::vector<Kind> kinds = {
      {"seed", {"seed"}},
      {"scriptWait", {"ms"}},
      {"keyboard", {"key", "repeats", "scanCode", "extended", "alt", "wasDownBefore", "isUp"}},
      {"randomDraw", {"value"}},
      {"repeat", {"frames", "firstFrame", "firstTime"}},
      {"dropped", {"frames"}},
      {"capped", {"bytes"}},
      {"droppedKeys", {"count"}},
      {"fault", {"call", "reason"}},
  };
  for (const Kind& kind : kinds) {
    if (kind.host == host) return kind.names;
  }
  return ServiceValueNames(host);
}

std::vector<const TraceEntry*> Trace::Find(std::string_view name) const {
  std::vector<const TraceEntry*> out;
  for (const auto& e : entries_) {
    if (e.Name() == name) out.push_back(&e);
  }
  return out;
}

std::size_t Trace::Count(std::string_view name) const {
  std::size_t n = 0;
  for (const auto& e : entries_) n += e.Name() == name ? 1 : 0;
  return n;
}

std::size_t Trace::NativeCalls() const {
  std::size_t n = 0;
  for (const auto& e : entries_) n += e.native != nullptr ? 1 : 0;
  return n;
}

namespace {

std::deque<std::string>& PluginNames() {
  static std::deque<std::string> names;
  return names;
}

}  // namespace

std::uint16_t TracePlugin(const std::string& fileName) {
  std::deque<std::string>& names = PluginNames();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == fileName) return static_cast<std::uint16_t>(i + 1);
  }
  names.push_back(fileName);
  return static_cast<std::uint16_t>(names.size());
}

const std::string& TracePluginName(std::uint16_t number) {
  static const std::string none;
  const std::deque<std::string>& names = PluginNames();
  return number == 0 || number > names.size() ? none : names[number - 1];
}

namespace {

// Out of ToJson's own frame, which the script's stack holds on every traced
// call: a run with one script never comes here.
[[gnu::noinline]] void WriteOrigin(LineWriter& w, const TraceEntry& e) {
  w.TextField("plugin", TracePluginName(e.plugin));
  if (e.script >= 0) w.IntField("script", e.script);
}

// A hash no table knows: no name, each slot pushed as its raw 64 bits (as a
// refused call's are), the zero it was answered, and the mark that says so.
[[gnu::noinline]] void WriteUnknownNative(LineWriter& w, const TraceEntry& e) {
  w.TextField("native", HexHash(e.native->hash));
  w.Key("args");
  w.Open('[');
  for (const TraceValue& slot : e.args) {
    w.Open('{');
    w.TextField("slot", HexHash(static_cast<std::uint64_t>(slot.integer)));
    w.Close('}');
  }
  w.Close(']');
  w.Key("result");
  w.Int(0);
  w.Key("unknown");
  w.Bool(true);
}

}  // namespace

std::string Trace::ToJson(const TraceEntry& e) {
  LineWriter w;
  w.Open('{');
  w.IntField("frame", e.frame);
  w.IntField("time", e.time);
  if (e.plugin != 0) WriteOrigin(w, e);
  if (e.unknownNative) [[unlikely]] {
    WriteUnknownNative(w, e);
  } else if (e.native != nullptr) {
    w.TextField("native", HexHash(e.native->hash));
    w.TextField("name", e.native->name);
    WriteValues(w, "args", e.args);
    if (!e.outs.empty()) WriteValues(w, "outs", e.outs);
    if (e.result) {
      w.Key("result");
      w.Value(*e.result);
    }
  } else {
    w.TextField("host", e.host);
    const std::vector<std::string_view>& names = HostValueNames(e.host);
    if (!names.empty() && e.args.size() == names.size()) {
      for (std::size_t i = 0; i < names.size(); ++i) {
        w.Key(names[i]);
        w.Value(e.args[i]);
      }
    } else if (!e.args.empty()) {
      WriteValues(w, "args", e.args);
    }
  }
  if (e.byRecorder) {
    w.TextField("by", "recorder");
  }
  w.Close('}');
  return w.Take();
}

namespace {

void WriteRefusedArg(LineWriter& w, const RefusedArg& a) {
  if (!a.raw) return w.Value(a.value);
  w.Open('{');
  w.TextField("slot", HexHash(a.slot));
  w.Close('}');
}

}  // namespace

// A host line of its own kind: besides its call index it holds a text and the
// refused call, which the named whole numbers of the other host lines cannot.
std::string Trace::ToJson(const TraceFault& fault) {
  LineWriter w;
  w.Open('{');
  w.IntField("frame", fault.frame);
  w.IntField("time", fault.time);
  w.TextField("host", "fault");
  w.IntField("call", fault.call);
  w.TextField("reason", fault.reason);
  if (fault.refused) {
    const RefusedCall& call = *fault.refused;
    w.Key("refused");
    w.Open('{');
    w.TextField("native", HexHash(call.hash));
    if (call.native != nullptr && HasPublicName(*call.native)) {
      w.TextField("name", call.native->name);
    }
    w.Key("args");
    w.Open('[');
    for (const RefusedArg& a : call.args) WriteRefusedArg(w, a);
    w.Close(']');
    w.Close('}');
  }
  w.Close('}');
  return w.Take();
}

void Trace::WriteJsonLines(std::ostream& out) const {
  for (const auto& e : entries_) out << ToJson(e) << '\n';
  if (fault_) out << ToJson(*fault_) << '\n';
}

std::string RefusedCallText(const RefusedCall& call) {
  std::string text = call.native != nullptr && HasPublicName(*call.native) ? call.native->name
                                                                           : HexHash(call.hash);
  text += '(';
  for (std::size_t i = 0; i < call.args.size(); ++i) {
    if (i > 0) text += ", ";
    const RefusedArg& a = call.args[i];
    if (a.raw) {
      text += HexHash(a.slot);
    } else {
      LineWriter w;
      w.Value(a.value);
      text += w.Take();
    }
  }
  return text + ')';
}

}  // namespace sim
