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

#include "sim/base/number_format.h"
#include "sim/platform/module.h"
#include "sim/recording/trace_reader.h"
#include "sim/replay/replay.h"
#include "tools/rebound-sim/commands.h"

namespace rebound_sim {

constexpr std::string_view kReplayUsage =
    R"(Usage: rebound-sim replay RECORDING [--plugin PATH] [--quiet]

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
  --quiet         print nothing but the first difference and errors
  -h, --help      show this help

Exit status: 0 the plug-in made the recorded calls, 1 it made another, 2 the
recording or the command line cannot be read (the file, line and field named;
a newer format version named as such), the file holds nothing to replay, or it
is a trace of an unseeded run (--os-random), which holds no draws to hand the
plug-in; 4 the plug-in cannot be loaded (or cannot be handed the recorded
draws), as for a run.
)";

namespace {

struct ReplayOptions {
  std::string recording;
  std::optional<std::string> plugin;
  bool quiet = false;
};

// The options, or none when the words asked for the help. A mistake throws
// UsageError.
std::optional<ReplayOptions> ReadReplayOptions(ArgumentReader& args) {
  ReplayOptions o;
  while (args.Next()) {
    const std::string& a = args.Word();
    if (args.Answered()) return std::nullopt;
    if (a == "--plugin") {
      o.plugin = args.PathValue(a, o.plugin, "needs a path");
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

void PrintDifference(const sim::ReplayDifference& d, const std::string& recording) {
  std::printf("The plug-in differs from the recording at frame %lld, call %llu",
              static_cast<long long>(d.frame), static_cast<unsigned long long>(d.call));
  if (d.line > 0) std::printf(" (%s:%lld)", recording.c_str(), static_cast<long long>(d.line));
  std::printf(":\n");
  for (const std::string& line : d.before) std::printf("  %s\n", line.c_str());
  std::printf("- %s\n+ %s\n", d.expected.c_str(), d.actual.c_str());
  if (!d.hint.empty()) std::printf("Hint: %s.\n", d.hint.c_str());
}

void PrintModelDifferences(const sim::ReplayResult& r) {
  if (r.modelDifferences.empty()) {
    std::printf("Every recorded answer read is one the world model can give.\n");
    return;
  }
  std::printf("Recorded answers the world model never gives:\n");
  for (const sim::ModelDifferenceReport& m : r.modelDifferences) {
    std::printf("  %s\n", sim::DescribeModelDifference(m).c_str());
  }
}

// What the user should know of the check besides its verdict: where it ended
// early, a cut recording, a fault line, keys the recorder dropped, answers the
// world model could not give, and draws that came from the seed.
void PrintReplayNotes(const sim::TraceReader& reader, const sim::ReplayResult& r,
                      const std::string& recording, bool recordedDraws) {
  if (!r.endNote.empty()) std::printf("The check ended early: %s.\n", r.endNote.c_str());
  if (reader.Cut()) {
    std::printf("The recording is cut short, as a crash or a full disk leaves it: %s.\n",
                reader.CutNote().c_str());
  }
  if (reader.FaultLine() != 0) {
    std::printf("The trace ends at the run's fault line (%s:%lld).\n", recording.c_str(),
                static_cast<long long>(reader.FaultLine()));
  }
  if (r.droppedKeys > 0) {
    std::printf(
        "The recorder had no room for %s: %s not delivered.\n",
        sim::CountOf(static_cast<long long>(r.droppedKeys), "keyboard message", "keyboard messages")
            .c_str(),
        r.droppedKeys == 1 ? "it was" : "they were");
  }
  PrintModelDifferences(r);
  if (!recordedDraws) {
    std::printf("The recording has no random draws: the plug-in drew from its seed's sequence.\n");
  }
}

ExitStatus Replay(const ReplayOptions& o) {
  const std::string plugin = o.plugin ? *o.plugin : DefaultPlugin();
  std::unique_ptr<sim::TraceReader> reader;
  try {
    reader = sim::TraceReader::Open(o.recording);
  } catch (const sim::RecordingError& e) {
    std::fprintf(stderr, "rebound-sim replay: %s\n", e.what());
    return ExitStatus::BadInput;
  }
  if (reader->Unseeded() && !HoldsRandomDraws(o.recording)) {
    std::fprintf(stderr,
                 "rebound-sim replay: %s: a trace of an unseeded run (--os-random): it holds "
                 "neither a seed nor the random draws, so the plug-in's draws cannot be replayed; "
                 "trace the run with --seed N, or without --os-random\n",
                 o.recording.c_str());
    return ExitStatus::BadInput;
  }
  if (!o.quiet) {
    std::printf("Replaying %s (%s) against %s\n", o.recording.c_str(),
                DescribeHeader(reader->Header()).c_str(), plugin.c_str());
    std::fflush(stdout);
  }

  sim::ReplayOptions options;
  options.recordedDraws = reader->Header().version > 0 || HoldsRandomDraws(o.recording);
  sim::Replay replay(*reader, options);
  const auto start = std::chrono::steady_clock::now();
  const sim::ReplayResult r = replay.Run(plugin);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  using Outcome = sim::ReplayResult::Outcome;
  if (r.outcome == Outcome::Unreadable) {
    std::fprintf(stderr, "rebound-sim replay: %s\n", r.error.c_str());
    return ExitStatus::BadInput;
  }
  if (r.outcome == Outcome::CannotLoad) {
    std::fprintf(stderr, "rebound-sim replay: %s\n", r.error.c_str());
    return ExitStatus::UnusableFile;
  }
  if (r.difference) PrintDifference(*r.difference, o.recording);
  if (o.quiet) return r.difference ? ExitStatus::Refused : ExitStatus::Success;
  PrintReplayNotes(*reader, r, o.recording, options.recordedDraws);
  std::printf("%s: %s checked (%llu native), %s, %.3f s, %.0f calls per second\n",
              r.difference ? "Differs" : "Same calls",
              sim::CountOf(static_cast<long long>(r.callsChecked), "call", "calls").c_str(),
              static_cast<unsigned long long>(r.nativeCalls),
              sim::CountOf(r.frames, "frame", "frames").c_str(), seconds,
              seconds > 0 ? static_cast<double>(r.callsChecked) / seconds : 0.0);
  return r.difference ? ExitStatus::Refused : ExitStatus::Success;
}

}  // namespace

ExitStatus ReplayCommand(ArgumentReader& args) {
  const std::optional<ReplayOptions> options = ReadReplayOptions(args);
  return options ? Replay(*options) : ExitStatus::Success;
}

}  // namespace rebound_sim
