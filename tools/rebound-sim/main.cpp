// rebound-sim: runs the Rebound plug-in in the simulated script host and game,
// prints what happens and writes the trace of every call.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/base/native_table.h"
#include "sim/base/number_format.h"
#include "sim/base/seed.h"
#include "sim/host/simulation.h"
#include "sim/platform/module.h"
#include "sim/report/report.h"
#include "sim/report/report_recorder.h"
#include "sim/report/svg.h"
#include "tools/rebound-sim/console.h"
#include "tools/rebound-sim/output_file.h"
#include "tools/rebound-sim/panel_demo.h"
#include "tools/rebound-sim/platform.h"
#include "tools/rebound-sim/recording_commands.h"
#include "tools/rebound-sim/replay_command.h"

namespace {

constexpr const char* kUsage = R"(Usage:
  rebound-sim [run] [options]     run a scenario with the plug-in loaded
  rebound-sim panel-demo [options]
                                  picture the HUD panel with a bar of each kind
  rebound-sim replay RECORDING [--plugin PATH] [--quiet]
                                  check a build of the plug-in against a
                                  recording or a seeded trace
  rebound-sim report RECORDING --report FILE
                                  the HTML report of what a recording shows
  rebound-sim scenario-from RECORDING --out FILE
                                  a scenario that plays as the recording did
  rebound-sim natives [--json]    list every native the simulated game knows
  rebound-sim schema              print the JSON Schema of scenario files
  rebound-sim --help              show this help (COMMAND --help: that command's)
  rebound-sim --version           print the version

Run options:
  --scenario FILE   the scenario to run (JSON); default: the built-in scenario
  --plugin PATH     the plug-in module to load; default: the one built next
                    to rebound-sim (librebound.so; Rebound.asi on Windows)
  --no-plugin       run the game without the plug-in, to see what it does alone
  --frames N        run N frames (0 to 100000000) instead of the scenario's
                    own count
  --trace FILE      write every native call and host event as JSON Lines,
                    streamed to the file as the run goes; "-" for standard
                    output
  --frames-svg DIR  write pictures of what was drawn as DIR/frame-NNNNN.svg
                    (1920x1080, with the game's screen fade over them)
  --svg-frames LIST which frames to picture: "0,60,120", "every:N" or
                    "drawn" (every frame that drew anything); default every:30
  --svg-debug       add the frame number, the fade level, each movie's name
                    and outline and each sprite's texture name to the pictures
  --report FILE     write an HTML report, one page to open in a browser: a
                    timeline of the run, a frame viewer, the key frames of
                    each death, maps of the respawns and the figures
                    (capped; it says what was left out); "-" for standard
                    output
  --seed N          seed the plug-in's random helpers from N (0 to 2^53-1):
                    the run, its trace included, is then the same every time
  --os-random       leave the plug-in's random helpers on the system's random
                    source, as in the game (no seed, no seed line in the trace)
  --draws-from RECORDING
                    hand the plug-in's random helpers the random values drawn
                    in a recording (or a seeded trace), in order, instead of a
                    seed: a scenario made by scenario-from then plays as
                    recorded; drawing more than it holds stops the run
  --summary         print only one line per death and the summary
  --timeline        print every event of the timeline as it happens
  --quiet           print nothing but errors
  -h, --help        show this help
  --version         print the version

Without --seed or --os-random, a run draws a seed, prints it in its summary and
writes it as the trace's first line: --seed with it replays the run. The
Windows plug-in (Rebound.asi) exports nothing, so rebound-sim.exe cannot seed
it: it always runs as with --os-random, and refuses --seed (status 2).

What the terminal shows: a first line naming the scenario, the respawn flow's
timeline as it happens (its first 40 lines, then how many more there were;
--timeline prints every event), one line per death (the first 10; --summary
lists the first 1,000) with the native calls and heap allocations per frame in
each phase of the flow, and the summary, which also shows how deep the script
fibre's stack went. A run that takes more than a second shows its progress on
standard error, when that is a terminal: frames, frames per second and the
time left, on one line that is cleared at the end. REBOUND_SIM_PROGRESS_AFTER
sets that delay in seconds (0 shows the line from the first frames).

The run stops with an error, and rebound-sim exits with status 1, when the
plug-in does something the real host or game would not accept: an unknown
native, a wrong argument count or slot, a null text, or a native or
scriptWait called outside the script fibre, a sprite from a texture
dictionary that is not loaded, or a text command opened twice, closed
unopened, given a component outside it, a component over 99 bytes or a
component freed before the command was closed. A scenario with a mistake stops
the run before it starts (status 2). A simulator whose handlers do not match
its natives table stops at start-up, naming the native (status 3). An output
that cannot be written stops the run before its first frame, or at its end if
writing fails, naming the path and the system's reason (status 4); so does a
plug-in that cannot be loaded (or that has no seed export when --seed or
--draws-from asks for one), naming the path and the loader's reason.

Outputs never destroy data: a regular file is replaced atomically (written to
a temporary in its folder, renamed over it at the end, the temporary removed
on failure or interruption); a run that cannot be made or fails to write
leaves every existing output as it was. A symbolic link is followed and its
target written, the link kept; a FIFO or character device (and /dev/stdout,
/dev/fd/N) is written directly. When the trace or the report goes to standard
output, the timeline and summary go to standard error; only one of them can be
"-". Two outputs that name one file (also through a link), an output that
names a file the run reads (the scenario, the draws, the plug-in, the default
one too), a file that a picture in the --frames-svg folder would replace, and
an option's value that reads as an option ("--trace --quiet"; a file of that
name is ./--quiet) are mistakes in the command line.
Exit status: 0 the run ended normally, 1 refused by the host or game, 2 a
mistake in the command line or scenario, 3 the simulator's own table mistake,
4 an output that cannot be written or a plug-in that cannot be loaded.
)";

constexpr const char* kPanelDemoUsage = R"(Usage: rebound-sim panel-demo [--out DIR] [--svg-debug]

Runs the HUD panel's own code (linked into rebound-sim, not the loaded
plug-in) as the script, with one bar of each kind: a progress bar with three
separators, text bars (one compact, one blinking, one highlighted), a row of
entry markers with a marked one, a large label and a big text on top, in the
world of scenarios/panel.json (built in). It writes four pictures:
frame-00010.svg (everything shown), frame-00040.svg (the blinking bar's value
off), frame-00070.svg (language 8 lowers the big text) and frame-00100.svg (the
busy spinner lifts the panel). ctest -R PanelPicture checks the same demo.

