// `rebound-sim replay`: checks a build of the plug-in against a recording
// (sim/replay/), prints the first difference and where the recorded answers
// leave the world model, and a summary.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/base/number_format.h"
#include "sim/platform/module.h"
#include "sim/recording/trace_reader.h"
#include "sim/replay/replay.h"
#include "sim/report/junit.h"
#include "tools/rebound-sim/commands.h"
#include "tools/rebound-sim/output_file.h"

namespace rebound_sim {

constexpr std::string_view kReplayUsage =
    R"(Usage: rebound-sim replay RECORDING [--plugin PATH] [--junit FILE] [--quiet]

Runs a build of the plug-in against RECORDING: a recording made by the
recording build in the game (or under rebound-sim), or any seeded
rebound-sim --trace. The plug-in is loaded as the host loads it and its script
runs frame by frame; every native call is answered with the recorded result
and out-variables, keyboard messages arrive where they arrived, the random
helpers draw the recorded values (a trace without randomDraw lines: its seed's
sequence) and the script is started again where the host started it again.
Call by call, the plug-in must make exactly the recorded calls: the same
native, every argument (integers exactly, floats by their float value, texts
by content), the same scriptWait milliseconds and random draws at the same
places. The recording is the truth: answers the simulated game would never
give replay all the same. A hash the game does not know is refused, as the
real host refuses it: replay takes neither --natives nor --unknown-natives,
and a trace holding calls a run answered by them cannot be read.

At the first difference replay stops and prints the frame, the call's index
(counting the plug-in's calls from 0: natives, scriptWait, random draws and
the host registrations), the line of the recording, and the ten calls before,
as a diff: "  " the same, "-" the recording, "+" the plug-in. A dropped or
capped line, or a recording that ends inside a frame, ends the check there
with a note; a recording cut inside its last line (a crash, a full disk) is
checked up to the line before, and replay says where it was cut. It then lists, by native, the recorded answers our world model never
gives in that situation (where the model of the game is wrong), and a summary:
calls checked, frames, seconds, calls per second.

Options:
  --plugin PATH   the plug-in module to check; default: the one built next to
                  rebound-sim (librebound.so; Rebound.asi on Windows)
  --junit FILE    write the verdict as JUnit XML for a build server: one test
                  case for the replay, failed with the first difference; "-"
                  for standard output (what replay prints then goes to
                  standard error). Not written when the recording or the
                  plug-in cannot be read
  --quiet         print nothing but the first difference and errors
  -h, --help      show this help

Exit status: 0 the plug-in made the recorded calls, 1 it made another, 2 the
recording or the command line cannot be read (the file, line and field named;
a newer format version named as such), the file holds nothing to replay, or it
is a trace of an unseeded run (--os-random), which holds no draws to hand the
plug-in; 4 the plug-in cannot be loaded (or cannot be handed the recorded
draws), as for a run, or the JUnit file cannot be written.
)";

