#include "sim/observe/trace.h"

#include <cmath>
#include <cstdlib>

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

nlohmann::ordered_json ValueToJson(const TraceValue& v) {
  switch (v.kind) {
    case TraceValue::Kind::Int:
      return v.integer;
    case TraceValue::Kind::Bool:
      return v.integer != 0;
    case TraceValue::Kind::Float:
      return TraceNumber(v.number);
    case TraceValue::Kind::Text:
      return v.text;
    case TraceValue::Kind::Null:
      return nullptr;
    case TraceValue::Kind::Out:
      return "out";
    case TraceValue::Kind::Vector:
      return nlohmann::ordered_json::array(
          {TraceNumber(v.vector[0]), TraceNumber(v.vector[1]), TraceNumber(v.vector[2])});
  }
  return nullptr;
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
  static const std::vector<std::string_view> none;
  for (const Kind& kind : kinds) {
    if (kind.host == host) return kind.names;
  }
  return none;
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

std::string Trace::ToJson(const TraceEntry& e) {
  nlohmann::ordered_json j;
  j["frame"] = e.frame;
  j["time"] = e.time;
  if (e.native != nullptr) {
    j["native"] = HexHash(e.native->hash);
    j["name"] = e.native->name;
    auto args = nlohmann::ordered_json::array();
    for (const auto& a : e.args) args.push_back(ValueToJson(a));
    j["args"] = args;
    if (!e.outs.empty()) {
      auto outs = nlohmann::ordered_json::array();
      for (const auto& o : e.outs) outs.push_back(ValueToJson(o));
      j["outs"] = outs;
    }
    if (e.result) j["result"] = ValueToJson(*e.result);
  } else {
    j["host"] = e.host;
    const std::vector<std::string_view>& names = HostValueNames(e.host);
    if (!names.empty() && e.args.size() == names.size()) {
      for (std::size_t i = 0; i < names.size(); ++i)
        j[std::string(names[i])] = ValueToJson(e.args[i]);
    } else if (!e.args.empty()) {
      auto args = nlohmann::ordered_json::array();
      for (const auto& a : e.args) args.push_back(ValueToJson(a));
      j["args"] = args;
    }
  }
  if (e.byRecorder) j["by"] = "recorder";
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

namespace {

nlohmann::ordered_json RefusedArgToJson(const RefusedArg& a) {
  if (a.raw) return nlohmann::ordered_json{{"slot", HexHash(a.slot)}};
  return ValueToJson(a.value);
}

}  // namespace

// A host line of its own kind: besides its call index it holds a text and the
// refused call, which the named whole numbers of the other host lines cannot.
std::string Trace::ToJson(const TraceFault& fault) {
  nlohmann::ordered_json j;
  j["frame"] = fault.frame;
  j["time"] = fault.time;
  j["host"] = "fault";
  j["call"] = fault.call;
  j["reason"] = fault.reason;
  if (fault.refused) {
    const RefusedCall& call = *fault.refused;
    nlohmann::ordered_json refused;
    refused["native"] = HexHash(call.hash);
    if (call.native != nullptr && HasPublicName(*call.native)) refused["name"] = call.native->name;
    auto args = nlohmann::ordered_json::array();
    for (const RefusedArg& a : call.args) args.push_back(RefusedArgToJson(a));
    refused["args"] = args;
    j["refused"] = refused;
  }
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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
    text += a.raw ? HexHash(a.slot)
                  : nlohmann::ordered_json(ValueToJson(a.value))
                        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  return text + ')';
}

}  // namespace sim