Options:
  --out DIR     the folder for the pictures, made if missing; default panel-svg
  --svg-debug   add the frame number and each sprite's texture name
  -h, --help    show this help

Exit status: 0 written, 1 the game refused a call of the panel, 2 a mistake on
the command line, 4 a picture that cannot be written.
)";

constexpr const char* kNativesUsage = R"usage(Usage: rebound-sim natives [--json]

Lists every native the simulated game knows: its hash, its name (natives the
game documents by hash only show "(no public name)" there), the kinds of its
arguments and of its result. --json prints the same as a JSON array.
)usage";

constexpr const char* kSchemaUsage = R"usage(Usage: rebound-sim schema

Prints the JSON Schema of scenario files (scenarios/scenario.schema.json, built
in), for editors and for python3 -m jsonschema.
)usage";

struct Options {
  std::string command = "run";
  rebound_sim::Verbosity verbosity = rebound_sim::Verbosity::kFlow;
  bool svgDebug = false;
  std::string panelOut = "panel-svg";
  std::optional<std::string> scenario;
  std::optional<std::string> plugin;
  bool noPlugin = false;
  std::optional<std::int64_t> frames;
  std::optional<std::string> trace;
  std::optional<std::string> framesSvg;
  std::optional<sim::FramePick> svgFrames;
  std::optional<std::string> report;
  std::optional<std::uint64_t> seed;
  bool osRandom = false;
  std::optional<std::string> drawsFrom;
  bool json = false;
};

// Seeds fit the 53 bits that every JSON reader holds exactly, so the seed line
// of a trace reads back as the very number.
constexpr std::uint64_t kMaxSeed = (std::uint64_t{1} << 53) - 1;

[[noreturn]] void UsageError(const std::string& what) {
  std::cerr << "rebound-sim: " << what << "\n(rebound-sim --help lists the options)\n";
  std::exit(2);
}

[[noreturn]] void PrintHelp(const std::string& command) {
  std::cout << (command == "panel-demo" ? kPanelDemoUsage
                : command == "natives"  ? kNativesUsage
                : command == "schema"   ? kSchemaUsage
                                        : kUsage);
  std::exit(0);
}

// Bounded as the scenario's own "frames" is: a count past it would only run
// until killed.
std::int64_t FrameCount(const std::string& v) {
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(v.c_str(), &end, 10);
  if (v.empty() || v[0] < '0' || v[0] > '9' || *end != '\0' || errno == ERANGE ||
      n > sim::Scenario::kMaxFrames) {
    UsageError("--frames needs a whole number from 0 to " +
               std::to_string(sim::Scenario::kMaxFrames) + ", got " + v);
  }
  return n;
}

// --svg-frames, bounded by the frames a run can have.
sim::FramePick FramePickOption(const std::string& v) {
  std::string error;
  const std::optional<sim::FramePick> pick = sim::ParseFramePick(v, error);
  if (!pick) UsageError("--svg-frames: " + error);
  const std::int64_t most = sim::Scenario::kMaxFrames;
  const bool listedPast = !pick->listed.empty() && pick->listed.back() >= most;
  if (pick->every > most || listedPast) {
    UsageError("--svg-frames takes frames from 0 to " + std::to_string(most - 1) +
               " and every:N up to " + std::to_string(most) + " (a run has at most " +
               std::to_string(most) + " frames), got \"" + v + "\"");
  }
  return *pick;
}

