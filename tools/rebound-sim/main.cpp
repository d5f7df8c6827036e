// rebound-sim: runs the Rebound plug-in in the simulated script host and game,
// prints what happens and writes the trace of every call.
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
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/native_table.h"
#include "sim/platform/module.h"
#include "sim/report.h"
#include "sim/report_recorder.h"
#include "sim/seed.h"
#include "sim/simulation.h"
#include "sim/svg.h"
#include "tools/rebound-sim/output_file.h"

namespace {

constexpr const char* kUsage = R"(Usage:
  rebound-sim [run] [options]     run a scenario with the plug-in loaded
  rebound-sim natives [--json]    list every native the simulated game knows
  rebound-sim schema              print the JSON Schema of scenario files
  rebound-sim --help              show this help
  rebound-sim --version           print the version

Run options:
  --scenario FILE   the scenario to run (JSON); default: the built-in scenario
  --plugin PATH     the plug-in module to load; default: the one built next
                    to rebound-sim (librebound.so; Rebound.asi on Windows)
  --no-plugin       run the game without the plug-in, to see what it does alone
  --frames N        run N frames instead of the scenario's own count
  --trace FILE      write every native call and host event as JSON Lines,
                    streamed to the file as the run goes; "-" for standard
                    output
  --frames-svg DIR  write pictures of what was drawn as DIR/frame-NNNNN.svg
  --svg-frames LIST which frames to picture: "0,60,120", "every:N" or
                    "drawn" (every frame that drew anything); default every:30
  --report FILE     write an HTML report, one page to open in a browser: a
                    timeline of the run, a frame viewer, the key frames of
                    each death, maps of the respawns and the figures
                    (capped; it says what was left out); "-" for standard
                    output
  --seed N          seed the plug-in's random helpers from N (0 to 2^53-1):
                    the run, its trace included, is then the same every time
  --os-random       leave the plug-in's random helpers on the system's random
                    source, as in the game (no seed, no seed line in the trace)
  --quiet           print nothing but errors
  -h, --help        show this help
  --version         print the version

Without --seed or --os-random, a run draws a seed, prints it in its summary and
writes it as the trace's first line: --seed with it replays the run. The
Windows plug-in (Rebound.asi) exports nothing, so rebound-sim.exe cannot seed
it: it always runs as with --os-random, and refuses --seed (status 2).

The summary also shows how deep the script fibre's stack went.

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
writing fails, naming the path and the system's reason (status 4).

Outputs never destroy data: a regular file is replaced atomically (written to
a temporary in its folder, renamed over it at the end, the temporary removed
on failure or interruption); a symbolic link is followed and its target
written, the link kept; a FIFO or character device (and /dev/stdout, /dev/fd/N)
is written directly. When the trace or the report goes to standard output, the
timeline and summary go to standard error; only one of them can be "-".
Exit status: 0 the run ended normally, 1 refused by the host or game, 2 a
mistake in the command line or scenario, 3 the simulator's own table mistake,
4 an output that cannot be written.
)";

struct Options {
  std::string command = "run";
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
  bool quiet = false;
  bool json = false;
};

// Seeds fit the 53 bits that every JSON reader holds exactly, so the seed line
// of a trace reads back as the very number.
constexpr std::uint64_t kMaxSeed = (std::uint64_t{1} << 53) - 1;

