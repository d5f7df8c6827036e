// What the seam to the host costs: one native call through the call layer and
// the simulated host, one idle frame of the plug-in's script loop (resume the
// fibre, tick, wait) and one whole death cycle of the plug-in loaded as the
// host loads it. Prints Google Benchmark's table and then the ratios between
// figures measured in this same run (times of separate runs do not compare on
// a shared machine; their ratios mostly do).
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/host_api.h"
#include "src/host/natives.h"
#include "src/host/script_main.h"

namespace {

// Set when a simulation stops on a fault, so that the program exits non-zero:
// a benchmark of a faulted run measures nothing.
bool anyFault = false;

void StopOnFault(benchmark::State& state, const sim::Simulation& simulation) {
  anyFault = true;
  const std::string why = "the simulation stopped: " + simulation.Fault();
  state.SkipWithError(why.c_str());
}

sim::Scenario IdleScenario() {
  // An alive player and no events: every frame is an idle frame.
  return sim::Scenario::Parse("bench.json", R"({"name": "idle", "frames": 1})");
}

// ---- One native call --------------------------------------------------------
// The script calls PLAYER_PED_ID callsPerFrame times and then waits for the
// next frame; one benchmark iteration is one such frame, and the per-call
// figure divides by the calls made.

void RunNativeCalls(benchmark::State& state, bool recordTrace) {
  const auto callsPerFrame = static_cast<std::int32_t>(state.range(0));
  sim::Simulation simulation(IdleScenario(), sim::SimOptions{.recordTrace = recordTrace});
  simulation.SetScript([callsPerFrame] {
    for (;;) {
      for (std::int32_t i = 0; i < callsPerFrame; ++i) {
        benchmark::DoNotOptimize(rebound::natives::PLAYER_PED_ID());
      }
      scriptWait(0);
    }
  });
  for (auto _ : state) {
    if (!simulation.RunFrames(1)) break;
    // Emptying the trace every frame keeps memory flat over millions of
    // calls; freeing an entry is part of what recording one costs.
    if (recordTrace) simulation.GetTrace().Clear();
  }
  if (simulation.Faulted()) return StopOnFault(state, simulation);
  if (simulation.CallsInLastFrame() != static_cast<std::uint32_t>(callsPerFrame)) {
    anyFault = true;
    state.SkipWithError("the frame did not make the expected number of native calls");
    return;
  }
  state.SetItemsProcessed(state.iterations() * callsPerFrame);
  state.counters["per_call"] = benchmark::Counter(
      callsPerFrame, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_NativeCall(benchmark::State& state) { RunNativeCalls(state, false); }
void BM_NativeCallRecordingTrace(benchmark::State& state) { RunNativeCalls(state, true); }

BENCHMARK(BM_NativeCall)->ArgName("calls_per_frame")->Arg(1)->Arg(1000);
BENCHMARK(BM_NativeCallRecordingTrace)->ArgName("calls_per_frame")->Arg(1)->Arg(1000);

// ---- One idle frame ---------------------------------------------------------
// The real script loop, once linked in as the script and once inside the built
// plug-in module loaded as the host loads it. The start-up frame is run before
// timing; each iteration is then one frame of an alive player.

void MeasureIdleFrames(benchmark::State& state, sim::Simulation& simulation) {
  if (!simulation.RunFrames(1)) return StopOnFault(state, simulation);  // the start-up frame
  std::uint64_t idleCalls = 0;
  std::int64_t idleFrames = 0;
  for (auto _ : state) {
    if (!simulation.RunFrames(1)) break;
    idleCalls += simulation.CallsInLastFrame();
    ++idleFrames;
  }
  if (simulation.Faulted()) return StopOnFault(state, simulation);

  state.counters["natives_per_frame"] =
      idleFrames > 0 ? static_cast<double>(idleCalls) / static_cast<double>(idleFrames) : 0.0;
}

void BM_IdleFrame(benchmark::State& state) {
  sim::Simulation simulation(IdleScenario(), sim::SimOptions{.recordTrace = false});
  simulation.SetScript([] { rebound::ScriptMain(); });
  MeasureIdleFrames(state, simulation);
}

void BM_IdleFrameLoadedModule(benchmark::State& state) {
  sim::Simulation simulation(IdleScenario(), sim::SimOptions{.recordTrace = false});
  if (!simulation.LoadPlugin(REBOUND_PLUGIN_PATH)) return StopOnFault(state, simulation);
  MeasureIdleFrames(state, simulation);
  simulation.UnloadPlugin();
  if (simulation.Faulted()) StopOnFault(state, simulation);
}

BENCHMARK(BM_IdleFrame);
BENCHMARK(BM_IdleFrameLoadedModule);

// ---- The floor: a bare indirect call ----------------------------------------
// What calling a game function through a pointer costs with nothing in
// between: the least a native call could cost.

__attribute__((noinline)) std::int32_t BareNative() { return 1; }

void BM_BareIndirectCall(benchmark::State& state) {
  std::int32_t (*volatile target)() = &BareNative;
  for (auto _ : state) benchmark::DoNotOptimize(target());
}
BENCHMARK(BM_BareIndirectCall);

// ---- A whole death cycle ------------------------------------------------------
// The plain death: the plug-in loaded, the player dies, the bar fills, the
// player comes back. One iteration is the cycle from the frame of the death to
// the frame of the respawn, in a fresh simulation (set up untimed); the time
// of each phase of the flow is taken too, for frames per second by phase.

sim::Scenario DeathScenario() {
  return sim::Scenario::Parse("bench-death.json", R"({
    "name": "bench death", "frames": 2000,
    "player": {"position": [215.0, -810.0, 30.7]},
    "world": {"spawnSearch": {"frames": 8, "outcome": "complete",
                              "results": [[290.0, -760.0, 29.5]]}},
    "events": [{"frame": 60, "health": 0}]})");
}

// The frames at which each phase of the cycle begins, and the respawn, from
// one run with the flow followed (which needs the trace).
struct CycleShape {
  std::array<std::int64_t, 5> starts{};  // DeathPause .. Respawning, then the respawn
  std::uint64_t callsBefore = 0;         // native calls before the death
  bool ok = false;
};

CycleShape MeasureCycleShape() {
  CycleShape shape;
  sim::Simulation simulation(DeathScenario(), sim::SimOptions{.recordTrace = true});
  if (!simulation.LoadPlugin(REBOUND_PLUGIN_PATH) || !simulation.Run()) return shape;
  simulation.UnloadPlugin();
  const auto& deaths = simulation.Flow().Deaths();
  if (deaths.size() != 1 || deaths[0].respawnFrame < 0) return shape;
  const auto& costs = simulation.Flow().Costs();
  shape.starts[0] = deaths[0].deathFrame;
  for (std::size_t p = 1; p < 5; ++p) {
    shape.starts[p] = shape.starts[p - 1] + costs[p].frames;  // phases 1..4 in order
  }
  shape.ok = shape.starts[4] == deaths[0].respawnFrame;
  return shape;
}

// The CPU time of this thread, which the phases of a cycle are measured in.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void BM_DeathCycle(benchmark::State& state) {
  static const CycleShape shape = MeasureCycleShape();
  if (!shape.ok) {
    anyFault = true;
    state.SkipWithError("the death scenario did not make one whole death cycle");
    return;
  }
  std::array<double, 4> phaseSeconds{};
  std::uint64_t cycleCalls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sim::Simulation simulation(DeathScenario(),
                               sim::SimOptions{.recordTrace = false, .keepDrawings = false});
    if (!simulation.LoadPlugin(REBOUND_PLUGIN_PATH) || !simulation.RunFrames(shape.starts[0])) {
      state.ResumeTiming();
      return StopOnFault(state, simulation);
    }
    const std::uint64_t before = simulation.Summary().nativeCalls;
    state.ResumeTiming();
    for (std::size_t p = 0; p < 4; ++p) {
      const double start = ThreadCpuSeconds();
      simulation.RunFrames(shape.starts[p + 1] - shape.starts[p]);
      phaseSeconds[p] += ThreadCpuSeconds() - start;
    }
    state.PauseTiming();
    if (simulation.Faulted()) {
      state.ResumeTiming();
      return StopOnFault(state, simulation);
    }
    cycleCalls = simulation.Summary().nativeCalls - before;
    simulation.UnloadPlugin();
    state.ResumeTiming();
  }
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["frames"] = static_cast<double>(shape.starts[4] - shape.starts[0]);
  state.counters["calls"] = static_cast<double>(cycleCalls);
  for (std::size_t p = 0; p < 4; ++p) {
    const auto frames = static_cast<double>(shape.starts[p + 1] - shape.starts[p]);
    state.counters[std::string("fps_") + sim::FlowPhaseName(static_cast<sim::FlowPhase>(p + 1))] =
        phaseSeconds[p] > 0 ? frames * iterations / phaseSeconds[p] : 0.0;
  }
}
// A fixed number of cycles: each abandons its suspended script fibre with its
// stack, which the simulator keeps for the rest of the process.
BENCHMARK(BM_DeathCycle)->Unit(benchmark::kMillisecond)->Iterations(30);