std::string DefaultPlugin() {
  // Prefer the module beside this executable, then the one this build made.
  const std::string beside = sim::platform::PluginBesideExecutable();
  return beside.empty() ? REBOUND_DEFAULT_PLUGIN : beside;
}

// Whether a frame picture of this run may take the file name `name` in the
// --frames-svg folder: frame-NNNNN.svg for a frame the choice can name.
bool IsPictureName(const Options& o, const std::string& name) {
  constexpr std::string_view kPrefix = "frame-";
  constexpr std::string_view kSuffix = ".svg";
  if (name.size() <= kPrefix.size() + kSuffix.size() || name.rfind(kPrefix, 0) != 0 ||
      name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    return false;
  }
  const std::string digits =
      name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const std::int64_t frame = std::stoll(digits);
  if (sim::SvgFileName(frame) != name || frame >= sim::Scenario::kMaxFrames) return false;
  std::string error;
  const sim::FramePick pick =
      o.svgFrames ? *o.svgFrames : *sim::ParseFramePick(sim::kDefaultFramePick, error);
  if (pick.drawn) return true;
  if (pick.every > 0) return frame % pick.every == 0;
  return std::binary_search(pick.listed.begin(), pick.listed.end(), frame);
}

std::uint64_t SeedNumber(const std::string& v) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
  if (v.empty() || v[0] < '0' || v[0] > '9' || *end != '\0' || errno == ERANGE || n > kMaxSeed) {
    UsageError("--seed needs a whole number from 0 to " + std::to_string(kMaxSeed) + ", got " + v);
  }
  return n;
}

// Two outputs naming one file would leave only the last written; an output
// naming an input would replace what the run reads.
void CheckFilesAreDistinct(const Options& o) {
  std::vector<rebound_sim::NamedFile> outputs;
  if (o.trace) outputs.push_back({"--trace", *o.trace});
  if (o.report) outputs.push_back({"--report", *o.report});
  if (o.framesSvg) outputs.push_back({"--frames-svg", *o.framesSvg});
  std::vector<rebound_sim::NamedFile> inputs;
  if (o.scenario) inputs.push_back({"--scenario", *o.scenario});
  if (o.drawsFrom) inputs.push_back({"--draws-from", *o.drawsFrom});
  if (o.plugin) {
    inputs.push_back({"--plugin", *o.plugin});
  } else if (!o.noPlugin) {
    inputs.push_back({"--plugin", DefaultPlugin(), true});
  }
  std::string mistake = rebound_sim::SharedFileMistake(outputs, inputs);
  if (mistake.empty() && o.framesSvg) {
    // A picture is written over whatever file has its name in the folder.
    std::vector<rebound_sim::NamedFile> files(outputs.begin(), outputs.end() - 1);
    files.insert(files.end(), inputs.begin(), inputs.end());
    mistake = rebound_sim::PictureFolderMistake(
        outputs.back(), files, [&o](const std::string& name) { return IsPictureName(o, name); });
  }
  if (!mistake.empty()) UsageError(mistake);
}

// The options that each make sense alone but not together.
void CheckOptionsAgree(const Options& o) {
  if (o.noPlugin && o.plugin) UsageError("--plugin and --no-plugin exclude each other");
  if (o.svgFrames && !o.framesSvg) UsageError("--svg-frames needs --frames-svg DIR");
  if (o.svgDebug && o.command == "run" && !o.framesSvg) {
    UsageError("--svg-debug needs --frames-svg DIR");
  }
  if (o.trace && o.report && *o.trace == "-" && *o.report == "-") {
    UsageError("--trace - and --report - would mix in one stream; send one of them to a file");
  }
  if (o.framesSvg && *o.framesSvg == "-") UsageError("--frames-svg needs a folder, not -");
  if (o.seed && o.osRandom) UsageError("--seed and --os-random exclude each other");
  if (o.drawsFrom && (o.seed || o.osRandom || o.noPlugin)) {
    UsageError("--draws-from excludes --seed, --os-random and --no-plugin");
  }
  if (o.drawsFrom && !rebound_sim::platform::PluginCanBeSeeded()) {
    UsageError(
        "--draws-from cannot be used on Windows: Rebound.asi exports nothing to hand draws to");
  }
  if (o.seed && o.noPlugin) UsageError("--seed seeds the plug-in, and --no-plugin loads none");
  CheckFilesAreDistinct(o);
  if (o.seed && !rebound_sim::platform::PluginCanBeSeeded()) {
    UsageError(
        "--seed cannot be used on Windows: Rebound.asi exports nothing, so its random helpers "
        "always draw from the system's random source (run the Linux rebound-sim to replay a "
        "seed)");
  }
}

// Reads the command line into Options, word by word. A mistake ends the
// program with status 2, --help and --version with status 0.
class ArgParser {
 public:
  ArgParser(int argc, char** argv) : args_(argv + 1, argv + argc) {}

