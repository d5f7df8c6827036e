// `rebound-sim report`: the HTML report of what a recording shows, made from
// its recorded calls and answers without running the plug-in.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "sim/base/number_format.h"
#include "sim/replay/recorded_world.h"
#include "sim/replay/scenario_fit.h"
#include "sim/report/report.h"
#include "sim/report/report_collector.h"
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

std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

ExitStatus Report(const RecordingCommandOptions& a) {
  RemoveTemporariesOnInterrupt();
  std::unique_ptr<OutputFile> out = OpenOutput("report", a.out);
  if (!out) return ExitStatus::UnusableFile;
  std::FILE* console = out->IsStandardOutput() ? stderr : stdout;
  sim::RecordingOutline outline;
  sim::Scenario scenario;
  const sim::RecordingOpener open = OpenRecordingForEachPass(a.recording);
  try {
    const std::string text = sim::FitScenario(open, outline);
    scenario = sim::Scenario::Parse("(the scenario from " + a.recording + ")", text);
  } catch (const sim::RecordingError& e) {
    out->Abandon();
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return ExitStatus::BadInput;
  }
  scenario.name = FileName(a.recording);
  scenario.fileName = a.recording;
  sim::RecordedRun run(std::move(scenario), true);
  sim::ReportCollector collector(true);
  run.SetWatcher(&collector);
  try {
    std::unique_ptr<sim::RecordingFrames> frames = open();
    run.Run(*frames);
  } catch (const sim::RecordingError& e) {
    out->Abandon();
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return ExitStatus::BadInput;
  }
  sim::RecordingOrigin origin{a.recording, outline.header,
                              outline.unexpressed.Total() + run.Differences().Total(),
                              outline.recordingBreak};
  const std::vector<sim::DeathRecord> deaths = run.DeathsAsRecorded();
  const sim::ReportSource source{
      run.GetScenario(), run.Summary(), run.PluginLoaded(), run.Flow(), run.GetWorld(),
      &origin,           &deaths};

  sim::WriteHtmlReport(out->Stream(), source, collector, &sim::FrameSvgText);
  if (!CommitOutput(*out)) return ExitStatus::UnusableFile;
  if (!a.quiet) {
    std::fprintf(
        console, "Report of %s (%s, %s) written to %s\n", a.recording.c_str(),
        sim::CountOf(run.Summary().frames, "frame", "frames").c_str(),
        sim::CountOf(static_cast<long long>(run.Flow().DeathCount()), "death", "deaths").c_str(),
        a.out.c_str());
    if (!outline.recordingBreak.empty()) {
      std::fprintf(console, "The recording is not whole: %s\n", outline.recordingBreak.c_str());
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
