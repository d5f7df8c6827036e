// The built plug-in module, loaded into the simulator the way the real host
// loads it: registration, the first frame, keyboard messages, unloading.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "tests/support/sim_harness.h"

namespace {

TEST(ShellEndToEnd, FirstFrameHoldsTickerSettingsAndFirstTickBeforeTheFirstWait) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 3})"));
  ASSERT_TRUE(simulation.LoadPlugin(REBOUND_PLUGIN_PATH)) << simulation.Fault();
  ASSERT_TRUE(simulation.Run()) << simulation.Fault();
  simulation.UnloadPlugin();
  ASSERT_FALSE(simulation.Faulted()) << simulation.Fault();

  const auto& trace = simulation.GetTrace();
  const std::vector<std::string> frame0 = test::EntriesInFrame(trace, 0);
  // The first tick of an alive player reads the ped and its health.
  const std::vector<std::string> expected = {"scriptStart",
                                             "BEGIN_TEXT_COMMAND_THEFEED_POST",
                                             "ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME",
                                             "END_TEXT_COMMAND_THEFEED_POST_TICKER",
                                             "SET_FADE_IN_AFTER_DEATH_ARREST",
                                             "SET_FADE_OUT_AFTER_ARREST",
                                             "SET_FADE_OUT_AFTER_DEATH",
                                             "0xAA391C728106F7AF"};
  ASSERT_GE(frame0.size(), expected.size() + 1);
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(frame0[i], expected[i]) << i;
  EXPECT_EQ(frame0.back(), "scriptWait") << "the frame ends with the loop's wait";
  EXPECT_EQ(test::NativesInFrame(trace, 0).size() + 2, frame0.size())
      << "nothing but natives between the start and the one wait";

  const auto entries = trace.Entries();
  std::vector<std::string> firstArgs;
  for (const auto& e : entries) {
    if (e.frame != 0 || e.native == nullptr) continue;
    std::string line = sim::Trace::ToJson(e);
    firstArgs.push_back(line.substr(line.find("\"args\"")));
    if (firstArgs.size() == expected.size() - 1) break;
  }
  EXPECT_EQ(firstArgs[0], R"("args":["STRING"]})");
  EXPECT_EQ(firstArgs[1], R"("args":["Latest1"]})");
  EXPECT_EQ(firstArgs[2], R"("args":[false,true],"result":1})");
  for (std::size_t i = 3; i < 7; ++i) EXPECT_EQ(firstArgs[i], R"("args":[false]})") << i;

  EXPECT_EQ(simulation.GetWorld().feed.tickers, std::vector<std::string>{"Latest1"});
  EXPECT_FALSE(simulation.GetWorld().state.fadeOutAfterDeath);
}

TEST(ShellEndToEnd, LoadRegistersAndUnloadUnregistersInOrder) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 2})"));
  ASSERT_TRUE(simulation.LoadPlugin(REBOUND_PLUGIN_PATH));
  ASSERT_TRUE(simulation.Run());
  simulation.UnloadPlugin();
  std::vector<std::string> host;
  for (const auto& e : simulation.GetTrace().Entries()) {
    if (e.native == nullptr && e.host != "scriptWait") host.push_back(e.host);
  }
  const std::vector<std::string> expected = {
      "attach", "scriptRegister",   "keyboardHandlerRegister",  "scriptStart",
      "detach", "scriptUnregister", "keyboardHandlerUnregister"};
  EXPECT_EQ(host, expected);
  EXPECT_FALSE(simulation.Faulted()) << simulation.Fault();
}

TEST(ShellEndToEnd, EachLaterFrameIsOneTickAndOneWait) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 5})"));
  ASSERT_TRUE(simulation.LoadPlugin(REBOUND_PLUGIN_PATH));
  ASSERT_TRUE(simulation.Run());
  for (std::int64_t f = 1; f < 5; ++f) {
    const auto entries = test::EntriesInFrame(simulation.GetTrace(), f);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back(), "scriptWait") << f;
    EXPECT_EQ(simulation.GetTrace().Count("BEGIN_TEXT_COMMAND_THEFEED_POST"), 1U);
  }
}

TEST(ShellEndToEnd, KeyboardMessagesReachTheHandlerWithoutFault) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 40, "events": [
      {"frame": 0, "key": {"code": 65}},
      {"frame": 10, "key": {"code": 255}},
      {"frame": 20, "key": {"code": 4294967295, "isUp": 1}},
      {"frame": 30, "key": {"code": 254, "alt": 2}}]})"));
  ASSERT_TRUE(simulation.LoadPlugin(REBOUND_PLUGIN_PATH));
  EXPECT_TRUE(simulation.Run()) << simulation.Fault();
  EXPECT_EQ(simulation.GetTrace().Count("keyboard"), 4U);
}