  Options Parse() {
    if (!args_.empty() && (args_[0] == "run" || args_[0] == "natives" || args_[0] == "schema" ||
                           args_[0] == "panel-demo")) {
      o_.command = args_[i_++];
    }
    for (; i_ < args_.size(); ++i_) {
      const std::string& a = args_[i_];
      if (CommandOption(a)) continue;
      if (o_.command != "run") UsageError("unknown option for " + o_.command + ": " + a);
      RunOption(a);
    }
    CheckOptionsAgree(o_);
    return o_;
  }

 private:
  std::string Value(const std::string& flag) {
    if (i_ + 1 >= args_.size()) UsageError(flag + " needs a value");
    return args_[++i_];
  }

  // The file or folder an option names, once: a value that reads as an
  // option is a forgotten one ("--trace --quiet").
  std::string PathValue(const std::string& flag, const std::optional<std::string>& given) {
    const std::string value = Value(flag);
    if (given) UsageError(flag + " given twice (" + *given + " and " + value + "); give it once");
    const std::string mistake = rebound_sim::OptionLikeValueMistake(flag, value);
    if (!mistake.empty()) UsageError(mistake);
    return value;
  }

  // Each of --quiet, --summary and --timeline sets how much is printed; two
  // of them contradict each other.
  void SetVerbosity(const std::string& flag, rebound_sim::Verbosity v) {
    if (!verbosityFlag_.empty() && verbosityFlag_ != flag) {
      UsageError(verbosityFlag_ + " and " + flag + " exclude each other");
    }
    verbosityFlag_ = flag;
    o_.verbosity = v;
  }

  // The options of every command, or of a command other than run; false for
  // any other word.
  bool CommandOption(const std::string& a) {
    if (a == "-h" || a == "--help") PrintHelp(o_.command);
    if (a == "--version") {
      std::cout << "rebound-sim " << REBOUND_VERSION << "\n";
      std::exit(0);
    }
    if (a == "--json" && o_.command == "natives") {
      o_.json = true;
    } else if (a == "--out" && o_.command == "panel-demo") {
      o_.panelOut = PathValue(a, panelOutGiven_);
      panelOutGiven_ = o_.panelOut;
      if (o_.panelOut == "-") UsageError("--out needs a folder, not -");
    } else if (a == "--svg-debug" && (o_.command == "panel-demo" || o_.command == "run")) {
      o_.svgDebug = true;
    } else {
      return false;
    }
    return true;
  }

  void RunOption(const std::string& a) {
    if (a == "--scenario") {
      o_.scenario = PathValue(a, o_.scenario);
    } else if (a == "--plugin") {
      o_.plugin = PathValue(a, o_.plugin);
    } else if (a == "--no-plugin") {
      o_.noPlugin = true;
    } else if (a == "--frames") {
      o_.frames = FrameCount(Value(a));
    } else if (a == "--trace") {
      o_.trace = PathValue(a, o_.trace);
    } else if (a == "--report") {
      o_.report = PathValue(a, o_.report);
    } else if (a == "--frames-svg") {
      o_.framesSvg = PathValue(a, o_.framesSvg);
    } else if (a == "--svg-frames") {
      o_.svgFrames = FramePickOption(Value(a));
    } else if (a == "--seed") {
      if (o_.seed) UsageError("--seed given twice");
      o_.seed = SeedNumber(Value(a));
    } else if (a == "--os-random") {
      o_.osRandom = true;
    } else if (a == "--draws-from") {
      o_.drawsFrom = PathValue(a, o_.drawsFrom);
    } else if (a == "--quiet" || a == "-q") {
      SetVerbosity("--quiet", rebound_sim::Verbosity::kQuiet);
    } else if (a == "--summary") {
      SetVerbosity(a, rebound_sim::Verbosity::kSummary);
    } else if (a == "--timeline") {
      SetVerbosity(a, rebound_sim::Verbosity::kTimeline);
    } else {
      UsageError("unknown option: " + a);
    }
  }

  std::vector<std::string> args_;
  std::size_t i_ = 0;
  Options o_;
  std::string verbosityFlag_;
  std::optional<std::string> panelOutGiven_;
};

int ListNatives(bool json) {
  const auto& table = sim::NativeTable();
  if (json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const auto& n : table) {
      nlohmann::ordered_json e;
      e["hash"] = sim::HexHash(n.hash);
      // A native the game documents by hash only has no name to give.
      e["name"] = sim::HasPublicName(n) ? nlohmann::ordered_json(n.name) : nullptr;
      auto args = nlohmann::ordered_json::array();
      for (auto k : n.args) args.push_back(sim::ArgKindName(k));
      e["args"] = args;
      e["result"] = sim::ResultKindName(n.result);
      out.push_back(e);
    }
    std::cout << out.dump(2) << "\n";
    return 0;
  }
  for (const auto& n : table) {
    std::string args;
    for (auto k : n.args) args += (args.empty() ? "" : ", ") + std::string(sim::ArgKindName(k));
    const std::string name = sim::HasPublicName(n) ? n.name : "(no public name)";
    std::printf("%s  %-44s (%s) -> %s\n", sim::HexHash(n.hash).c_str(), name.c_str(), args.c_str(),
                std::string(sim::ResultKindName(n.result)).c_str());
  }
  std::printf("%zu natives\n", table.size());
  return 0;
}

