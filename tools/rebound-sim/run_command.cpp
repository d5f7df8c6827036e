// `rebound-sim run` (also the command when none is named): runs a scenario
// with the plug-in loaded, shows the respawn flow as it goes, and writes the
// trace, the frame pictures and the report it was asked for.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "sim/base/number_format.h"
#include "sim/base/seed.h"
#include "sim/host/catalogue_natives.h"
#include "sim/host/simulation.h"
#include "sim/host/unknown_natives.h"
#include "sim/report/expectations.h"
#include "sim/report/junit.h"
#include "sim/report/report.h"
#include "sim/report/report_collector.h"
#include "sim/report/svg.h"
#include "tools/rebound-sim/commands.h"
#include "tools/rebound-sim/console.h"
#include "tools/rebound-sim/frame_pictures.h"
#include "tools/rebound-sim/output_file.h"
#include "tools/rebound-sim/platform.h"
#include "tools/rebound-sim/recording_input.h"
#include "tools/rebound-sim/run_options.h"

namespace rebound_sim {

// What follows the command list in rebound-sim --help.
constexpr std::string_view kRunUsage = R"(Run options:
  --scenario FILE   the scenario to run (JSON); default: the built-in scenario
  --plugin PATH     the plug-in module to load; default: the one built next
                    to rebound-sim (librebound.so; Rebound.asi on Windows).
                    May repeat: the modules load in the order given, and
                    their scripts run in that order each frame. A folder
                    loads every *.asi file in it (on Linux also *.so) in
                    file-name order, as the game's ASI loader does
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
  --junit FILE      write the run's verdict as JUnit XML for a build server:
                    a test case for the run (failed when the host refused a
                    call or a script crashed) and one per expectation of the
                    scenario ("expect"); "-" for standard output
  --seed N          seed the plug-in's random helpers from N (0 to 2^53-1):
                    the run, its trace included, is then the same every time
  --os-random       leave the plug-in's random helpers on the system's random
                    source, as in the game (no seed, no seed line in the trace)
  --draws-from RECORDING
                    hand the plug-in's random helpers the random values drawn
                    in a recording (or a seeded trace), in order, instead of a
                    seed: a scenario made by scenario-from then plays as
                    recorded; drawing more than it holds stops the run
  --natives FILE    your own copy of the community's natives catalogue (JSON;
                    none is shipped): a native the game's table lacks but the
                    catalogue lists is answered with its result's default (0,
                    false, 0.0, a zero vector, an empty text) instead of
                    stopping the run; the summary counts those calls and warns
                    of a call whose argument count the catalogue does not give;
                    a catalogue with a mistake stops the run before it starts,
                    naming its file, line and field (status 2)
  --unknown-natives refuse|zero
                    what becomes of a call of a hash that neither the game's
                    table nor the --natives catalogue knows. refuse (the
                    default) stops the run there (status 1), as the real host
                    does: in the game the plug-in would stop at that call.
                    zero answers it 0 (the result zeroed, nothing else
                    written) and goes on; the trace marks the call "unknown",
                    the timeline warns once per hash, and the summary counts
                    the calls and names the first hashes with the frame each
                    was first called in
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
A script that crashes (an access violation, an abort, an exception escaping
it) ends the run at once, naming the frame, the plug-in's file and the last
native it called (status 6). A run that ends normally but misses one of the
scenario's expected calls names each one missed (status 5).
Exit status: 0 the run ended normally, 1 refused by the host or game, 2 a
mistake in the command line or scenario, 3 the simulator's own table mistake,
4 an output that cannot be written or a plug-in that cannot be loaded, 5 the
scenario's expectations not met, 6 the plug-in crashed.
)";

static_assert(StatusCode(ExitStatus::PluginCrashed) == sim::kCrashExitStatus,
              "the simulator ends a crashed run's report with rebound-sim's status for a crash");

