// The run's seed reaching the loaded module's random helpers (and, on
// Windows, the DLL that cannot take one), and the script fibre's peak stack
// over whole death cycles.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/base/seed.h"
#include "sim/host/simulation.h"
#include "tests/support/sanitizers.h"

namespace {

std::string ReadScenario(const std::string& name) {
  std::ifstream in(std::string(REBOUND_SOURCE_DIR) + "/scenarios/" + name + ".json");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct SeededRun {
  std::unique_ptr<sim::Simulation> simulation;

  SeededRun(const std::string& name, std::optional<std::uint64_t> seed) {
    simulation = std::make_unique<sim::Simulation>(
        sim::Scenario::Parse(name + ".json", ReadScenario(name)), sim::SimOptions{.seed = seed});
    EXPECT_TRUE(simulation->LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation->Fault();
    EXPECT_TRUE(simulation->Run()) << simulation->Fault();
    simulation->UnloadPlugin();
  }

  // Every value the respawn placed the player with, as the trace shows it.
  std::vector<std::string> Placements() const {
    std::vector<std::string> out;
    for (const sim::TraceEntry* e : simulation->GetTrace().Find("SET_ENTITY_COORDS"))
      out.push_back(sim::Trace::ToJson(*e));
    return out;
  }
};

#if !defined(_WIN32)

TEST(RunSeed, SeedsTheModuleAndOpensTheTrace) {
  const SeededRun run("plain-death", 1234);
  EXPECT_EQ(run.simulation->SeedingOutcome(), sim::Seeding::Seeded);
  const auto& entries = run.simulation->GetTrace().Entries();
  ASSERT_GE(entries.size(), 2U);
  EXPECT_EQ(sim::Trace::ToJson(entries[0]),
            R"({"frame":-1,"time":100000,"host":"seed","seed":1234})");
  EXPECT_TRUE(entries[1].IsHost("attach"));
  EXPECT_EQ(run.simulation->GetTrace().Count("seed"), 1U);
  // Two draws for the search centre, one for the result, one for the
  // heading, one for the bar's id: every one of them asked the run's seeds.
  EXPECT_EQ(sim::SeedsTaken(), 5U);
}

// What a run leaves to compare: its whole trace, and where it placed the player.
struct RunRecord {
  std::string trace;
  std::vector<std::string> placements;
};

RunRecord Record(std::uint64_t seed) {
  const SeededRun run("plain-death", seed);
  std::ostringstream trace;
  run.simulation->GetTrace().WriteJsonLines(trace);
  return {trace.str(), run.Placements()};
}

TEST(RunSeed, SameSeedSameRunOtherSeedsOtherPoints) {
  const RunRecord first = Record(77);
  const RunRecord again = Record(77);
  ASSERT_EQ(first.placements.size(), 1U);
  EXPECT_EQ(first.trace, again.trace);
  // plain-death's search has several results: among a few seeds the chosen
  // one must change.
  std::vector<std::vector<std::string>> seen{first.placements};
  for (std::uint64_t seed : {78U, 79U, 80U, 81U}) {
    const RunRecord other = Record(seed);
    bool fresh = true;
    for (const auto& s : seen) fresh = fresh && s != other.placements;
    if (fresh) seen.push_back(other.placements);
  }
  EXPECT_GE(seen.size(), 3U) << "five seeds gave fewer than three different placements";
}

TEST(RunSeed, ModuleWithoutTheExportIsNotSeeded) {
  sim::Simulation simulation(sim::Scenario::Parse("empty.json", "{}"), sim::SimOptions{.seed = 5});
  // This module speaks the entry protocol only (and refuses attach).
  EXPECT_FALSE(simulation.LoadPlugin(REBOUND_REFUSING_MODULE_PATH));
  EXPECT_EQ(simulation.SeedingOutcome(), sim::Seeding::NoExport);
  EXPECT_EQ(simulation.GetTrace().Count("seed"), 0U);
}

#else

TEST(RunSeed, WindowsDllCannotBeSeeded) {
  const SeededRun run("plain-death", 1234);
  EXPECT_EQ(run.simulation->SeedingOutcome(), sim::Seeding::NoExport);
  EXPECT_EQ(run.simulation->GetTrace().Count("seed"), 0U);
  EXPECT_TRUE(run.simulation->GetTrace().Entries().at(0).IsHost("attach"));
}

#endif

TEST(RunSeed, NoSeedLeavesTheModuleOnItsOwnSource) {
  const SeededRun run("plain-death", std::nullopt);
  EXPECT_EQ(run.simulation->SeedingOutcome(), sim::Seeding::OsRandom);
  EXPECT_EQ(run.simulation->GetTrace().Count("seed"), 0U);
}

// Every branch of the flow (the shard movie late, the search with many
// results, with one, failing to a road node, both failing, a point too far,
// taps, a second death, healing and killing mid-flow, the timer wrap) with
// the 150-byte bar label, which is drawn in pieces.
constexpr std::size_t kStackLimit = 32 * 1024;

TEST(ScriptStack, PeakStaysUnder32KiBOnEveryBranchWithTheLongLabel) {
  for (const char* name : {"plain-death", "late-movie", "spawn-road-node", "road-node-fallback",
                           "both-fail", "spawn-nothing-found", "far-spawn", "tapping", "two-deaths",
                           "healed-and-killed", "timer-wrap", "keyboard-throughout"}) {
    nlohmann::json scenario = nlohmann::json::parse(ReadScenario(name));
    scenario["world"]["labels"]["KS_RESPAWN_B"] = std::string(150, 'w');
    sim::Simulation simulation(sim::Scenario::Parse(std::string(name) + ".json", scenario.dump()),
                               sim::SimOptions{.recordTrace = false});
    ASSERT_TRUE(simulation.LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation.Fault();
    ASSERT_TRUE(simulation.Run()) << name << ": " << simulation.Fault();
    ASSERT_GE(simulation.Flow().Deaths().size(), 1U) << name;
    EXPECT_GE(simulation.Flow().Deaths().back().respawnFrame, 0) << name << ": not respawned";
    simulation.UnloadPlugin();
    const sim::StackUse stack = simulation.Summary().scriptStack;
    ASSERT_TRUE(stack.measured) << name;
#if !defined(_WIN32)
    EXPECT_EQ(stack.size, std::size_t{1} << 20);
#else
    // The system reserves at least what was asked for.
    EXPECT_GE(stack.size, std::size_t{1} << 20);
#endif
    // Something ran on it: at least the script loop's frames.
    EXPECT_GT(stack.peak, 256U) << name;
#if defined(REBOUND_UNDER_ASAN)
    // The sanitizer's red zones around every local make frames several times
    // larger: only the stack's end is a limit there.
    EXPECT_LT(stack.peak, stack.size) << name;
#else
    EXPECT_LT(stack.peak, kStackLimit) << name;
#endif
    RecordProperty(std::string("stack_") + name, static_cast<int>(stack.peak));
  }
}

}  // namespace
