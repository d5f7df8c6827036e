// What rebound-sim's commands read from a recording (a tester's field
// recording, or any simulator trace): its passes for report and scenario-from,
// and the random draws that run's --draws-from hands the plug-in; and the
// command line that report and scenario-from share.
#pragma once

#include <optional>
#include <string>

#include "sim/host/run_options.h"
#include "sim/replay/scenario_fit.h"
#include "tools/rebound-sim/arguments.h"

namespace rebound_sim {

// Opens the recording for each pass over it: a short one is read once and
// held.
sim::RecordingOpener OpenRecordingForEachPass(const std::string& path);

// The random values the plug-in drew in the recording, in order, into
// `options.draws` (its randomDraw lines); for a seeded simulator trace without
// them, its seed into `options.seed`. False after saying why on standard
// error (status 2 for the caller).
bool RecordedDraws(const std::string& path, sim::SimOptions& options);

// `COMMAND RECORDING OUTPUT_OPTION FILE [--quiet]`.
struct RecordingCommandOptions {
  std::string recording;
  std::string out;
  bool quiet = false;
};

// The options of a command that reads RECORDING and writes the file named by
// `outFlag`, or none when the words asked for the help. A mistake throws
// UsageError.
std::optional<RecordingCommandOptions> ReadRecordingCommandOptions(ArgumentReader& args,
                                                                   const std::string& outFlag);

}  // namespace rebound_sim