namespace {

// Where the timeline and summary are printed: standard output, or standard
// error when an output goes to standard output.
std::FILE* g_console = stdout;

// Where the plug-in's random numbers came from, and how deep its fibre went.
void PrintSeedAndStack(const sim::RunSummary& s, const RunOptions& o) {
  if (!o.noPlugin) {
    switch (s.seeding) {
      case sim::Seeding::Seeded:
        std::fprintf(g_console, "  seed: %llu (%s; --seed %llu replays this run)\n",
                     static_cast<unsigned long long>(s.seed), o.seed ? "given" : "drawn",
                     static_cast<unsigned long long>(s.seed));
        break;
      case sim::Seeding::RecordedDraws:
        std::fprintf(g_console, "  random draws: those of %s, in order (--draws-from)\n",
                     o.drawsFrom->c_str());
        break;
      case sim::Seeding::NoExport:
        std::fprintf(
            g_console,
            "  seed: none; the plug-in has no seed export (ReboundSetSeedSource), so it draws from "
            "the system's random source\n");
        break;
      case sim::Seeding::OsRandom:
        std::fprintf(g_console, "%s",
                     platform::PluginCanBeSeeded()
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
bool RunWithProgress(sim::Simulation& simulation, ProgressLine* progress) {
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

// Where the natives the game's table lacks are answered: the user's
// catalogue, and the record of the hashes no table knows that are answered 0.
// Null for what the options do not ask for.
struct OtherNatives {
  std::unique_ptr<sim::CatalogueNatives> catalogue;
  std::unique_ptr<sim::UnknownNatives> unknown;
};

// The user's catalogue the options name, if any; none, after saying why, when
// it cannot be read or has a mistake.
bool ReadCatalogue(const RunOptions& o, std::unique_ptr<sim::CatalogueNatives>& catalogue) {
  if (!o.natives) return true;
  try {
    catalogue = std::make_unique<sim::CatalogueNatives>(sim::ReadNativesCatalogue(*o.natives));
  } catch (const sim::NativesCatalogueError& e) {
    std::cerr << "rebound-sim: --natives: " << e.what() << "\n";
    return false;
  }
  return true;
}

// The scenario's answers for natives of the user's catalogue, read against
// it; false, after saying why, when one names a native neither the game nor
// the catalogue lists, or does not fit its signature.
bool ReadCatalogueAnswers(sim::Scenario& scenario, const sim::CatalogueNatives* catalogue) {
  try {
    sim::ResolveCatalogueAnswers(scenario.answers, scenario.catalogueAnswers, catalogue);
  } catch (const sim::ScenarioError& e) {
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return false;
  }
  return true;
}

// The catalogue and the record of unknown hashes the options ask for, with
// the scenario's answers read against the catalogue; false, after saying why,
// when either has a mistake.
bool ReadOtherNatives(const RunOptions& o, sim::Scenario& scenario, OtherNatives& other) {
  if (!ReadCatalogue(o, other.catalogue)) return false;
  if (!ReadCatalogueAnswers(scenario, other.catalogue.get())) return false;
  if (o.zeroUnknownNatives.value_or(false)) other.unknown = std::make_unique<sim::UnknownNatives>();
  return true;
}

// The calls the user's catalogue answered, and each native whose calls its
// signature does not fit.
void PrintCatalogueCalls(const sim::CatalogueNatives& catalogue) {
  std::fprintf(
      g_console, "  %s to natives answered by default from %s\n",
      sim::CountOf(static_cast<long long>(catalogue.AnsweredCalls()), "call", "calls").c_str(),
      catalogue.FileName().c_str());
  for (const sim::CatalogueNatives::CountMismatch& m : catalogue.Mismatches()) {
    std::fprintf(g_console,
                 "  warning: %s called with %s, the catalogue gives it %zu: %s, the first in "
                 "frame %lld\n",
                 sim::ReadableNativeName(*m.native).c_str(), sim::ArgumentCount(m.pushed).c_str(),
                 m.native->args.size(),
                 sim::CountOf(static_cast<long long>(m.calls), "call", "calls").c_str(),
                 static_cast<long long>(m.firstFrame));
  }
}

// The calls of hashes no table knows, answered 0 (--unknown-natives zero).
void PrintUnknownNatives(const sim::UnknownNatives& unknown) {
  // The hashes named; the timeline has warned of every one.
  constexpr std::size_t kListed = 5;
  std::fprintf(g_console, "  %s%s\n", unknown.Calls() > 0 ? "warning: " : "",
               sim::DescribeUnknownNatives(unknown, kListed).c_str());
}

// The counter of the scenario's expected calls, or none when it has none;
// false, after saying why, when one names a native neither the game nor the
// user's catalogue knows.
bool CountExpectations(const sim::Scenario& scenario, const sim::CatalogueNatives* catalogue,
                       std::unique_ptr<sim::ExpectationCounter>& counter) {
  if (scenario.expectations.empty()) return true;
  try {
    counter = std::make_unique<sim::ExpectationCounter>(scenario.expectations, catalogue);
  } catch (const sim::ScenarioError& e) {
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return false;
  }
  return true;
}

// Each expectation the run did not meet on standard error, where a failed
// check is looked for, and how many were met with the summary.
bool ReportExpectations(const sim::ExpectationCounter& counter, const RunOptions& o) {
  const std::vector<sim::ExpectationResult> results = counter.Results();
  const auto met = std::count_if(results.begin(), results.end(),
                                 [](const sim::ExpectationResult& r) { return r.met; });
  for (const sim::ExpectationResult& r : results) {
    if (!r.met) std::cerr << "rebound-sim: expectation not met: " << DescribeExpectation(r) << "\n";
  }
  if (o.verbosity >= Verbosity::Summary) {
    std::fprintf(g_console, "  expectations: %lld of %zu met\n", static_cast<long long>(met),
                 results.size());
  }
  return met == static_cast<long long>(results.size());
}

// The scenario the options name, with their frame count; none, after saying
// why, when it has a mistake.
std::optional<sim::Scenario> ScenarioToRun(const RunOptions& o) {
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
  std::unique_ptr<OutputFile> junit;
  std::optional<std::filesystem::path> madeFolder;  // the --frames-svg folder, made by this run

  RunOutputs() = default;
  RunOutputs(const RunOutputs&) = delete;
  RunOutputs& operator=(const RunOutputs&) = delete;
  ~RunOutputs() {
    if (trace) trace->Abandon();
    if (report) report->Abandon();
    if (junit) junit->Abandon();
    std::error_code ec;
    if (madeFolder && std::filesystem::is_empty(*madeFolder, ec)) {
      std::filesystem::remove(*madeFolder, ec);
    }
  }
};

// Every output is opened before the first frame, so that a path that cannot
// be written stops the run at once. The trace streams to its file as the run
// goes: nothing of it is held in memory.
bool OpenOutputs(const RunOptions& o, RunOutputs& outputs) {
  if (o.trace && !(outputs.trace = OpenOutput("trace", *o.trace))) return false;
  if (o.report && !(outputs.report = OpenOutput("report", *o.report))) return false;
  if (o.junit && !(outputs.junit = OpenOutput("JUnit file", *o.junit))) return false;
  bool made = false;
  if (o.framesSvg && !PrepareFramePictureFolder(*o.framesSvg, &made)) return false;
  if (made) outputs.madeFolder = PathFromUtf8(*o.framesSvg);
  if ((outputs.trace && outputs.trace->IsStandardOutput()) ||
      (outputs.report && outputs.report->IsStandardOutput()) ||
      (outputs.junit && outputs.junit->IsStandardOutput())) {
    g_console = stderr;
  }
  return true;
}

sim::SimOptions SimulationOptions(const RunOptions& o, const RunOutputs& outputs,
                                  const OtherNatives& other) {
  sim::SimOptions options;
  // Every run with the plug-in is seeded unless told otherwise, so that any
  // run can be replayed.
  if (platform::PluginCanBeSeeded() && !o.osRandom && !o.noPlugin && !o.drawsFrom) {
    options.seed = o.seed ? *o.seed : sim::DrawRunSeed() & kMaxSeed;
  }
  options.labelEveryLine = o.plugins.size() > 1;
  options.recordTrace = false;
  options.traceStream = outputs.trace ? &outputs.trace->Stream() : nullptr;
  // Draw lists are kept only for the pictures.
  options.keepDrawings = o.framesSvg.has_value() || o.report.has_value();
  options.catalogue = other.catalogue.get();
  options.unknownNatives = other.unknown.get();
  return options;
}

std::unique_ptr<ProgressLine> ProgressLineFor(const RunOptions& o,
                                              const sim::Simulation& simulation) {
  if (o.verbosity == Verbosity::Quiet || !ProgressLine::WantedOnStandardError()) {
    return nullptr;
  }
  return std::make_unique<ProgressLine>(stderr, simulation.GetScenario().frames,
                                        ProgressLine::DelayFromEnvironment(stderr));
}

// Each module in turn; the first that fails stops the loading, and those
// loaded before it are unloaded by the caller. `notLoaded` says that a module
// could not be loaded at all (rather than faulted at attach).
bool LoadPlugins(sim::Simulation& simulation, const RunOptions& o, bool& notLoaded) {
  const std::vector<std::string> plugins =
      o.plugins.empty() ? std::vector<std::string>{DefaultPlugin()} : o.plugins;
  for (const std::string& plugin : plugins) {
    const std::size_t before = simulation.PluginsLoaded();
    if (!simulation.LoadPlugin(plugin)) {
      notLoaded = simulation.PluginsLoaded() == before;
      return false;
    }
  }
  return true;
}

// The plug-ins the run loads, as the verdict names them.
std::string PluginsNamed(const RunOptions& o) {
  if (o.noPlugin) return "(none)";
  if (o.plugins.empty()) return DefaultPlugin();
  std::string names;
  for (const std::string& plugin : o.plugins) names += (names.empty() ? "" : ", ") + plugin;
  return names;
}

enum class RunOutcome {
  Ran,      // to the end of its frames, or to the host's unload
  Faulted,  // stopped where the host or the game refused a call
  NoRun,    // the plug-in cannot be loaded, or not as asked
};

// Loads the plug-in (unless told not to) and runs the frames.
RunOutcome LoadAndRun(sim::Simulation& simulation, const RunOptions& o, ProgressLine* progress) {
  bool ok = true;
  if (!o.noPlugin) {
    bool notLoaded = false;
    ok = LoadPlugins(simulation, o, notLoaded);
    // A module the loader leaves unloaded (missing, not a module, no entry,
    // an entry that refuses attach) gives no run to show; those loaded
    // before it are let go.
    if (!ok && notLoaded) {
      std::cerr << "rebound-sim: " << simulation.Fault() << "\n";
      if (simulation.PluginLoaded()) simulation.UnloadPlugin();
      return RunOutcome::NoRun;
    }
    if (ok && (o.seed || o.drawsFrom) && simulation.SeedingOutcome() == sim::Seeding::NoExport) {
      // A replay that cannot be one must not pass for one.
      std::cerr << "rebound-sim: " << (o.seed ? "--seed" : "--draws-from")
                << ": the plug-in has no seed export (ReboundSetSeedSource), so its random "
                   "helpers cannot be "
                << (o.seed ? "seeded" : "handed the draws") << "\n";
      simulation.UnloadPlugin();
      return RunOutcome::NoRun;
    }
  } else {
    simulation.GetWorld().Note("host", "running without the plug-in");
  }
  if (ok) ok = RunWithProgress(simulation, progress);
  const bool faultedBeforeUnload = simulation.Faulted();
  if (simulation.PluginLoaded()) simulation.UnloadPlugin();
  return ok && !faultedBeforeUnload && !simulation.Faulted() ? RunOutcome::Ran
                                                             : RunOutcome::Faulted;
}

// The trace, the frame pictures and the report, each put in place; false when
// one cannot be.
bool WriteOutputs(const sim::Simulation& simulation, const RunOptions& o, RunOutputs& outputs,
                  const sim::ReportCollector* collector, const sim::JUnitRun& verdict) {
  // The trace of a run that stopped at a fault is kept: it shows the fault.
  if (outputs.report) {
    sim::WriteHtmlReport(outputs.report->Stream(), simulation, *collector, &sim::FrameSvgText);
  }
  if (outputs.junit) sim::WriteJUnit(outputs.junit->Stream(), verdict);
  // Each is whole before any replaces a file: one that fails leaves the
  // others' files as they were.
  if (outputs.trace && !FinishOutput(*outputs.trace)) return false;
  if (outputs.report && !FinishOutput(*outputs.report)) return false;
  if (outputs.junit && !FinishOutput(*outputs.junit)) return false;
  if (o.framesSvg && !WriteFramePictures(simulation, *o.framesSvg, o.svgFrames, o.svgDebug,
                                         o.verbosity >= Verbosity::Flow ? g_console : nullptr))
    return false;
  outputs.madeFolder.reset();  // the pictures' folder stays, pictured or not
  if (outputs.trace && !CommitOutput(*outputs.trace)) return false;
  if (outputs.junit && !CommitOutput(*outputs.junit)) return false;
  return !outputs.report || CommitOutput(*outputs.report);
}

// What the JUnit file says of the run.
sim::JUnitRun VerdictOf(const sim::Simulation& simulation, const RunOptions& o,
                        const sim::ExpectationCounter* expectations, double seconds) {
  sim::JUnitRun verdict;
  verdict.scenario = simulation.GetScenario().name;
  verdict.scenarioFile = simulation.GetScenario().fileName;
  verdict.plugin = PluginsNamed(o);
  verdict.frames = simulation.FramesRun();
  verdict.seconds = seconds;
  if (simulation.SeedingOutcome() == sim::Seeding::Seeded) verdict.seed = simulation.Summary().seed;
  if (simulation.Faulted()) verdict.stop = simulation.Fault();
  verdict.crashed = simulation.Crashed();
  if (expectations != nullptr) verdict.expectations = expectations->Results();
  return verdict;
}

// The host's services a plug-in used, when it used any: the scripts' global
// slots at the end (each a signed 64-bit value) and the textures it created.
void PrintServices(const sim::RunSummary& s) {
  if (!s.globals.empty()) {
    std::string slots;
    for (const auto& [id, value] : s.globals) {
      slots += (slots.empty() ? "" : ", ") + std::to_string(id) + " = " + std::to_string(value);
    }
    std::fprintf(g_console, "  script globals at the end: %s\n", slots.c_str());
  }
  if (s.texturesCreated > 0) {
    std::fprintf(
        g_console, "  %s created\n",
        sim::CountOf(static_cast<long long>(s.texturesCreated), "texture", "textures").c_str());
  }
}

// The deaths, the cost of each phase of the flow and the run's figures.
void PrintSummary(const sim::Simulation& simulation, const RunOptions& o,
                  const sim::CatalogueNatives* catalogue, const sim::UnknownNatives* unknown) {
  const sim::RunSummary s = simulation.Summary();
  // The deaths the default output lists; --summary is for the long list.
  constexpr std::size_t kDeathsListed = 10;
  std::fprintf(g_console, "\n");
  PrintDeaths(g_console, simulation,
              o.verbosity == Verbosity::Summary ? sim::FlowObserver::kKeptDeaths : kDeathsListed);
  PrintPhaseCosts(g_console, simulation);
  std::fprintf(
      g_console,
      "\nSummary: %s of \"%s\", %.3f s of game time, %s "
      "(%.1f per frame on average, at most %llu in one frame)\n",
      sim::CountOf(s.frames, "frame", "frames").c_str(), simulation.GetScenario().name.c_str(),
      static_cast<double>(s.gameTimeMs) / 1000.0,
      sim::CountOf(static_cast<long long>(s.nativeCalls), "native call", "native calls").c_str(),
      s.frames > 0 ? static_cast<double>(s.nativeCalls) / static_cast<double>(s.frames) : 0.0,
      static_cast<unsigned long long>(s.maxCallsInFrame));
  for (const sim::PluginFigures& plugin : s.plugins) {
    std::fprintf(
        g_console, "  %s: %s\n", plugin.file.c_str(),
        sim::CountOf(static_cast<long long>(plugin.nativeCalls), "native call", "native calls")
            .c_str());
  }
  PrintSeedAndStack(s, o);
  if (catalogue != nullptr) PrintCatalogueCalls(*catalogue);
  if (unknown != nullptr) PrintUnknownNatives(*unknown);
  PrintServices(s);
  if (s.searchesMiscounted > 0) {
    std::fprintf(g_console,
                 "  the scenario contradicted itself: %s reported more results "
                 "than held, and the plug-in asked for one past them (--timeline shows where)\n",
                 sim::CountOf(s.searchesMiscounted, "spawn search", "spawn searches").c_str());
  }
  if (o.trace) std::fprintf(g_console, "Trace written to %s\n", o.trace->c_str());
  if (o.report) std::fprintf(g_console, "Report written to %s\n", o.report->c_str());
}

// Watched only when someone reads the calls: a run without a report or
// expectations keeps the quick call path.
void Watch(sim::Simulation& simulation, sim::ReportCollector* collector,
           sim::ExpectationCounter* expectations, sim::RunWatchers& both) {
  if (collector != nullptr && expectations != nullptr) {
    simulation.SetWatcher(&both);
  } else if (collector != nullptr) {
    simulation.SetWatcher(collector);
  } else if (expectations != nullptr) {
    simulation.SetWatcher(expectations);
  }
}

ExitStatus Run(const RunOptions& o) {
  std::optional<sim::Scenario> scenario = ScenarioToRun(o);
  if (!scenario) return ExitStatus::BadInput;
  // A recording's draws, read before any output is opened.
  sim::SimOptions recorded;
  if (o.drawsFrom && !RecordedDraws(*o.drawsFrom, recorded)) return ExitStatus::BadInput;
  OtherNatives other;
  if (!ReadOtherNatives(o, *scenario, other)) return ExitStatus::BadInput;
  std::unique_ptr<sim::ExpectationCounter> expectations;
  if (!CountExpectations(*scenario, other.catalogue.get(), expectations)) {
    return ExitStatus::BadInput;
  }
  RemoveTemporariesOnInterrupt();
  RunOutputs outputs;
  if (!OpenOutputs(o, outputs)) return ExitStatus::UnusableFile;
  sim::SimOptions options = SimulationOptions(o, outputs, other);
  options.draws = std::move(recorded.draws);
  if (recorded.seed) options.seed = recorded.seed;
  sim::Simulation simulation(std::move(*scenario), std::move(options));
  sim::World& world = simulation.GetWorld();

  // The report gathers what it shows as the run goes; it takes the draw lists
  // for itself unless the frame pictures want them too.
  std::unique_ptr<sim::ReportCollector> collector;
  if (outputs.report) {
    collector = std::make_unique<sim::ReportCollector>(!o.framesSvg.has_value());
  }
  sim::RunWatchers watchers({collector.get(), expectations.get()});
  Watch(simulation, collector.get(), expectations.get(), watchers);
  std::unique_ptr<ProgressLine> progress = ProgressLineFor(o, simulation);
  TimelinePrinter timeline(g_console, o.verbosity, !o.noPlugin);
  if (o.verbosity >= Verbosity::Flow) {
    std::fprintf(g_console, "%s\n", RunHeading(simulation.GetScenario()).c_str());
    world.timeline.SetListener([&timeline, &progress](const sim::TimelineEntry& e) {
      // A line printed over the progress line would run into it.
      if (progress) progress->Clear();
      timeline.Print(e);
    });
  }

  const auto started = std::chrono::steady_clock::now();
  const RunOutcome ran = LoadAndRun(simulation, o, progress.get());
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  world.timeline.SetListener(nullptr);
  if (ran == RunOutcome::NoRun) return ExitStatus::UnusableFile;
  if (o.verbosity >= Verbosity::Flow) timeline.PrintHeldBack();
  if (!WriteOutputs(simulation, o, outputs, collector.get(),
                    VerdictOf(simulation, o, expectations.get(), took.count()))) {
    return ExitStatus::UnusableFile;
  }
  if (o.verbosity >= Verbosity::Summary)
    PrintSummary(simulation, o, other.catalogue.get(), other.unknown.get());
  // Judged on a stopped run too, as far as it went; the stop is the verdict.
  const bool allMet = !expectations || ReportExpectations(*expectations, o);
  if (ran == RunOutcome::Faulted) {
    std::cerr << "rebound-sim: run stopped: " << simulation.Fault() << "\n";
    return simulation.Crashed() ? ExitStatus::PluginCrashed : ExitStatus::Refused;
  }
  return allMet ? ExitStatus::Success : ExitStatus::ExpectationsNotMet;
}

}  // namespace

ExitStatus RunCommand(ArgumentReader& args) {
  const std::optional<RunOptions> options = ReadRunOptions(args);
  return options ? Run(*options) : ExitStatus::Success;
}

}  // namespace rebound_sim
