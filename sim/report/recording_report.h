// The report of a recording, as `rebound-sim report` writes it: the scenario
// fitted to the recording, the recording run through that world with the
// report's collector watching, and the page made from the two. Used by the
// report command, its fuzz target and the tests of recorded reports.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "sim/recording/recording_outline.h"
#include "sim/replay/recorded_world.h"
#include "sim/replay/scenario_fit.h"
#include "sim/report/report.h"
#include "sim/report/report_collector.h"

namespace sim {

class RecordingReport {
 public:
  // Reads the recording twice: once to fit the world, once to run it. The
  // scenario is named after `recordingPath`'s file name. Throws
  // RecordingError for a recording that cannot be read.
  RecordingReport(const RecordingOpener& open, const std::string& recordingPath);

  const RecordedRun& Run() const { return *run_; }
  const RecordingOutline& Outline() const { return outline_; }
  const ReportCollector& Collector() const { return collector_; }

  // Where the recording came from, as the page's header says it: the file,
  // the recording's own header, the answers the world does not give (those
  // the format could not express and those the run found otherwise) and
  // where the recording stops being whole.
  RecordingOrigin Origin(std::string file) const;

  void Write(std::ostream& out, const RecordingOrigin& origin, const FramePicture& picture) const;

 private:
  RecordingOutline outline_;
  std::unique_ptr<RecordedRun> run_;
  ReportCollector collector_{true};
};

}  // namespace sim
