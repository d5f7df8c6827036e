// What the report's sections share: how the page writes a coordinate, a time,
// a cell and a phase, and how it embeds data and pictures. Used only inside
// sim/report.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "sim/base/number_format.h"
#include "sim/observe/flow_observer.h"

namespace sim::report {

// A coordinate or length in the page's own drawings (the timeline, the maps).
inline std::string Px(double v) { return SvgNumber(v, 1); }

// Seconds with a tenth where it is not whole: "1.7", "10".
std::string Seconds(double s);

// "2nd", "11th", "128th".
std::string Ordinal(std::uint64_t n);

// A frame number in a table; a dash for a moment that never came (-1).
std::string FrameCell(std::int64_t frame);

// A point of the world in a table or tooltip, to a tenth of a metre.
std::string PositionCell(const double* p);

// The style class that colours a phase of the flow everywhere on the page.
const char* PhaseClass(FlowPhase phase);

// A round step of about `span` / `count`: 1, 2 or 5 times a power of ten.
double NiceStep(double span, double count);

// JSON that may stand inside a <script> element: no "<" can close it.
std::string ScriptJson(const nlohmann::json& value);

// An SVG document as an element of the page: without its XML declaration.
std::string InlineSvg(std::string svg);

}  // namespace sim::report
