// Reviving the player on a real script fibre against the simulated world:
// the exact natives in order with their handles, the one 50 ms wait on the
// revival branches, and the state the player is left in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/host_api.h"
#include "src/respawn/revive_player.h"
#include "tests/respawn/call_lines.h"
#include "tests/support/sim_harness.h"

namespace {

// Handles that differ from each other and from the defaults, so a ped passed
// where the player belongs (or a constant) shows.
constexpr const char* kScenarioHead = R"({"frames": 10,
  "player": {"pedHandle": 42, "playerId": 7, "health": 150, "maxHealth": 180, "armour": 50,
             "wantedLevel": 3, "beingArrested": true, "activeTasks": 2},
  "events": [)";

struct RevivalCase {
  const char* name;
  const char* events;               // what happened to the player before the revival
  std::vector<std::string> branch;  // the calls between the arrest reset and the tasks
  std::int32_t healthAfter;
};

void PrintTo(const RevivalCase& c, std::ostream* os) { *os << c.name; }

class Revival : public ::testing::TestWithParam<RevivalCase> {};

TEST_P(Revival, CallsEveryNativeInOrderWithFreshHandlesAndLeavesThePlayerReleased) {
  const RevivalCase& c = GetParam();
  sim::Simulation simulation(test::ScenarioFrom(std::string(kScenarioHead) + c.events + "]}"));
  simulation.SetScript([] {
    rebound::RevivePlayer();
    for (;;) scriptWait(0);
  });
  ASSERT_TRUE(simulation.RunFrames(10)) << simulation.Fault();

  std::vector<std::string> expected = {
      "PLAYER_PED_ID() -> 42", "FREEZE_ENTITY_POSITION(42, true)",
      "PLAYER_ID() -> 7",      "SET_PLAYER_WANTED_LEVEL(7, 0, false)",
      "PLAYER_ID() -> 7",      "SET_PLAYER_WANTED_LEVEL_NOW(7, false)",
      "PLAYER_ID() -> 7",      "SET_POLICE_IGNORE_PLAYER(7, true)",
      "PLAYER_PED_ID() -> 42", "SET_PED_ARMOUR(42, 0)",
      "PLAYER_ID() -> 7",      "RESET_PLAYER_ARREST_STATE(7)"};
  expected.insert(expected.end(), c.branch.begin(), c.branch.end());
  const std::vector<std::string> tail = {
      "PLAYER_PED_ID() -> 42", "CLEAR_PED_TASKS_IMMEDIATELY(42)",
      "PLAYER_PED_ID() -> 42", "FREEZE_ENTITY_POSITION(42, false)",
      "PLAYER_PED_ID() -> 42", "0x95D2D383D5396B8A(42, false)",
      "PLAYER_ID() -> 7",      "0xA6F312FCCE9C1DFE(7)",
      "PLAYER_ID() -> 7",      "SET_POLICE_IGNORE_PLAYER(7, false)",
      "scriptWait(0)"};  // the script's own loop: RevivePlayer has returned
  expected.insert(expected.end(), tail.begin(), tail.end());

  std::vector<std::string> calls = test::CallLines(simulation.GetTrace());
  ASSERT_GE(calls.size(), expected.size());
  calls.resize(expected.size());
  EXPECT_EQ(calls, expected);

  const sim::PlayerModel& player = simulation.GetWorld().player;
  EXPECT_FALSE(player.dead);
  EXPECT_FALSE(player.ReadsInjured());
  EXPECT_EQ(player.health, c.healthAfter);
  EXPECT_EQ(player.armour, 0) << "armour is taken, not restored";
  EXPECT_EQ(player.wantedLevel, 0);
  EXPECT_FALSE(player.frozen);
  EXPECT_FALSE(player.policeIgnore) << "the police notice the player again on return";
  EXPECT_FALSE(player.beingArrested);
  EXPECT_EQ(player.activeTasks, 0);
}

const std::vector<std::string> kSettleAndHeal = {
    "scriptWait(50)", "PLAYER_PED_ID() -> 42", "GET_ENTITY_MAX_HEALTH(42) -> 180",
    "PLAYER_PED_ID() -> 42", "SET_ENTITY_HEALTH(42, 180, 0)"};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Branches, Revival,
    ::testing::Values(
        // A dead ped also reads as injured: the dead test comes first, so it is
        // resurrected and never asked about injury.
        RevivalCase{"Dead", R"({"frame": 0, "health": 0})",
                    Join({"PLAYER_PED_ID() -> 42", "IS_ENTITY_DEAD(42, false) -> true",
                          "PLAYER_PED_ID() -> 42", "RESURRECT_PED(42)"},
                         kSettleAndHeal),
                    180},
        RevivalCase{"Injured", R"({"frame": 0, "injure": true})",
                    Join({"PLAYER_PED_ID() -> 42", "IS_ENTITY_DEAD(42, false) -> false",
                          "PLAYER_PED_ID() -> 42", "IS_PED_INJURED(42) -> true",
                          "PLAYER_PED_ID() -> 42", "REVIVE_INJURED_PED(42)"},
                         kSettleAndHeal),
                    180},
        // Neither: no revival, no wait, health left as it was.
        RevivalCase{"Unhurt",
                    "",
                    {"PLAYER_PED_ID() -> 42", "IS_ENTITY_DEAD(42, false) -> false",
                     "PLAYER_PED_ID() -> 42", "IS_PED_INJURED(42) -> false"},
                    150}),
    [](const ::testing::TestParamInfo<RevivalCase>& param) { return param.param.name; });

// The revival branches give the game one 50 ms pause and carry on in a later
// frame; the unhurt branch returns within the frame it was called in.
TEST(RevivalWait, OnlyTheRevivalBranchesWaitAndThenOnlyOnce) {
  struct Case {
    const char* events;
    std::size_t waits50;
    std::int64_t returnFrame;  // the frame of the caller's next wait
  };
  // At 60 frames per second a 50 ms wait from frame 0 (0 ms) ends in frame 3 (50 ms).
  for (const Case& c : {Case{R"({"frame": 0, "health": 0})", 1, 3},
                        Case{R"({"frame": 0, "injure": true})", 1, 3}, Case{"", 0, 0}}) {
    sim::Simulation simulation(test::ScenarioFrom(std::string(kScenarioHead) + c.events + "]}"));
    simulation.SetScript([] {
      rebound::RevivePlayer();
      for (;;) scriptWait(0);
    });
    ASSERT_TRUE(simulation.RunFrames(8)) << simulation.Fault();
    const auto waits = simulation.GetTrace().Find("scriptWait");
    std::size_t waits50 = 0;
    for (const auto* w : waits) waits50 += w->args[0].integer == 50 ? 1 : 0;
    EXPECT_EQ(waits50, c.waits50) << c.events;
    ASSERT_GT(waits.size(), c.waits50);
    EXPECT_EQ(waits[c.waits50]->args[0].integer, 0) << c.events;
    EXPECT_EQ(waits[c.waits50]->frame, c.returnFrame) << c.events;
  }
}

}  // namespace