constexpr int kOutputUnusable = 4;
// A plug-in the loader cannot load, or cannot hand the seed or the draws
// asked for, shares the status of an output that cannot be written: a file
// the command needs that it cannot use. Status 1 is for what the host or the
// game refuses of a loaded plug-in.
constexpr int kPluginUnusable = 4;

// Where the timeline and summary are printed: standard output, or standard
// error when an output goes to standard output.
std::FILE* g_console = stdout;

using rebound_sim::CommitOutput;
using rebound_sim::FinishOutput;
using rebound_sim::OpenOutput;
using rebound_sim::OutputFile;
using rebound_sim::PathFromUtf8;
using rebound_sim::Utf8FromPath;

// The folder for the pictures, made now, so that a path that cannot be one is
// known before the run. `made` tells whether it was missing.
bool PrepareFramePictureFolder(const std::string& dir, bool* made = nullptr) {
  std::error_code ec;
  const std::filesystem::path folder = PathFromUtf8(dir);
  const bool there = std::filesystem::exists(folder, ec);
  if (made != nullptr) *made = !there;
  if (there && !std::filesystem::is_directory(folder, ec)) {
    std::cerr << "rebound-sim: cannot write the frame pictures to " << dir << ": "
              << std::make_error_code(std::errc::not_a_directory).message() << "\n";
    return false;
  }
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::cerr << "rebound-sim: cannot write the frame pictures to " << dir << ": " << ec.message()
              << "\n";
    return false;
  }
  return true;
}

// The picture options of one frame: the screen's fade at its end, and the
// debug additions when asked for.
sim::SvgOptions PictureOptions(const sim::World& world, std::int64_t frame, bool debug) {
  sim::SvgOptions options;
  options.fadeLevel = world.screen.LevelAtFrame(frame);
  options.debug = debug;
  return options;
}

// One SVG picture per chosen frame of what the game drew in it. A choice that
// names no frame of the run says so rather than write nothing in silence.
bool WriteFramePictures(const sim::Simulation& simulation, const std::string& dir,
                        const std::optional<sim::FramePick>& chosen, const Options& o) {
  std::string error;
  const sim::FramePick pick =
      chosen ? *chosen : *sim::ParseFramePick(sim::kDefaultFramePick, error);
  const sim::World& world = simulation.GetWorld();
  const std::int64_t framesRun = simulation.FramesRun();
  const std::vector<std::int64_t> frames = sim::PickedFrames(pick, framesRun, world.drawing);
  for (std::int64_t frame : frames) {
    const std::string path = Utf8FromPath(PathFromUtf8(dir) / sim::SvgFileName(frame));
    std::unique_ptr<OutputFile> out = OpenOutput("frame picture", path);
    if (!out) return false;
    sim::WriteFrameSvg(out->Stream(), world.drawing.Frame(frame), frame,
                       PictureOptions(world, frame, o.svgDebug));
    if (!CommitOutput(*out)) return false;
  }
  std::size_t pastTheEnd = 0;
  for (std::int64_t frame : pick.listed) pastTheEnd += frame >= framesRun ? 1 : 0;
  if (pastTheEnd > 0) {
    std::cerr << "rebound-sim: --svg-frames: " << pastTheEnd << " of the frames listed "
              << (pastTheEnd == 1 ? "is" : "are") << " past the run's last frame (" << framesRun - 1
              << "): not pictured\n";
  }
  if (frames.empty()) {
    std::cerr << "rebound-sim: no frame pictures written to " << dir << ": "
              << (pick.drawn ? "nothing was drawn in the " + std::to_string(framesRun) +
                                   " frames of the run (--svg-frames drawn)"
                             : std::string("the run has no frame that --svg-frames names"))
              << "\n";
  } else if (o.verbosity >= rebound_sim::Verbosity::kFlow) {
    std::fprintf(
        g_console, "%s written to %s\n",
        sim::CountOf(static_cast<long long>(frames.size()), "frame picture", "frame pictures")
            .c_str(),
        dir.c_str());
  }
  return true;
}

