// The simulator's trace as one readable line per native call or wait, e.g.
// "SET_ENTITY_HEALTH(1, 200, 0)" or "IS_ENTITY_DEAD(1, false) -> true", so that
// tests compare whole call sequences and a failure shows the difference.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/observe/trace.h"

namespace test {

inline std::string ValueText(const sim::TraceValue& v) {
  using Kind = sim::TraceValue::Kind;
  // Floats in 6 significant digits (no exponent for everyday values), more
  // only where needed to read back as the same float.
  const auto shortest = [](double value) {
    char buf[32];
    for (int digits = 6; digits <= 9; ++digits) {
      std::snprintf(buf, sizeof buf, "%.*g", digits, value);
      if (std::strtof(buf, nullptr) == static_cast<float>(value)) break;
    }
    return std::string(buf);
  };
  switch (v.kind) {
    case Kind::Int:
      return std::to_string(v.integer);
    case Kind::Bool:
      return v.integer != 0 ? "true" : "false";
    case Kind::Float:
      return shortest(v.number);
    case Kind::Text:
      return "\"" + v.text + "\"";
    case Kind::Null:
      return "null";
    case Kind::Out:
      return "&";
    case Kind::Vector:
      return "(" + shortest(v.vector[0]) + ", " + shortest(v.vector[1]) + ", " +
             shortest(v.vector[2]) + ")";
  }
  return "?";
}

inline std::string CallLine(const sim::TraceEntry& e) {
  std::string line(e.Name());
  line += "(";
  for (std::size_t i = 0; i < e.args.size(); ++i) {
    line += (i == 0 ? "" : ", ") + ValueText(e.args[i]);
  }
  line += ")";
  if (e.result) line += " -> " + ValueText(*e.result);
  if (!e.outs.empty()) {
    line += " writes";
    for (std::size_t i = 0; i < e.outs.size(); ++i)
      line += (i == 0 ? " " : ", ") + ValueText(e.outs[i]);
  }
  return line;
}

// Native calls and waits, in order (other host events left out).
inline std::vector<std::string> CallLines(const sim::Trace& trace) {
  std::vector<std::string> lines;
  for (const auto& e : trace.Entries()) {
    if (e.native != nullptr || e.IsHost("scriptWait")) lines.push_back(CallLine(e));
  }
  return lines;
}

}  // namespace test
