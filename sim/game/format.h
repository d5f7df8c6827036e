// How the simulated game writes numbers and positions in its timeline notes.
#pragma once

#include <cstdio>
#include <string>

#include "sim/call.h"

namespace sim {

// The shortest form that shows the value: 30.7, not 30.700001.
inline std::string FormatNumber(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", value);
  return buf;
}

inline std::string FormatPosition(const Vec3& v) {
  return "(" + FormatNumber(v.x) + ", " + FormatNumber(v.y) + ", " + FormatNumber(v.z) + ")";
}

}  // namespace sim