// Where the plug-in's random numbers came from, and how deep its fibre went.
void PrintSeedAndStack(const sim::RunSummary& s, const Options& o) {
  if (!o.noPlugin) {
    switch (s.seeding) {
      case sim::Seeding::kSeeded:
        std::fprintf(g_console, "  seed: %llu (%s; --seed %llu replays this run)\n",
                     static_cast<unsigned long long>(s.seed), o.seed ? "given" : "drawn",
                     static_cast<unsigned long long>(s.seed));
        break;
      case sim::Seeding::kRecordedDraws:
        std::fprintf(g_console, "  random draws: those of %s, in order (--draws-from)\n",
                     o.drawsFrom->c_str());
        break;
      case sim::Seeding::kNoExport:
        std::fprintf(
            g_console,
            "  seed: none; the plug-in has no seed export (ReboundSetSeedSource), so it draws from "
            "the system's random source\n");
        break;
      case sim::Seeding::kOsRandom:
        std::fprintf(g_console, "%s",
                     rebound_sim::platform::PluginCanBeSeeded()
                         ? "  seed: none; the plug-in draws from the system's random source "
                           "(--os-random)\n"
                         : "  seed: none; Rebound.asi exports nothing, so it draws from the "
                           "system's random source, as with --os-random\n");
        break;
    }
  }
  if (s.scriptStack.measured) {
    std::fprintf(g_console, "  script stack: peak %zu bytes of %zu\n", s.scriptStack.peak,
                 s.scriptStack.size);
  } else {
    std::fprintf(g_console, "  script stack: not measured\n");
  }
}

// Runs the simulation to its end, showing the progress line on a terminal.
bool RunWithProgress(sim::Simulation& simulation, rebound_sim::ProgressLine* progress) {
  if (progress == nullptr) return simulation.Run();
  // Frames in one go between two looks at the clock: a few milliseconds of
  // the slowest frames, and nothing next to the idle ones.
  constexpr std::int64_t kChunk = 512;
  const std::int64_t total = simulation.GetScenario().frames;
  bool ok = true;
  while (ok && simulation.FramesRun() < total) {
    ok = simulation.RunFrames(std::min(kChunk, total - simulation.FramesRun()));
    progress->Update(simulation.FramesRun());
  }
  progress->Clear();
  return ok;
}

// The scenario the options name, with their frame count; none, after saying
// why, when it has a mistake.
std::optional<sim::Scenario> ScenarioToRun(const Options& o) {
  sim::Scenario scenario;
  try {
    scenario = o.scenario ? sim::Scenario::Load(*o.scenario) : sim::Scenario::Default();
  } catch (const sim::ScenarioError& e) {
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return std::nullopt;
  }
  if (o.frames) scenario.frames = *o.frames;
  return scenario;
}

// The run's outputs while it goes. Whatever has not been put in place when
// they go (a run that could not be made, a failed write) leaves every file as
// it was: the temporaries are removed, and a picture folder the run made is
// removed again while it is empty.
struct RunOutputs {
  std::unique_ptr<OutputFile> trace;
  std::unique_ptr<OutputFile> report;
  std::optional<std::filesystem::path> madeFolder;  // the --frames-svg folder, made by this run

  RunOutputs() = default;
  RunOutputs(const RunOutputs&) = delete;
  RunOutputs& operator=(const RunOutputs&) = delete;
  ~RunOutputs() {
    if (trace) trace->Abandon();
    if (report) report->Abandon();
    std::error_code ec;
    if (madeFolder && std::filesystem::is_empty(*madeFolder, ec)) {
      std::filesystem::remove(*madeFolder, ec);
    }
  }
};

// Every output is opened before the first frame, so that a path that cannot
// be written stops the run at once. The trace streams to its file as the run
// goes: nothing of it is held in memory.
bool OpenOutputs(const Options& o, RunOutputs& outputs) {
  if (o.trace && !(outputs.trace = OpenOutput("trace", *o.trace))) return false;
  if (o.report && !(outputs.report = OpenOutput("report", *o.report))) return false;
  bool made = false;
  if (o.framesSvg && !PrepareFramePictureFolder(*o.framesSvg, &made)) return false;
  if (made) outputs.madeFolder = PathFromUtf8(*o.framesSvg);
  if ((outputs.trace && outputs.trace->IsStandardOutput()) ||
      (outputs.report && outputs.report->IsStandardOutput())) {
    g_console = stderr;
  }
  return true;
}

sim::SimOptions SimulationOptions(const Options& o, const RunOutputs& outputs) {
  sim::SimOptions options;
  // Every run with the plug-in is seeded unless told otherwise, so that any
  // run can be replayed.
  if (rebound_sim::platform::PluginCanBeSeeded() && !o.osRandom && !o.noPlugin && !o.drawsFrom) {
    options.seed = o.seed ? *o.seed : sim::DrawRunSeed() & kMaxSeed;
  }
  options.recordTrace = false;
  options.traceStream = outputs.trace ? &outputs.trace->Stream() : nullptr;
  // Draw lists are kept only for the pictures.
  options.keepDrawings = o.framesSvg.has_value() || o.report.has_value();
  return options;
}

std::unique_ptr<rebound_sim::ProgressLine> ProgressLineFor(const Options& o,
                                                           const sim::Simulation& simulation) {
  if (o.verbosity == rebound_sim::Verbosity::kQuiet ||
      !rebound_sim::ProgressLine::WantedOnStandardError()) {
    return nullptr;
  }
  return std::make_unique<rebound_sim::ProgressLine>(
      stderr, simulation.GetScenario().frames,
      rebound_sim::ProgressLine::DelayFromEnvironment(stderr));
}

