#include "sim/report/report_markup.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

namespace sim::report {

std::string Seconds(double s) {
  const double tenths = std::round(s * 10.0);
  return FixedOrDash(tenths / 10.0, std::fmod(tenths, 10.0) == 0.0 ? 0 : 1);
}

std::string Ordinal(std::uint64_t n) {
  const char* suffix = "th";
  if (n % 100 < 11 || n % 100 > 13) {
    if (n % 10 == 1) suffix = "st";
    if (n % 10 == 2) suffix = "nd";
    if (n % 10 == 3) suffix = "rd";
  }
  return std::to_string(n) + suffix;
}

std::string FrameCell(std::int64_t frame) { return frame < 0 ? "—" : std::to_string(frame); }

std::string PositionCell(const double* p) {
  return "(" + FixedOrDash(p[0], 1) + ", " + FixedOrDash(p[1], 1) + ", " + FixedOrDash(p[2], 1) +
         ")";
}

const char* PhaseClass(FlowPhase phase) {
  switch (phase) {
    case FlowPhase::Watching:
      return "ph-watching";
    case FlowPhase::DeathPause:
      return "ph-deathpause";
    case FlowPhase::ShardDelay:
      return "ph-sharddelay";
    case FlowPhase::BarFilling:
      return "ph-barfilling";
    case FlowPhase::Respawning:
      return "ph-respawning";
  }
  return "";
}

double NiceStep(double span, double count) {
  const double raw = std::max(span / count, 1e-9);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10.0 * power;
}

std::string ScriptJson(const nlohmann::json& value) {
  const std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '<') {
      out += "\\u003c";
    } else {
      out += c;
    }
  }
  return out;
}

std::string InlineSvg(std::string svg) {
  if (svg.rfind("<?xml", 0) == 0) {
    const std::size_t end = svg.find("?>");
    if (end != std::string::npos) svg.erase(0, svg.find_first_not_of(" \r\n", end + 2));
  }
  return svg;
}

}  // namespace sim::report
