// The one place the simulator writes numbers as text: the game's timeline
// notes, messages, the trace's hashes and floats, the report's cells and the
// coordinates of its pictures. Each style the outputs use has a name here.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/base/call.h"

namespace sim {

// The shortest form that shows the value: 30.7, not 30.700001.
inline std::string FormatNumber(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", value);
  return buf;
}

// Fixed decimals, rounded as printf rounds: FixedNumber(2.25, 1) is "2.2".
// NaN and infinity come out as printf writes them ("nan", "inf").
inline std::string FixedNumber(double value, int decimals) {
  // A double's largest value takes 309 digits before the point.
  char buf[352];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

// A table cell's number: fixed decimals, or a dash where there is no number
// to show (NaN, infinity).
inline std::string FixedOrDash(double value, int decimals) {
  return std::isfinite(value) ? FixedNumber(value, decimals) : "—";
}

// A coordinate or length in an SVG drawing. NaN and infinity become 0: a
// drawing cannot place them, and a viewer rejects the whole picture over one.
inline std::string SvgNumber(double value, int decimals) {
  return FixedNumber(std::isfinite(value) ? value : 0.0, decimals);
}

// The fewest significant digits (6 to 9) that read back as the same float,
// so that 0.923f is "0.923" and not "0.92299997806549072".
inline std::string FloatDigits(double value) {
  const float f = static_cast<float>(value);
  char buf[48];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, value);
    if (std::strtof(buf, nullptr) == f) break;
  }
  return buf;
}

// A count and what it counts, singular for one: CountOf(1, "death", "deaths")
// is "1 death", CountOf(0, ...) "0 deaths".
inline std::string CountOf(long long count, const char* one, const char* many) {
  return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

// A 64-bit word (a native's hash, an argument's slot) as the trace and
// messages write it: 0x and 16 hex digits.
inline std::string HexHash(std::uint64_t hash) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%016llX", static_cast<unsigned long long>(hash));
  return buf;
}

// A 32-bit hash (a text label's): 0x and 8 hex digits.
inline std::string HexWord(std::uint32_t word) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(word));
  return buf;
}

// A whole number padded with zeros to `width` digits: 00042.
inline std::string ZeroPadded(std::int64_t value, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*lld", width, static_cast<long long>(value));
  return buf;
}

inline std::string FormatPosition(const Vec3& v) {
  return "(" + FormatNumber(v.x) + ", " + FormatNumber(v.y) + ", " + FormatNumber(v.z) + ")";
}

// A position with fixed decimals: (1.0, -2.5, 30.0).
inline std::string FixedPosition(double x, double y, double z, int decimals) {
  return "(" + FixedNumber(x, decimals) + ", " + FixedNumber(y, decimals) + ", " +
         FixedNumber(z, decimals) + ")";
}

}  // namespace sim