enum class RunOutcome {
  kRan,      // to the end of its frames, or to the host's unload
  kFaulted,  // stopped where the host or the game refused a call
  kNoRun,    // the plug-in cannot be loaded, or not as asked
};

// Loads the plug-in (unless told not to) and runs the frames.
RunOutcome LoadAndRun(sim::Simulation& simulation, const Options& o,
                      rebound_sim::ProgressLine* progress) {
  bool ok = true;
  if (!o.noPlugin) {
    ok = simulation.LoadPlugin(o.plugin ? *o.plugin : DefaultPlugin());
    // A module the loader leaves unloaded (missing, not a module, no entry,
    // an entry that refuses attach) gives no run to show.
    if (!ok && !simulation.PluginLoaded()) {
      std::cerr << "rebound-sim: " << simulation.Fault() << "\n";
      return RunOutcome::kNoRun;
    }
    if (ok && (o.seed || o.drawsFrom) && simulation.SeedingOutcome() == sim::Seeding::kNoExport) {
      // A replay that cannot be one must not pass for one.
      std::cerr << "rebound-sim: " << (o.seed ? "--seed" : "--draws-from")
                << ": the plug-in has no seed export (ReboundSetSeedSource), so its random "
                   "helpers cannot be "
                << (o.seed ? "seeded" : "handed the draws") << "\n";
      simulation.UnloadPlugin();
      return RunOutcome::kNoRun;
    }
  } else {
    simulation.GetWorld().Note("host", "running without the plug-in");
  }
  if (ok) ok = RunWithProgress(simulation, progress);
  const bool faultedBeforeUnload = simulation.Faulted();
  if (simulation.PluginLoaded()) simulation.UnloadPlugin();
  return ok && !faultedBeforeUnload && !simulation.Faulted() ? RunOutcome::kRan
                                                             : RunOutcome::kFaulted;
}

// The trace, the frame pictures and the report, each put in place; false when
// one cannot be.
bool WriteOutputs(const sim::Simulation& simulation, const Options& o, RunOutputs& outputs,
                  const sim::ReportRecorder* recorder) {
  // The trace of a run that stopped at a fault is kept: it shows the fault.
  if (outputs.report) {
    sim::WriteHtmlReport(outputs.report->Stream(), simulation, *recorder, &sim::FrameSvgText);
  }
  // Each is whole before any replaces a file: one that fails leaves the
  // others' files as they were.
  if (outputs.trace && !FinishOutput(*outputs.trace)) return false;
  if (outputs.report && !FinishOutput(*outputs.report)) return false;
  if (o.framesSvg && !WriteFramePictures(simulation, *o.framesSvg, o.svgFrames, o)) return false;
  outputs.madeFolder.reset();  // the pictures' folder stays, pictured or not
  if (outputs.trace && !CommitOutput(*outputs.trace)) return false;
  return !outputs.report || CommitOutput(*outputs.report);
}

// The deaths, the cost of each phase of the flow and the run's figures.
void PrintSummary(const sim::Simulation& simulation, const Options& o) {
  const sim::RunSummary s = simulation.Summary();
  // The deaths the default output lists; --summary is for the long list.
  constexpr std::size_t kDeathsListed = 10;
  std::fprintf(g_console, "\n");
  rebound_sim::PrintDeaths(g_console, simulation,
                           o.verbosity == rebound_sim::Verbosity::kSummary
                               ? sim::FlowObserver::kKeptDeaths
                               : kDeathsListed);
  rebound_sim::PrintPhaseCosts(g_console, simulation);
  std::fprintf(
      g_console,
      "\nSummary: %s of \"%s\", %.3f s of game time, %s "
      "(%.1f per frame on average, at most %llu in one frame)\n",
      sim::CountOf(s.frames, "frame", "frames").c_str(), simulation.GetScenario().name.c_str(),
      static_cast<double>(s.gameTimeMs) / 1000.0,
      sim::CountOf(static_cast<long long>(s.nativeCalls), "native call", "native calls").c_str(),
      s.frames > 0 ? static_cast<double>(s.nativeCalls) / static_cast<double>(s.frames) : 0.0,
      static_cast<unsigned long long>(s.maxCallsInFrame));
  PrintSeedAndStack(s, o);
  if (s.searchesMiscounted > 0) {
    std::fprintf(g_console,
                 "  the scenario contradicted itself: %s reported more results "
                 "than held, and the plug-in asked for one past them (--timeline shows where)\n",
                 sim::CountOf(s.searchesMiscounted, "spawn search", "spawn searches").c_str());
  }
  if (o.trace) std::fprintf(g_console, "Trace written to %s\n", o.trace->c_str());
  if (o.report) std::fprintf(g_console, "Report written to %s\n", o.report->c_str());
}