[[noreturn]] void UsageError(const std::string& what) {
  std::cerr << "rebound-sim: " << what << "\n(rebound-sim --help lists the options)\n";
  std::exit(2);
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::size_t i = 0;
  if (!args.empty() && (args[0] == "run" || args[0] == "natives" || args[0] == "schema")) {
    o.command = args[i++];
  }
  auto value = [&](const std::string& flag) -> std::string {
    if (i + 1 >= args.size()) UsageError(flag + " needs a value");
    return args[++i];
  };
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      std::exit(0);
    } else if (a == "--version") {
      std::cout << "rebound-sim " << REBOUND_VERSION << "\n";
      std::exit(0);
    } else if (a == "--json" && o.command == "natives") {
      o.json = true;
    } else if (o.command != "run") {
      UsageError("unknown option for " + o.command + ": " + a);
    } else if (a == "--scenario") {
      if (o.scenario) UsageError("--scenario given twice; a run takes one scenario");
      o.scenario = value(a);
    } else if (a == "--plugin") {
      o.plugin = value(a);
    } else if (a == "--no-plugin") {
      o.noPlugin = true;
    } else if (a == "--frames") {
      const std::string v = value(a);
      char* end = nullptr;
      const long long n = std::strtoll(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || n < 0) UsageError("--frames needs a count, got " + v);
      o.frames = n;
    } else if (a == "--trace") {
      o.trace = value(a);
    } else if (a == "--report") {
      o.report = value(a);
    } else if (a == "--frames-svg") {
      o.framesSvg = value(a);
    } else if (a == "--svg-frames") {
      std::string error;
      o.svgFrames = sim::ParseFramePick(value(a), error);
      if (!o.svgFrames) UsageError("--svg-frames: " + error);
    } else if (a == "--seed") {
      if (o.seed) UsageError("--seed given twice");
      const std::string v = value(a);
      char* end = nullptr;
      errno = 0;
      const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
      if (v.empty() || v[0] < '0' || v[0] > '9' || *end != '\0' || errno == ERANGE ||
          n > kMaxSeed) {
        UsageError("--seed needs a whole number from 0 to " + std::to_string(kMaxSeed) + ", got " +
                   v);
      }
      o.seed = n;
    } else if (a == "--os-random") {
      o.osRandom = true;
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else {
      UsageError("unknown option: " + a);
    }
  }
  if (o.noPlugin && o.plugin) UsageError("--plugin and --no-plugin exclude each other");
  if (o.svgFrames && !o.framesSvg) UsageError("--svg-frames needs --frames-svg DIR");
  if (o.trace && o.report && *o.trace == "-" && *o.report == "-") {
    UsageError("--trace - and --report - would mix in one stream; send one of them to a file");
  }
  if (o.framesSvg && *o.framesSvg == "-") UsageError("--frames-svg needs a folder, not -");
  if (o.seed && o.osRandom) UsageError("--seed and --os-random exclude each other");
  if (o.seed && o.noPlugin) UsageError("--seed seeds the plug-in, and --no-plugin loads none");
#if defined(_WIN32)
  if (o.seed) {
    UsageError(
        "--seed cannot be used on Windows: Rebound.asi exports nothing, so its random helpers "
        "always draw from the system's random source (run the Linux rebound-sim to replay a "
        "seed)");
  }
#endif
  return o;
}

int ListNatives(bool json) {
  const auto& table = sim::NativeTable();
  if (json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const auto& n : table) {
      nlohmann::ordered_json e;
      e["hash"] = sim::HexHash(n.hash);
      e["name"] = n.name;
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
    std::printf("%s  %-44s (%s) -> %s\n", sim::HexHash(n.hash).c_str(), std::string(n.name).c_str(),
                args.c_str(), std::string(sim::ResultKindName(n.result)).c_str());
  }
  std::printf("%zu natives\n", table.size());
  return 0;
}

std::string DefaultPlugin() {
  // Prefer the module beside this executable, then the one this build made.
  const std::string beside = sim::platform::PluginBesideExecutable();
  return beside.empty() ? REBOUND_DEFAULT_PLUGIN : beside;
}

std::string FormatTimelineEntry(const sim::TimelineEntry& e) {
  char prefix[64];
  if (e.frame < 0) {
    std::snprintf(prefix, sizeof prefix, "[load       t=%-11d]", e.time);
  } else {
    std::snprintf(prefix, sizeof prefix, "[frame %5lld t=%-11d]", static_cast<long long>(e.frame),
                  e.time);
  }
  char cat[16];
  std::snprintf(cat, sizeof cat, "%-9s", e.category.c_str());
  return std::string(prefix) + " " + cat + " " + e.text;
}

