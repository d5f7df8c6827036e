// What the seam to the host costs: one native call through the call layer and
// the simulated host, and one idle frame of the plug-in's script loop (resume
// the fibre, tick, wait). Prints Google Benchmark's table, with the counted
// figure of native calls per idle frame beside the times.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/simulation.h"
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

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (anyFault) {
    std::fprintf(stderr, "rebound_bench: a simulation stopped on a fault; see above\n");
    return 1;
  }
  return 0;
}