TEST(ShellEndToEnd, EntryThatRefusesAttachIsDetachedAndUnloaded) {
  sim::Simulation simulation(test::ScenarioFrom("{}"));
  EXPECT_FALSE(simulation.LoadPlugin(REBOUND_REFUSING_MODULE_PATH));
  EXPECT_FALSE(simulation.PluginLoaded());
  EXPECT_NE(simulation.Fault().find("returned 0 on attach"), std::string::npos)
      << simulation.Fault();
  // As on Windows: the refused attach is undone with process detach.
  EXPECT_EQ(test::EntriesInFrame(simulation.GetTrace(), -1),
            (std::vector<std::string>{"attach", "scriptRegister", "scriptUnregister"}));
}

TEST(ShellEndToEnd, MissingModuleIsAFault) {
  sim::Simulation simulation(test::ScenarioFrom("{}"));
  EXPECT_FALSE(simulation.LoadPlugin("/nonexistent/librebound.so"));
  EXPECT_NE(simulation.Fault().find("cannot load the plug-in"), std::string::npos);
}

}  // namespace

namespace {

// The module's operator new binds to the simulator's counting one (the C++
// runtime is shared), so its allocations are seen: in the tick that creates
// the respawn bar, and nowhere else but the first death's tick, even with a
// 150-byte label drawn in long mode every frame. The recording build adds
// none: its records go into fixed buffers, and its writer thread, started
// in the first frame, allocates nothing on the fibre.
void ExpectAllocationsOnlyWhereTheBarIsMade(const char* module) {
  SCOPED_TRACE(module);
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 1300,
        "world": {"labels": {"KS_RESPAWN_B": ")" +
                                                std::string(150, 'x') + R"("},
                  "spawnSearch": {"frames": 3, "outcome": "complete", "results": [[1, 2, 3]]}},
        "events": [{"frame": 10, "health": 0}, {"frame": 700, "health": 0}]})"),
                             sim::SimOptions{.recordTrace = false});
  ASSERT_TRUE(simulation.LoadPlugin(module)) << simulation.Fault();
  sim::FlowPhase before = sim::FlowPhase::Watching;
  int barsCreated = 0;
  int deaths = 0;
  for (int f = 0; f < 1300; ++f) {
    ASSERT_TRUE(simulation.RunFrames(1)) << simulation.Fault();
    const sim::FlowPhase now = simulation.Flow().Phase();
    const std::uint64_t allocations = simulation.AllocationsInLastFrame().plugin;
    if (now == sim::FlowPhase::BarFilling && before != now) {
      ++barsCreated;
      EXPECT_GT(allocations, 0U) << "frame " << f << ": the bar is made here";
    } else if (now == sim::FlowPhase::DeathPause && before == sim::FlowPhase::Watching &&
               ++deaths == 1) {
      // The first death starts the flow's timers; whether that allocates
      // depends on an earlier load of the module in this process.
    } else {
      EXPECT_EQ(allocations, 0U) << "frame " << f << " in " << sim::FlowPhaseName(now);
    }
    before = now;
  }
  simulation.UnloadPlugin();
  EXPECT_EQ(barsCreated, 2);
  EXPECT_EQ(deaths, 2);
}

TEST(ShellEndToEnd, LoadedModuleAllocatesOnlyWhenItCreatesTheBar) {
  ExpectAllocationsOnlyWhereTheBarIsMade(REBOUND_PLUGIN_PATH);
}

#if defined(REBOUND_RECORDER_PLUGIN_PATH)
TEST(ShellEndToEnd, RecordingModuleAllocatesNoMoreThanThePlayers) {
  // The recording goes to the test's own folder, not beside the module.
  const std::string folder = ::testing::TempDir() + "rebound-recorder-allocations";
  std::filesystem::create_directories(folder);
  ::setenv("REBOUND_RECORDING_DIR", folder.c_str(), 1);
  ExpectAllocationsOnlyWhereTheBarIsMade(REBOUND_RECORDER_PLUGIN_PATH);
  ::unsetenv("REBOUND_RECORDING_DIR");
  std::filesystem::remove_all(folder);
}
#endif

}  // namespace
