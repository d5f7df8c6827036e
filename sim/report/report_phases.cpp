// What each phase of the flow cost: native calls and heap allocations per
// frame, on average and at most in one frame.
#include <string>

#include "sim/report/report_markup.h"
#include "sim/report/report_sections.h"

namespace sim::report {

void WritePhaseTable(std::ostream& out, const std::array<PhaseCost, kFlowPhaseCount>& costs) {
  out << "<section id=\"phases\"><h2>Native calls and heap allocations per frame, by phase of the "
         "flow</h2>\n<table>"
         "<tr><th>phase</th><th>frames</th><th>calls</th><th>calls per frame</th>"
         "<th>most calls in one frame</th><th>plug-in allocations per frame</th>"
         "<th>most in one frame</th><th>simulator allocations per frame</th>"
         "<th>most in one frame</th></tr>\n";
  for (std::size_t i = 0; i < kFlowPhaseCount; ++i) {
    const PhaseCost& cost = costs[i];
    const auto perFrame = [&cost](std::uint64_t total) {
      return cost.frames > 0
                 ? FixedOrDash(static_cast<double>(total) / static_cast<double>(cost.frames), 1)
                 : std::string("—");
    };
    const auto phase = static_cast<FlowPhase>(i);
    out << "<tr><td><i class=\"sw " << PhaseClass(phase) << "\"></i>" << FlowPhaseName(phase)
        << "</td><td class=\"num\">" << cost.frames << "</td><td class=\"num\">" << cost.calls
        << "</td><td class=\"num\">" << perFrame(cost.calls) << "</td><td class=\"num\">"
        << cost.maxCalls << "</td><td class=\"num\">" << perFrame(cost.pluginAllocations)
        << "</td><td class=\"num\">" << cost.maxPluginAllocations << "</td><td class=\"num\">"
        << perFrame(cost.simulatorAllocations) << "</td><td class=\"num\">"
        << cost.maxSimulatorAllocations << "</td></tr>\n";
  }
  out << "</table>\n</section>\n";
}

}  // namespace sim::report
