#include "tools/rebound-sim/recording_commands.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/base/number_format.h"
#include "sim/host/native_dispatch.h"
#include "sim/replay/recorded_world.h"
#include "sim/replay/scenario_fit.h"
#include "sim/report/report.h"
#include "sim/report/report_recorder.h"
#include "sim/report/svg.h"
#include "tools/rebound-sim/output_file.h"

namespace rebound_sim {

namespace {

constexpr int kBadInput = 2;
constexpr int kOutputUnusable = 4;

constexpr const char* kReportUsage = R"(Usage: rebound-sim report RECORDING --report FILE [--quiet]

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

constexpr const char* kScenarioFromUsage =
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

struct Arguments {
  std::string command;
  std::string recording;
  std::string out;
  bool quiet = false;
};

[[noreturn]] void Refuse(const std::string& command, const std::string& what) {
  std::cerr << "rebound-sim " << command << ": " << what << "\n(rebound-sim " << command
            << " --help lists the options)\n";
  std::exit(kBadInput);
}

Arguments ParseArguments(int argc, char** argv) {
  Arguments a;
  a.command = argv[1];
  const std::string outFlag = a.command == "report" ? "--report" : "--out";
  for (int i = 2; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "-h" || word == "--help") {
      std::cout << (a.command == "report" ? kReportUsage : kScenarioFromUsage);
      std::exit(0);
    }
    if (word == outFlag) {
      if (i + 1 >= argc) Refuse(a.command, outFlag + " needs a value");
      const std::string value = argv[++i];
      if (!a.out.empty())
        Refuse(a.command, outFlag + " given twice (" + a.out + " and " + value + ")");
      const std::string mistake = OptionLikeValueMistake(outFlag, value);
      if (!mistake.empty()) Refuse(a.command, mistake);
      a.out = value;
    } else if (word == "--quiet" || word == "-q") {
      a.quiet = true;
    } else if (!word.empty() && word[0] == '-' && word != "-") {
      Refuse(a.command, "unknown option: " + word);
    } else if (a.recording.empty()) {
      a.recording = word;
    } else {
      Refuse(a.command, "one recording at a time, got " + a.recording + " and " + word);
    }
  }
  if (a.recording.empty()) Refuse(a.command, "needs the RECORDING to read");
  if (a.out.empty()) Refuse(a.command, "needs " + outFlag + " FILE");
  const std::string mistake = SharedFileMistake({{outFlag, a.out}}, {{"RECORDING", a.recording}});
  if (!mistake.empty()) Refuse(a.command, mistake);
  return a;
}

// Lines of a recording held in memory between the passes over it (about
// 300 bytes each, so some 60 MB at most); a longer recording is read afresh
// for each pass.
constexpr std::size_t kHeldLines = 200'000;

// Opens the recording for each pass: a short one is read once and held.
sim::RecordingOpener Opener(const std::string& path) {
  auto held = std::make_shared<std::shared_ptr<const sim::HeldRecording>>();
  auto tried = std::make_shared<bool>(false);
  return [path, held, tried]() -> std::unique_ptr<sim::RecordingFrames> {
    if (!*tried) {
      *tried = true;
      std::unique_ptr<sim::RecordingFrames> first = sim::RecordingFrames::Open(path);
      *held = sim::RecordingFrames::Hold(*first, kHeldLines);
    }
    if (*held) return sim::RecordingFrames::FromHeld(*held);
    return sim::RecordingFrames::Open(path);
  };
}

std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Report(const Arguments& a) {
  RemoveTemporariesOnInterrupt();
  std::unique_ptr<OutputFile> out = OpenOutput("report", a.out);
  if (!out) return kOutputUnusable;
  std::FILE* console = out->IsStandardOutput() ? stderr : stdout;
  sim::RecordingOutline outline;
  sim::Scenario scenario;
  const sim::RecordingOpener open = Opener(a.recording);
  try {
    const std::string text = sim::FitScenario(open, outline);
    scenario = sim::Scenario::Parse("(the scenario from " + a.recording + ")", text);
  } catch (const sim::RecordingError& e) {
    out->Abandon();
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return kBadInput;
  }
  scenario.name = FileName(a.recording);
  scenario.fileName = a.recording;
  sim::RecordedRun run(std::move(scenario), true);
  sim::ReportRecorder recorder(true);
  run.SetWatcher(&recorder);
  try {
    std::unique_ptr<sim::RecordingFrames> frames = open();
    run.Run(*frames);
  } catch (const sim::RecordingError& e) {
    out->Abandon();
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return kBadInput;
  }
  sim::RecordingOrigin origin{a.recording, outline.header,
                              outline.unexpressed.Total() + run.Differences().Total(),
                              outline.recordingBreak};
  const std::vector<sim::DeathRecord> deaths = run.DeathsAsRecorded();
  const sim::ReportSource source{
      run.GetScenario(), run.Summary(), run.PluginLoaded(), run.Flow(), run.GetWorld(),
      &origin,           &deaths};

  sim::WriteHtmlReport(out->Stream(), source, recorder, &sim::FrameSvgText);
  if (!CommitOutput(*out)) return kOutputUnusable;
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
  return 0;
}

int ScenarioFrom(const Arguments& a) {
  RemoveTemporariesOnInterrupt();
  std::unique_ptr<OutputFile> out = OpenOutput("scenario", a.out);
  if (!out) return kOutputUnusable;
  std::FILE* console = out->IsStandardOutput() ? stderr : stdout;
  sim::ScenarioFromRecording made;
  try {
    made = sim::MakeScenarioFromRecording(Opener(a.recording));
  } catch (const sim::RecordingError& e) {
    out->Abandon();
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return kBadInput;
  }
  out->Stream() << made.text;
  if (!CommitOutput(*out)) return kOutputUnusable;
  if (a.quiet) return 0;
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
  return 0;
}

}  // namespace

