// How the simulator writes numbers, positions and hashes for people to read:
// the game's timeline notes, messages and the trace's hash field.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/base/call.h"

namespace sim {

// The shortest form that shows the value: 30.7, not 30.700001.
inline std::string FormatNumber(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", value);
  return buf;
}

// A native's hash as the trace and messages write it: 0x and 16 hex digits.
inline std::string HexHash(std::uint64_t hash) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%016llX", static_cast<unsigned long long>(hash));
  return buf;
}

inline std::string FormatPosition(const Vec3& v) {
  return "(" + FormatNumber(v.x) + ", " + FormatNumber(v.y) + ", " + FormatNumber(v.z) + ")";
}

}  // namespace sim