constexpr int kOutputUnusable = 4;

// Where the timeline and summary are printed: standard output, or standard
// error when an output goes to standard output.
std::FILE* g_console = stdout;

using rebound_sim::OutputFile;
using rebound_sim::PathFromUtf8;
using rebound_sim::Utf8FromPath;

std::unique_ptr<OutputFile> OpenOutput(const char* what, const std::string& path) {
  std::string error;
  std::unique_ptr<OutputFile> out = OutputFile::Open(path, error);
  if (!out) std::cerr << "rebound-sim: cannot write the " << what << " to " << error << "\n";
  return out;
}

bool CommitOutput(OutputFile& out) {
  std::string error;
  if (out.Commit(error)) return true;
  std::cerr << "rebound-sim: " << error << "\n";
  return false;
}

// The folder for the pictures, made now, so that a path that cannot be one is
// known before the run.
bool PrepareFramePictureFolder(const std::string& dir) {
  std::error_code ec;
  const std::filesystem::path folder = PathFromUtf8(dir);
  if (std::filesystem::exists(folder, ec) && !std::filesystem::is_directory(folder, ec)) {
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

// One SVG picture per chosen frame of what the game drew in it.
bool WriteFramePictures(const sim::Simulation& simulation, const std::string& dir,
                        const std::optional<sim::FramePick>& chosen, bool quiet) {
  std::string error;
  const sim::FramePick pick =
      chosen ? *chosen : *sim::ParseFramePick(sim::kDefaultFramePick, error);
  const sim::DrawingModel& drawing = simulation.GetWorld().drawing;
  const std::vector<std::int64_t> frames = sim::PickedFrames(pick, simulation.FramesRun(), drawing);
  for (std::int64_t frame : frames) {
    const std::string path = Utf8FromPath(PathFromUtf8(dir) / sim::SvgFileName(frame));
    std::unique_ptr<OutputFile> out = OpenOutput("frame picture", path);
    if (!out) return false;
    sim::WriteFrameSvg(out->Stream(), drawing.Frame(frame), frame);
    if (!CommitOutput(*out)) return false;
  }
  if (!quiet) {
    std::fprintf(g_console, "%zu frame pictures written to %s\n", frames.size(), dir.c_str());
  }
  return true;
}

// Each death the plug-in took over, and what each phase of its flow cost.
void PrintFlowSummary(const sim::Simulation& simulation) {
  const sim::FlowObserver& flow = simulation.Flow();
  const double msPerFrame = 1000.0 / simulation.GetScenario().fps;
  std::fprintf(g_console, "\n");
  int n = 0;
  for (const sim::DeathRecord& d : flow.Deaths()) {
    ++n;
    if (d.respawnFrame < 0) {
      std::fprintf(g_console, "Death %d at frame %lld: not respawned by the end of the run\n", n,
                   static_cast<long long>(d.deathFrame));
      continue;
    }
    const auto frames = d.respawnFrame - d.deathFrame;
    std::fprintf(
        g_console,
        "Death %d at frame %lld: shard at %lld, fade-out at %lld, respawned at %lld "
        "(%lld frames, %.2f s; %d taps), placed %.1f m from the death (%s), heading %.1f\n",
        n, static_cast<long long>(d.deathFrame), static_cast<long long>(d.shardFrame),
        static_cast<long long>(d.fadeOutFrame), static_cast<long long>(d.respawnFrame),
        static_cast<long long>(frames), static_cast<double>(frames) * msPerFrame / 1000.0, d.taps,
        std::hypot(d.spawnPosition[0] - d.deathPosition[0], d.spawnPosition[1] - d.deathPosition[1],
                   d.spawnPosition[2] - d.deathPosition[2]),
        d.searchOutcome.c_str(), d.spawnHeading);
  }
  if (n == 0) std::fprintf(g_console, "No death was taken over by the plug-in.\n");
  if (flow.DeathCount() > flow.Deaths().size()) {
    std::fprintf(g_console, "... and %llu later deaths, not listed\n",
                 static_cast<unsigned long long>(flow.DeathCount() - flow.Deaths().size()));
  }
  std::fprintf(
      g_console,
      "Per frame by phase of the flow: native calls, heap allocations by the plug-in and by the "
      "simulator (average, most in one frame):\n");
  for (std::size_t i = 0; i < sim::kFlowPhaseCount; ++i) {
    const sim::PhaseCost& cost = flow.Costs()[i];
    if (cost.frames == 0) continue;
    const auto average = [&cost](std::uint64_t total) {
      return static_cast<double>(total) / static_cast<double>(cost.frames);
    };
    std::fprintf(
        g_console,
        "  %-11s %8lld frames, calls %6.1f (%u), plug-in allocations %5.2f (%llu), simulator "
        "allocations %6.1f (%llu)\n",
        sim::FlowPhaseName(static_cast<sim::FlowPhase>(i)), static_cast<long long>(cost.frames),
        average(cost.calls), cost.maxCalls, average(cost.pluginAllocations),
        static_cast<unsigned long long>(cost.maxPluginAllocations),
        average(cost.simulatorAllocations),
        static_cast<unsigned long long>(cost.maxSimulatorAllocations));
  }
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
      case sim::Seeding::kNoExport:
        std::fprintf(
            g_console,
            "  seed: none; the plug-in has no seed export (ReboundSetSeedSource), so it draws from "
            "the system's random source\n");
        break;
      case sim::Seeding::kOsRandom:
#if defined(_WIN32)
        std::fprintf(
            g_console,
            "  seed: none; Rebound.asi exports nothing, so it draws from the system's random "
            "source, as with --os-random\n");
#else
        std::fprintf(
            g_console,
            "  seed: none; the plug-in draws from the system's random source (--os-random)\n");
#endif
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

int Run(const Options& o) {
  sim::Scenario scenario;
  try {
    scenario = o.scenario ? sim::Scenario::Load(*o.scenario) : sim::Scenario::Default();
  } catch (const sim::ScenarioError& e) {
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return 2;
  }
  if (o.frames) scenario.frames = *o.frames;

  // Every output is opened before the first frame, so that a path that cannot
  // be written stops the run at once. The trace streams to its file as the
  // run goes: nothing of it is held in memory.
  rebound_sim::RemoveTemporariesOnInterrupt();
  std::unique_ptr<OutputFile> trace;
  std::unique_ptr<OutputFile> report;
  if (o.trace && !(trace = OpenOutput("trace", *o.trace))) return kOutputUnusable;
  if (o.report && !(report = OpenOutput("report", *o.report))) return kOutputUnusable;
  if (o.framesSvg && !PrepareFramePictureFolder(*o.framesSvg)) return kOutputUnusable;
  if ((trace && trace->IsStandardOutput()) || (report && report->IsStandardOutput())) {
    g_console = stderr;
  }

  sim::SimOptions options;
#if !defined(_WIN32)
  // Every run with the plug-in is seeded unless told otherwise, so that any
  // run can be replayed.
  if (!o.osRandom && !o.noPlugin) options.seed = o.seed ? *o.seed : sim::DrawRunSeed() & kMaxSeed;
#endif
  options.recordTrace = false;
  options.traceStream = trace ? &trace->Stream() : nullptr;
  // Draw lists are kept only for the pictures.
  options.keepDrawings = o.framesSvg.has_value() || o.report.has_value();
  sim::Simulation simulation(std::move(scenario), options);
  sim::World& world = simulation.GetWorld();
  // The report gathers what it shows as the run goes; it takes the draw lists
  // for itself unless the frame pictures want them too.
  std::unique_ptr<sim::ReportRecorder> recorder;
  if (report) {
    recorder = std::make_unique<sim::ReportRecorder>(!o.framesSvg.has_value());
    simulation.SetWatcher(recorder.get());
  }
  if (!o.quiet) {
    const sim::Scenario& s = simulation.GetScenario();
    std::fprintf(g_console, "Scenario \"%s\" (%s): %lld frames at %d fps from game time %lld\n",
                 s.name.c_str(), s.fileName.c_str(), static_cast<long long>(s.frames), s.fps,
                 static_cast<long long>(s.startGameTime));
    world.timeline.SetListener([](const sim::TimelineEntry& e) {
      const std::string line = FormatTimelineEntry(e);
      std::fprintf(g_console, "%s\n", line.c_str());
    });
  }

  bool ok = true;
  if (!o.noPlugin) {
    ok = simulation.LoadPlugin(o.plugin ? *o.plugin : DefaultPlugin());
    if (ok && o.seed && simulation.SeedingOutcome() == sim::Seeding::kNoExport) {
      // A replay that cannot be one must not pass for one.
      std::cerr << "rebound-sim: --seed: the plug-in has no seed export (ReboundSetSeedSource), "
                   "so its random helpers cannot be seeded\n";
      if (trace) trace->Abandon();
      if (report) report->Abandon();
      return 1;
    }
  } else {
    world.Note("host", "running without the plug-in");
  }
  if (ok) ok = simulation.Run();
  const bool faultedBeforeUnload = simulation.Faulted();
  if (simulation.PluginLoaded()) simulation.UnloadPlugin();
  ok = ok && !faultedBeforeUnload && !simulation.Faulted();

  // The trace of a run that stopped at a fault is kept: it shows the fault.
  if (trace && !CommitOutput(*trace)) return kOutputUnusable;

  if (o.framesSvg && !WriteFramePictures(simulation, *o.framesSvg, o.svgFrames, o.quiet)) {
    return kOutputUnusable;
  }

  if (report) {
    const auto picture = [](const sim::FrameDrawing* drawing, std::int64_t frame, float fade) {
      std::ostringstream svg;
      sim::WriteFrameSvg(svg, drawing, frame);
      return sim::WithScreenFade(svg.str(), fade);
    };
    sim::WriteHtmlReport(report->Stream(), simulation, *recorder, picture);
    if (!CommitOutput(*report)) return kOutputUnusable;
  }

  const sim::RunSummary s = simulation.Summary();
  if (!o.quiet) PrintFlowSummary(simulation);
  if (!o.quiet) {
    std::fprintf(
        g_console,
        "\nSummary: %lld frames, %.3f s of game time, %llu native calls "
        "(%.1f per frame on average, at most %llu in one frame)\n",
        static_cast<long long>(s.frames), static_cast<double>(s.gameTimeMs) / 1000.0,
        static_cast<unsigned long long>(s.nativeCalls),
        s.frames > 0 ? static_cast<double>(s.nativeCalls) / static_cast<double>(s.frames) : 0.0,
        static_cast<unsigned long long>(s.maxCallsInFrame));
    PrintSeedAndStack(s, o);
    if (o.trace) std::fprintf(g_console, "Trace written to %s\n", o.trace->c_str());
    if (o.report) std::fprintf(g_console, "Report written to %s\n", o.report->c_str());
  }
  if (!ok) {
    std::cerr << "rebound-sim: run stopped: " << simulation.Fault() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseArgs(argc, argv);
  if (o.command == "natives") return ListNatives(o.json);
  if (o.command == "schema") {
    const std::string_view schema = sim::Scenario::Schema();
    std::fwrite(schema.data(), 1, schema.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  try {
    return Run(o);
  } catch (const sim::HandlerTableError& e) {
    // A mistake in the simulator itself: it cannot answer the natives it lists.
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return 3;
  }
}