// ---- The closing table ---------------------------------------------------------
// Google Benchmark's own table, then the ratios of this run's figures.

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only for a terminal, as Google Benchmark's own table does.
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.iterations <= 0) continue;
      Figures& f = figures_[run.benchmark_name()];
      // CPU time: on a shared machine the wall clock also counts the time the
      // run waited for a core.
      f.seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
      for (const auto& [name, counter] : run.counters) f.counters[name] = counter.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    const Figures* bare = Find("BM_BareIndirectCall");
    const Figures* call = Find("BM_NativeCall/calls_per_frame:1000");
    std::printf("\nRatios of this run (CPU time, trace off):\n");
    const Figures* idle = Find("BM_IdleFrameLoadedModule");
    const Figures* cycle = Find("BM_DeathCycle");
    double perCall = 0.0;
    if (call != nullptr) {
      perCall = call->seconds / 1000.0;
      std::printf("  one native call through the simulator        %9.1f ns", perCall * 1e9);
      if (bare != nullptr && bare->seconds > 0) {
        std::printf("  = %6.1f x a bare indirect call (%.2f ns)", perCall / bare->seconds,
                    bare->seconds * 1e9);
      }
      std::printf("\n");
    }
    if (idle != nullptr && perCall > 0) {
      std::printf(
          "  one idle frame of the loaded plug-in         %9.1f ns  = %6.1f x two native "
          "calls\n",
          idle->seconds * 1e9, idle->seconds / (2 * perCall));
      std::printf("  idle frames per second                       %9.0f\n", 1.0 / idle->seconds);
    }
    if (cycle != nullptr) {
      const double frames = Counter(*cycle, "frames");
      const double calls = Counter(*cycle, "calls");
      std::printf(
          "  one whole death cycle                        %9.3f ms  (%.0f frames, %.0f "
          "native calls, %.1f ns a call",
          cycle->seconds * 1e3, frames, calls, calls > 0 ? cycle->seconds / calls * 1e9 : 0);
      if (perCall > 0 && calls > 0) {
        std::printf(" = %.1f x the simplest native call through the simulator",
                    cycle->seconds / calls / perCall);
      }
      std::printf(")\n  frames per second by phase:");
      for (const auto& [name, value] : cycle->counters) {
        if (name.rfind("fps_", 0) == 0) std::printf(" %s %.0f", name.c_str() + 4, value);
      }
      std::printf("\n");
    }
  }

 private:
  struct Figures {
    double seconds = 0.0;  // per iteration
    std::map<std::string, double> counters;
  };
  // The run of that name, or of that name with arguments ("NAME/...").
  const Figures* Find(const std::string& name) const {
    for (const auto& [runName, figures] : figures_) {
      if (runName == name || runName.rfind(name + "/", 0) == 0) return &figures;
    }
    return nullptr;
  }
  static double Counter(const Figures& f, const std::string& name) {
    const auto it = f.counters.find(name);
    return it == f.counters.end() ? 0.0 : it->second;
  }
  std::map<std::string, Figures> figures_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  if (anyFault) {
    std::fprintf(stderr, "rebound_bench: a simulation stopped on a fault; see above\n");
    return 1;
  }
  return 0;
}