namespace {

struct ReplayOptions {
  std::string recording;
  std::optional<std::string> plugin;
  std::optional<std::string> junit;
  bool quiet = false;
};

// Where replay's findings are printed: standard output, or standard error
// when the JUnit file goes to standard output.
std::FILE* g_replayConsole = stdout;

// The options, or none when the words asked for the help. A mistake throws
// UsageError.
std::optional<ReplayOptions> ReadReplayOptions(ArgumentReader& args) {
  ReplayOptions o;
  while (args.Next()) {
    const std::string& a = args.Word();
    if (args.Answered()) return std::nullopt;
    if (a == "--plugin") {
      o.plugin = args.PathValue(a, o.plugin, "needs a path");
    } else if (a == "--junit") {
      o.junit = args.PathValue(a, o.junit, "needs a file");
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else if (args.AtOption()) {
      args.Fail("unknown option: " + a);
    } else if (!o.recording.empty()) {
      args.Fail("one recording at a time; " + o.recording + " was given already");
    } else {
      o.recording = a;
    }
  }
  if (o.recording.empty()) args.Fail("which recording? (rebound-sim replay RECORDING)");
  if (o.junit) {
    // The JUnit file must not replace what the replay reads.
    const std::vector<NamedFile> inputs = {
        {"RECORDING", o.recording},
        o.plugin ? NamedFile{"--plugin", *o.plugin} : NamedFile{"--plugin", DefaultPlugin(), true}};
    const std::string mistake = SharedFileMistake({{"--junit", *o.junit}}, inputs);
    if (!mistake.empty()) args.Fail(mistake);
  }
  return o;
}

// Whether the file holds the plug-in's random draws: a simulator trace of an
// older rebound-sim has only its seed. One pass over the bytes, before the
// replay reads it.
bool HoldsRandomDraws(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return true;  // the reader names the reason
  static constexpr char kKey[] = "\"host\":\"randomDraw\"";
  constexpr std::size_t kKeyLength = sizeof(kKey) - 1;
  std::string buffer(1 << 20, '\0');
  std::size_t kept = 0;  // bytes carried over from the last read
  bool found = false;
  for (;;) {
    const std::size_t n = std::fread(buffer.data() + kept, 1, buffer.size() - kept, file);
    if (n == 0) break;
    const std::string_view view(buffer.data(), kept + n);
    if (view.find(std::string_view(kKey, kKeyLength)) != std::string_view::npos) {
      found = true;
      break;
    }
    kept = std::min(view.size(), kKeyLength - 1);
    std::memmove(buffer.data(), view.data() + view.size() - kept, kept);
  }
  std::fclose(file);
  return found;
}

std::string DescribeHeader(const sim::RecordingHeader& h) {
  if (h.version == 0) return "a simulator trace";
  std::string s = "recording format " + std::to_string(h.version) + ", Rebound " + h.rebound +
                  " (" + h.build + " build) on " + h.platform;
  if (h.gameFile) s += ", " + *h.gameFile + (h.gameVersion ? " " + *h.gameVersion : "");
  if (h.hostFile) s += ", " + *h.hostFile + (h.hostVersion ? " " + *h.hostVersion : "");
  return s;
}

// "the plug-in differs from the recording at frame F, call C (FILE:LINE)".
std::string DifferencePlace(const sim::ReplayDifference& d, const std::string& recording) {
  std::string place = "the plug-in differs from the recording at frame " + std::to_string(d.frame) +
                      ", call " + std::to_string(d.call);
  if (d.line > 0) place += " (" + recording + ":" + std::to_string(d.line) + ")";
  return place;
}

// The difference as replay prints it: where, the calls before it and the
// two calls as a diff, and the hint.
std::string DifferenceText(const sim::ReplayDifference& d, const std::string& recording) {
  std::string text = DifferencePlace(d, recording) + ":\n";
  text[0] = 'T';
  for (const std::string& line : d.before) text += "  " + line + "\n";
  text += "- " + d.expected + "\n+ " + d.actual + "\n";
  if (!d.hint.empty()) text += "Hint: " + d.hint + ".\n";
  return text;
}

void PrintModelDifferences(const sim::ReplayResult& r) {
  if (r.modelDifferences.empty()) {
    std::fprintf(g_replayConsole, "Every recorded answer read is one the world model can give.\n");
    return;
  }
  std::fprintf(g_replayConsole, "Recorded answers the world model never gives:\n");
  for (const sim::ModelDifferenceReport& m : r.modelDifferences) {
    std::fprintf(g_replayConsole, "  %s\n", sim::DescribeModelDifference(m).c_str());
  }
}

// What the user should know of the check besides its verdict: where it ended
// early, a cut recording, a fault line, keys the recorder dropped, answers the
// world model could not give, and draws that came from the seed.
void PrintReplayNotes(const sim::TraceReader& reader, const sim::ReplayResult& r,
                      const std::string& recording, bool recordedDraws) {
  if (!r.endNote.empty())
    std::fprintf(g_replayConsole, "The check ended early: %s.\n", r.endNote.c_str());
  if (reader.Cut()) {
    std::fprintf(g_replayConsole,
                 "The recording is cut short, as a crash or a full disk leaves it: %s.\n",
                 reader.CutNote().c_str());
  }
  if (reader.FaultLine() != 0) {
    std::fprintf(g_replayConsole, "The trace ends at the run's fault line (%s:%lld).\n",
                 recording.c_str(), static_cast<long long>(reader.FaultLine()));
  }
  if (r.droppedKeys > 0) {
    std::fprintf(
        g_replayConsole, "The recorder had no room for %s: %s not delivered.\n",
        sim::CountOf(static_cast<long long>(r.droppedKeys), "keyboard message", "keyboard messages")
            .c_str(),
        r.droppedKeys == 1 ? "it was" : "they were");
  }
  PrintModelDifferences(r);
  if (!recordedDraws) {
    std::fprintf(g_replayConsole,
                 "The recording has no random draws: the plug-in drew from its seed's sequence.\n");
  }
}

// The recording, open, or status 2 after saying why it cannot be replayed.
std::unique_ptr<sim::TraceReader> OpenRecording(const std::string& recording) {
  std::unique_ptr<sim::TraceReader> reader;
  try {
    reader = sim::TraceReader::Open(recording);
  } catch (const sim::RecordingError& e) {
    std::fprintf(stderr, "rebound-sim replay: %s\n", e.what());
    return nullptr;
  }
  if (reader->Unseeded() && !HoldsRandomDraws(recording)) {
    std::fprintf(stderr,
                 "rebound-sim replay: %s: a trace of an unseeded run (--os-random): it holds "
                 "neither a seed nor the random draws, so the plug-in's draws cannot be replayed; "
                 "trace the run with --seed N, or without --os-random\n",
                 recording.c_str());
    return nullptr;
  }
  return reader;
}

// What the JUnit file says of the replay: its one test case fails with the
// first difference, the diff as the failure's text.
sim::JUnitRun ReplayVerdict(const ReplayOptions& o, const std::string& plugin,
                            const sim::ReplayResult& r, double seconds) {
  sim::JUnitRun verdict;
  verdict.command = "replay";
  verdict.subject = "recording";
  verdict.scenario = Utf8FromPath(PathFromUtf8(o.recording).filename());
  verdict.scenarioFile = o.recording;
  verdict.plugin = plugin;
  verdict.frames = r.frames;
  verdict.seconds = seconds;
  verdict.properties = {{"calls checked", std::to_string(r.callsChecked)},
                        {"native calls checked", std::to_string(r.nativeCalls)}};
  if (!r.endNote.empty()) verdict.properties.emplace_back("check ended early", r.endNote);
  if (r.difference) {
    verdict.stop = DifferencePlace(*r.difference, o.recording);
    verdict.stopType = "differs";
    verdict.stopDetails = DifferenceText(*r.difference, o.recording);
  }
  return verdict;
}

// The findings besides the difference, and the summary line.
void PrintReplayEnd(const sim::TraceReader& reader, const sim::ReplayResult& r,
                    const ReplayOptions& o, bool recordedDraws, double seconds) {
  PrintReplayNotes(reader, r, o.recording, recordedDraws);
  std::fprintf(g_replayConsole, "%s: %s checked (%llu native), %s, %.3f s, %.0f calls per second\n",
               r.difference ? "Differs" : "Same calls",
               sim::CountOf(static_cast<long long>(r.callsChecked), "call", "calls").c_str(),
               static_cast<unsigned long long>(r.nativeCalls),
               sim::CountOf(r.frames, "frame", "frames").c_str(), seconds,
               seconds > 0 ? static_cast<double>(r.callsChecked) / seconds : 0.0);
}

ExitStatus Replay(const ReplayOptions& o) {
  const std::string plugin = o.plugin ? *o.plugin : DefaultPlugin();
  // Opened before the replay, so that a path that cannot be written stops it
  // at once; removed again unless the replay gives a verdict.
  std::unique_ptr<OutputFile> junit;
  if (o.junit) {
    RemoveTemporariesOnInterrupt();
    if (!(junit = OpenOutput("JUnit file", *o.junit))) return ExitStatus::UnusableFile;
    if (junit->IsStandardOutput()) g_replayConsole = stderr;
  }
  const auto abandon = [&junit](ExitStatus status) {
    if (junit) junit->Abandon();
    return status;
  };
  std::unique_ptr<sim::TraceReader> reader = OpenRecording(o.recording);
  if (!reader) return abandon(ExitStatus::BadInput);
  if (!o.quiet) {
    std::fprintf(g_replayConsole, "Replaying %s (%s) against %s\n", o.recording.c_str(),
                 DescribeHeader(reader->Header()).c_str(), plugin.c_str());
    std::fflush(g_replayConsole);
  }

  sim::ReplayOptions options;
  options.recordedDraws = reader->Header().version > 0 || HoldsRandomDraws(o.recording);
  sim::Replay replay(*reader, options);
  const auto start = std::chrono::steady_clock::now();
  const sim::ReplayResult r = replay.Run(plugin);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  using Outcome = sim::ReplayResult::Outcome;
  if (r.outcome == Outcome::Unreadable || r.outcome == Outcome::CannotLoad) {
    std::fprintf(stderr, "rebound-sim replay: %s\n", r.error.c_str());
    return abandon(r.outcome == Outcome::Unreadable ? ExitStatus::BadInput
                                                    : ExitStatus::UnusableFile);
  }
  if (r.difference) {
    std::fprintf(g_replayConsole, "%s", DifferenceText(*r.difference, o.recording).c_str());
  }
  if (!o.quiet) PrintReplayEnd(*reader, r, o, options.recordedDraws, seconds);
  if (junit) {
    sim::WriteJUnit(junit->Stream(), ReplayVerdict(o, plugin, r, seconds));
    if (!CommitOutput(*junit)) return ExitStatus::UnusableFile;
  }
  return r.difference ? ExitStatus::Refused : ExitStatus::Success;
}

}  // namespace

ExitStatus ReplayCommand(ArgumentReader& args) {
  const std::optional<ReplayOptions> options = ReadReplayOptions(args);
  return options ? Replay(*options) : ExitStatus::Success;
}

}  // namespace rebound_sim
