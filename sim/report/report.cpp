// The report page put together from its sections, in the order the page's
// navigation lists them, with the frames' data and the script at the end.
#include "sim/report/report.h"

#include "sim/host/simulation.h"
#include "sim/report/report_recorder.h"
#include "sim/report/report_sections.h"

namespace sim {

void WriteHtmlReport(std::ostream& out, const Simulation& simulation,
                     const ReportRecorder& recorder, const FramePicture& picture) {
  const Scenario& scenario = simulation.GetScenario();
  const FlowObserver& flow = simulation.Flow();
  const report::KeptFrames kept{recorder.Frames(), recorder.Candidates(), recorder.Stride(),
                                recorder.KeyFramesLeftOut()};
  report::WriteSummary(out, scenario, simulation.Summary(), recorder.PluginLoaded());
  report::WriteTimeline(
      out, report::TimelineInput{recorder.Columns(), recorder.FramesPerColumn(),
                                 recorder.FramesSeen(), recorder.Marks(), recorder.MarksLeftOut(),
                                 recorder.Frames(), static_cast<double>(scenario.fps)});
  report::WriteViewer(out, kept);
  report::WriteKeyFrames(out, kept);
  report::WriteDeathTable(out, flow.Deaths(), flow.DeathCount(), 1000.0 / scenario.fps);
  report::WriteMaps(out, flow.Deaths(), flow.DeathCount(), simulation.GetWorld().spawn.roadNodes);
  report::WritePhaseTable(out, flow.Costs());
  report::WriteEvents(out, simulation.GetWorld().timeline);
  out << "</main>\n";
  report::WriteFrameData(out, scenario, recorder.Frames(), picture);
  // report.js starts at its first line; the page has the tag on a line of its own.
  out << "<script>\n" << ReportScript() << "</script>\n</body></html>\n";
}

}  // namespace sim