bool IsRecordingCommand(std::string_view word) {
  return word == "report" || word == "scenario-from";
}

int RunRecordingCommand(int argc, char** argv) {
  const Arguments a = ParseArguments(argc, argv);
  try {
    return a.command == "report" ? Report(a) : ScenarioFrom(a);
  } catch (const sim::HandlerTableError& e) {
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return 3;
  }
}

bool RecordedDraws(const std::string& path, sim::SimOptions& options) {
  try {
    std::unique_ptr<sim::TraceReader> reader = sim::TraceReader::Open(path);
    sim::RepeatExpander lines(*reader);
    sim::TraceEntry entry;
    std::vector<std::uint32_t> draws;
    std::optional<std::uint64_t> seed;
    while (lines.Next(entry)) {
      if (entry.IsHost("randomDraw")) {
        draws.push_back(static_cast<std::uint32_t>(entry.args[0].integer));
      } else if (entry.IsHost("seed")) {
        seed = static_cast<std::uint64_t>(entry.args[0].integer);
      }
    }
    if (reader->Unseeded() && draws.empty()) {
      std::cerr << "rebound-sim: --draws-from: " << path
                << ": a trace of an unseeded run (--os-random): it holds neither a seed nor the "
                   "random draws to hand the plug-in; trace the run with --seed N\n";
      return false;
    }
    if (reader->Cut())
      std::cerr << "rebound-sim: --draws-from: note: " << reader->CutNote() << "\n";
    // A trace of a seeded run that was not traced with its draws: the seed's
    // sequence is the same values.
    if (draws.empty() && seed) {
      options.seed = seed;
    } else {
      options.draws = std::move(draws);
    }
    return true;
  } catch (const sim::RecordingError& e) {
    std::cerr << "rebound-sim: --draws-from: " << e.what() << "\n";
    return false;
  }
}

}  // namespace rebound_sim
