// The report page put together from its sections, in the order the page's
// navigation lists them, with the frames' data and the script at the end.
#include "sim/report/report.h"

#include "sim/host/simulation.h"
#include "sim/report/report_collector.h"
#include "sim/report/report_sections.h"

namespace sim {

void WriteHtmlReport(std::ostream& out, const ReportSource& source,
                     const ReportCollector& collector, const FramePicture& picture) {
  const Scenario& scenario = source.scenario;
  const FlowObserver& flow = source.flow;
  const report::KeptFrames kept{collector.Frames(), collector.Candidates(), collector.Stride(),
                                collector.KeyFramesLeftOut()};
  report::WriteSummary(out, scenario, source.summary, source.pluginLoaded, source.recording);
  report::WriteTimeline(out, report::TimelineInput{collector.Columns(), collector.FramesPerColumn(),
                                                   collector.FramesSeen(), collector.Marks(),
                                                   collector.MarksLeftOut(), collector.Frames(),
                                                   static_cast<double>(scenario.fps)});
  report::WriteViewer(out, kept);
  report::WriteKeyFrames(out, kept);
  const std::vector<DeathRecord>& deaths =
      source.deaths != nullptr ? *source.deaths : flow.Deaths();
  report::WriteDeathTable(out, deaths, flow.DeathCount(), 1000.0 / scenario.fps);
  report::WriteMaps(out, deaths, flow.DeathCount(), source.world.spawn.roadNodes);
  report::WritePhaseTable(out, flow.Costs());
  report::WriteEvents(out, source.world.timeline);
  out << "</main>\n";
  report::WriteFrameData(out, scenario, collector.Frames(), picture);
  // report.js starts at its first line; the page has the tag on a line of its own.
  out << "<script>\n" << ReportScript() << "</script>\n</body></html>\n";
}

void WriteHtmlReport(std::ostream& out, const Simulation& simulation,
                     const ReportCollector& collector, const FramePicture& picture) {
  const ReportSource source{simulation.GetScenario(),
                            simulation.Summary(),
                            collector.PluginLoaded(),
                            simulation.Flow(),
                            simulation.GetWorld(),
                            nullptr,
                            nullptr};
  WriteHtmlReport(out, source, collector, picture);
}

}  // namespace sim
