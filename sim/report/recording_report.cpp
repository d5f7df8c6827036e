#include "sim/report/recording_report.h"

#include <utility>
#include <vector>

namespace sim {

namespace {

std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

RecordingReport::RecordingReport(const RecordingOpener& open, const std::string& recordingPath) {
  Scenario scenario =
      Scenario::Parse("(the scenario from " + recordingPath + ")", FitScenario(open, outline_));
  scenario.name = FileName(recordingPath);
  scenario.fileName = recordingPath;
  run_ = std::make_unique<RecordedRun>(std::move(scenario), true);
  run_->SetWatcher(&collector_);
  const std::unique_ptr<RecordingFrames> frames = open();
  run_->Run(*frames);
}

RecordingOrigin RecordingReport::Origin(std::string file) const {
  return RecordingOrigin{std::move(file), outline_.header,
                         outline_.unexpressed.Total() + run_->Differences().Total(),
                         outline_.recordingBreak};
}

void RecordingReport::Write(std::ostream& out, const RecordingOrigin& origin,
                            const FramePicture& picture) const {
  const std::vector<DeathRecord> deaths = run_->DeathsAsRecorded();
  const ReportSource source{run_->GetScenario(),
                            run_->Summary(),
                            run_->PluginLoaded(),
                            run_->Flow(),
                            run_->GetWorld(),
                            &origin,
                            &deaths};
  WriteHtmlReport(out, source, collector_, picture);
}

}  // namespace sim
