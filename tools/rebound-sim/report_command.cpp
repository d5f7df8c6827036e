// `rebound-sim report`: the HTML report of what a recording shows, made from
// its recorded calls and answers without running the plug-in.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "sim/base/number_format.h"
#include "sim/report/recording_report.h"
#include "sim/report/svg.h"
#include "tools/rebound-sim/commands.h"
#include "tools/rebound-sim/output_file.h"
#include "tools/rebound-sim/recording_input.h"

namespace rebound_sim {

constexpr std::string_view kReportUsage =
    R"(Usage: rebound-sim report RECORDING --report FILE [--quiet]

Writes the HTML report of a recording: the page a run's --report writes (the
timeline, the frame viewer, the key frames of each death, the maps and the
tables), from what the recording holds. The plug-in is not run: the pictures
are its recorded draw calls, the screen's fade follows its recorded fade calls
and the game's answers, and the respawn flow follows its recorded calls and
answers. RECORDING is a recording the recording build made in the game, or
any rebound-sim trace. The page says where the recording was made (its
header: build, platform, host and game versions) and how many of its answers
the simulated world does not give (scenario-from lists them).

Options:
  --report FILE   the page; "-" for standard output
  --quiet         print nothing but errors
  -h, --help      show this help

Exit status: 0 written, 2 a recording that cannot be read (its file, line and
field named) or a mistake on the command line, 4 an output that cannot be
written.
)";

namespace {

ExitStatus Report(const RecordingCommandOptions& a) {
  RemoveTemporariesOnInterrupt();
  std::unique_ptr<OutputFile> out = OpenOutput("report", a.out);
  if (!out) return ExitStatus::UnusableFile;
  std::FILE* console = out->IsStandardOutput() ? stderr : stdout;
  std::unique_ptr<sim::RecordingReport> report;
  try {
    report =
        std::make_unique<sim::RecordingReport>(OpenRecordingForEachPass(a.recording), a.recording);
  } catch (const sim::RecordingError& e) {
    out->Abandon();
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return ExitStatus::BadInput;
  }
  report->Write(out->Stream(), report->Origin(a.recording), &sim::FrameSvgText);
  if (!CommitOutput(*out)) return ExitStatus::UnusableFile;
  if (!a.quiet) {
    std::fprintf(
        console, "Report of %s (%s, %s) written to %s\n", a.recording.c_str(),
        sim::CountOf(report->Run().Summary().frames, "frame", "frames").c_str(),
        sim::CountOf(static_cast<long long>(report->Run().Flow().DeathCount()), "death", "deaths")
            .c_str(),
        a.out.c_str());
    const std::string& recordingBreak = report->Outline().recordingBreak;
    if (!recordingBreak.empty()) {
      std::fprintf(console, "The recording is not whole: %s\n", recordingBreak.c_str());
    }
  }
  return ExitStatus::Success;
}

}  // namespace

ExitStatus ReportCommand(ArgumentReader& args) {
  const std::optional<RecordingCommandOptions> options =
      ReadRecordingCommandOptions(args, "--report");
  return options ? Report(*options) : ExitStatus::Success;
}

}  // namespace rebound_sim
