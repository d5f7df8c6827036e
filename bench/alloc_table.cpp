// Counted figures of the built plug-in module run in the simulator with no
// trace: for each phase of the respawn flow, the native calls, the heap
// allocations made by the plug-in and those made by the simulator, per frame
// (average and most in one frame). Runs an idle stretch and death cycles with
// a 16-byte and a 150-byte bar label. `make bench` prints the tables.
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/host/simulation.h"

namespace {

struct Case {
  const char* title;
  std::string label;
  int deaths;
  int frames;
};

std::string ScenarioFor(const Case& c) {
  nlohmann::json scenario = {
      {"name", c.title},
      {"frames", c.frames},
      {"player", {{"position", {100.0, 200.0, 30.0}}}},
      {"world",
       {{"labels", {{"KS_RESPAWN_B", c.label}, {"RESPAWN_W", "Wasted"}}},
        {"spawnSearch",
         {{"frames", 3}, {"outcome", "complete"}, {"results", {{150.0, 200.0, 30.0}}}}}}},
      {"events", nlohmann::json::array()}};
  for (int i = 0; i < c.deaths; ++i) {
    scenario["events"].push_back({{"frame", 60 + 800 * i}, {"health", 0}});
  }
  return scenario.dump();
}

double PerFrame(std::uint64_t total, std::int64_t frames) {
  return frames > 0 ? static_cast<double>(total) / static_cast<double>(frames) : 0.0;
}

bool PrintTable(const Case& c) {
  sim::Simulation simulation(sim::Scenario::Parse("alloc-table.json", ScenarioFor(c)),
                             sim::SimOptions{.recordTrace = false, .keepDrawings = false});
  if (simulation.LoadPlugin(REBOUND_PLUGIN_PATH)) simulation.Run();
  if (simulation.PluginLoaded()) simulation.UnloadPlugin();
  if (simulation.Faulted()) {
    std::fprintf(stderr, "rebound_alloc_table: %s: %s\n", c.title, simulation.Fault().c_str());
    return false;
  }
  std::printf("\n%s (bar label of %zu bytes), %d frames, no trace:\n", c.title, c.label.size(),
              c.frames);
  std::printf("  %-11s %8s | %-15s | %-20s | %-20s\n", "phase", "frames", "natives/frame",
              "plug-in allocs/frame", "simulator allocs/frame");
  std::printf("  %-11s %8s | %7s %7s | %9s %10s | %9s %10s\n", "", "", "average", "most", "average",
              "most", "average", "most");
  std::uint64_t calls = 0;
  std::uint64_t simulatorAllocations = 0;
  for (std::size_t i = 0; i < sim::kFlowPhaseCount; ++i) {
    const sim::PhaseCost& cost = simulation.Flow().Costs()[i];
    calls += cost.calls;
    simulatorAllocations += cost.simulatorAllocations;
    if (cost.frames == 0) continue;
    std::printf("  %-11s %8lld | %7.1f %7u | %9.4f %10llu | %9.4f %10llu\n",
                sim::FlowPhaseName(static_cast<sim::FlowPhase>(i)),
                static_cast<long long>(cost.frames), PerFrame(cost.calls, cost.frames),
                cost.maxCalls, PerFrame(cost.pluginAllocations, cost.frames),
                static_cast<unsigned long long>(cost.maxPluginAllocations),
                PerFrame(cost.simulatorAllocations, cost.frames),
                static_cast<unsigned long long>(cost.maxSimulatorAllocations));
  }
  std::printf(
      "  simulator allocations per native call: %.5f (%llu in %llu calls)\n",
      calls > 0 ? static_cast<double>(simulatorAllocations) / static_cast<double>(calls) : 0.0,
      static_cast<unsigned long long>(simulatorAllocations),
      static_cast<unsigned long long>(calls));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    std::printf(
        "Usage: rebound_alloc_table\n"
        "Prints, per phase of the respawn flow, the native calls and the heap allocations of\n"
        "the plug-in and of the simulator per frame, for an idle run and for death cycles\n"
        "with a 16-byte and a 150-byte bar label.\n");
    return std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h" ? 0 : 2;
  }
  const Case cases[] = {
      {"Idle", "Respawn", 0, 10000},
      {"Ten deaths", std::string(16, 'b'), 10, 8060},
      {"Ten deaths", std::string(150, 'e'), 10, 8060},
  };
  bool ok = true;
  for (const Case& c : cases) ok = PrintTable(c) && ok;
  return ok ? 0 : 1;
}