int Run(const Options& o) {
  using rebound_sim::Verbosity;
  std::optional<sim::Scenario> scenario = ScenarioToRun(o);
  if (!scenario) return 2;
  // A recording's draws, read before any output is opened.
  sim::SimOptions recorded;
  if (o.drawsFrom && !rebound_sim::RecordedDraws(*o.drawsFrom, recorded)) return 2;
  rebound_sim::RemoveTemporariesOnInterrupt();
  RunOutputs outputs;
  if (!OpenOutputs(o, outputs)) return kOutputUnusable;
  sim::SimOptions options = SimulationOptions(o, outputs);
  options.draws = std::move(recorded.draws);
  if (recorded.seed) options.seed = recorded.seed;
  sim::Simulation simulation(std::move(*scenario), std::move(options));
  sim::World& world = simulation.GetWorld();

  // The report gathers what it shows as the run goes; it takes the draw lists
  // for itself unless the frame pictures want them too.
  std::unique_ptr<sim::ReportRecorder> recorder;
  if (outputs.report) {
    recorder = std::make_unique<sim::ReportRecorder>(!o.framesSvg.has_value());
    simulation.SetWatcher(recorder.get());
  }
  std::unique_ptr<rebound_sim::ProgressLine> progress = ProgressLineFor(o, simulation);
  rebound_sim::TimelinePrinter timeline(g_console, o.verbosity, !o.noPlugin);
  if (o.verbosity >= Verbosity::kFlow) {
    std::fprintf(g_console, "%s\n", rebound_sim::RunHeading(simulation.GetScenario()).c_str());
    world.timeline.SetListener([&timeline, &progress](const sim::TimelineEntry& e) {
      // A line printed over the progress line would run into it.
      if (progress) progress->Clear();
      timeline.Print(e);
    });
  }

  const RunOutcome ran = LoadAndRun(simulation, o, progress.get());
  world.timeline.SetListener(nullptr);
  if (ran == RunOutcome::kNoRun) return kPluginUnusable;
  if (o.verbosity >= Verbosity::kFlow) timeline.PrintHeldBack();
  if (!WriteOutputs(simulation, o, outputs, recorder.get())) return kOutputUnusable;
  if (o.verbosity >= Verbosity::kSummary) PrintSummary(simulation, o);
  if (ran == RunOutcome::kFaulted) {
    std::cerr << "rebound-sim: run stopped: " << simulation.Fault() << "\n";
    return 1;
  }
  return 0;
}

int PanelDemo(const Options& o) {
  sim::Scenario scenario;
  try {
    scenario = sim::Scenario::Parse("(built-in panel demo scenario)",
                                    rebound_sim::PanelDemoScenarioText());
  } catch (const sim::ScenarioError& e) {
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return 3;
  }
  rebound_sim::RemoveTemporariesOnInterrupt();
  if (!PrepareFramePictureFolder(o.panelOut)) return kOutputUnusable;
  sim::Simulation simulation(std::move(scenario));
  std::vector<rebound::HudBar> bars = rebound_sim::PanelDemoBars();
  if (!rebound_sim::RunPanelDemo(simulation, bars)) {
    std::cerr << "rebound-sim: panel demo stopped: " << simulation.Fault() << "\n";
    return 1;
  }
  const sim::World& world = simulation.GetWorld();
  for (std::int64_t frame : rebound_sim::kPanelDemoFrames) {
    const std::string path = Utf8FromPath(PathFromUtf8(o.panelOut) / sim::SvgFileName(frame));
    std::unique_ptr<OutputFile> out = OpenOutput("panel picture", path);
    if (!out) return kOutputUnusable;
    sim::WriteFrameSvg(out->Stream(), world.drawing.Frame(frame), frame,
                       PictureOptions(world, frame, o.svgDebug));
    if (!CommitOutput(*out)) return kOutputUnusable;
    std::printf("%s\n", path.c_str());
  }
  std::printf(
      "%zu bars drawn by the panel's own code over %lld frames; %zu "
      "pictures written to %s\n",
      bars.size(), static_cast<long long>(simulation.FramesRun()),
      std::size(rebound_sim::kPanelDemoFrames), o.panelOut.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "replay") {
    return rebound_sim::ReplayCommand(argc - 2, argv + 2);
  }
  if (argc > 1 && rebound_sim::IsRecordingCommand(argv[1])) {
    return rebound_sim::RunRecordingCommand(argc, argv);
  }
  const Options o = ArgParser(argc, argv).Parse();
  if (o.command == "natives") return ListNatives(o.json);
  if (o.command == "schema") {
    const std::string_view schema = sim::Scenario::Schema();
    std::fwrite(schema.data(), 1, schema.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  try {
    if (o.command == "panel-demo") return PanelDemo(o);
    return Run(o);
  } catch (const sim::HandlerTableError& e) {
    // A mistake in the simulator itself: it cannot answer the natives it lists.
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return 3;
  }
}
