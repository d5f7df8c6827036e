// `rebound-sim scenario-from`: a scenario that makes the simulated world answer
// the plug-in as a recording's game did, and what the format could not say.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "sim/base/number_format.h"
#include "sim/replay/scenario_fit.h"
#include "tools/rebound-sim/commands.h"
#include "tools/rebound-sim/output_file.h"
#include "tools/rebound-sim/recording_input.h"

namespace rebound_sim {

constexpr std::string_view kScenarioFromUsage =
    R"(Usage: rebound-sim scenario-from RECORDING --out FILE [--quiet]

Writes a scenario that makes the simulated world answer the plug-in as the
recorded game did, as far as the scenario format can say it: the frame rate
and hitches (from each frame's game time), the game time it starts at, deaths
and heals (the game's health answers), taps (its control answers), keyboard
messages (with atCall where one came in mid-frame), the frames movies and
texture dictionaries took to load, fades the game started by itself, the
language and labels, the spawn search's duration, outcome and results, road
nodes, script restarts and an unload. It then lists each recorded answer the
format could not express, by native and the first frame it was given in (on
standard output, or on standard error when the scenario goes there); the
scenario's name says how many there were.

Run with the recording's random draws, the scenario plays as recorded wherever
nothing was listed:
  rebound-sim --scenario FILE --draws-from RECORDING --trace run.jsonl

Options:
  --out FILE   the scenario; "-" for standard output
  --quiet      print nothing but errors
  -h, --help   show this help

Exit status: 0 written (answers listed or not), 2 a recording that cannot be
read (its file, line and field named) or a mistake on the command line, 4 an
output that cannot be written.
)";

namespace {

ExitStatus ScenarioFrom(const RecordingCommandOptions& a) {
  RemoveTemporariesOnInterrupt();
  std::unique_ptr<OutputFile> out = OpenOutput("scenario", a.out);
  if (!out) return ExitStatus::UnusableFile;
  std::FILE* console = out->IsStandardOutput() ? stderr : stdout;
  sim::ScenarioFromRecording made;
  try {
    made = sim::MakeScenarioFromRecording(OpenRecordingForEachPass(a.recording));
  } catch (const sim::RecordingError& e) {
    out->Abandon();
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return ExitStatus::BadInput;
  }
  out->Stream() << made.text;
  if (!CommitOutput(*out)) return ExitStatus::UnusableFile;
  if (a.quiet) return ExitStatus::Success;
  std::fprintf(console, "Scenario written to %s: %s at %d fps from game time %lld\n", a.out.c_str(),
               sim::CountOf(made.outline.frames, "frame", "frames").c_str(), made.outline.fps,
               static_cast<long long>(made.outline.startGameTime));
  if (!made.outline.recordingBreak.empty()) {
    std::fprintf(console, "The recording is not whole: %s\n", made.outline.recordingBreak.c_str());
  }
  if (made.unexpressed.Empty()) {
    std::fprintf(console, "The format expressed every recorded answer.\n");
  } else {
    std::fprintf(console, "Recorded answers the format could not express (%llu):\n%s",
                 static_cast<unsigned long long>(made.unexpressed.Total()),
                 sim::DescribeUnexpressed(made.unexpressed).c_str());
  }
  return ExitStatus::Success;
}

}  // namespace

ExitStatus ScenarioFromCommand(ArgumentReader& args) {
  const std::optional<RecordingCommandOptions> options = ReadRecordingCommandOptions(args, "--out");
  return options ? ScenarioFrom(*options) : ExitStatus::Success;
}

}  // namespace rebound_sim
