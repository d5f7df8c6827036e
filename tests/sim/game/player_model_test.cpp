// The simulated player as the script sees it through natives: death and
// injury and what revives from each, the wanted level's delay, placement,
// other handles, and the scenario's player events.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/natives.h"
#include "tests/support/sim_harness.h"

namespace {

namespace natives = rebound::natives;

constexpr natives::Ped kPed = 42;
constexpr natives::Player kPlayer = 7;

std::string Scenario(const std::string& player, const std::string& events = "[]") {
  return R"({"frames": 20, "player": {"pedHandle": 42, "playerId": 7)" +
         (player.empty() ? "" : ", " + player) + "}, \"events\": " + events + "}";
}

struct Reading {
  bool dead;
  bool injured;
  std::int32_t health;
  bool operator==(const Reading&) const = default;
};

void PrintTo(const Reading& r, std::ostream* os) {
  *os << (r.dead ? "dead" : "alive") << (r.injured ? ", injured" : "") << ", health " << r.health;
}

Reading Read() {
  return Reading{natives::IS_ENTITY_DEAD(kPed, false), natives::IS_PED_INJURED(kPed),
                 natives::GET_ENTITY_HEALTH(kPed)};
}

TEST(PlayerModel, DeathAndInjuryFollowHealthUntilRevived) {
  // Each step is one native call; the reading after it is what the game says.
  struct Step {
    const char* what;
    std::function<void()> call;
    Reading after;
  };
  const std::vector<Step> steps = {
      {"drop to the threshold",
       [] { natives::SET_ENTITY_HEALTH(kPed, 100, 0); },
       {false, false, 100}},
      {"drop below it", [] { natives::SET_ENTITY_HEALTH(kPed, 99, 0); }, {false, true, 99}},
      {"healing does not cure injury",
       [] { natives::SET_ENTITY_HEALTH(kPed, 200, 0); },
       {false, true, 200}},
      {"revived from injury", [] { natives::REVIVE_INJURED_PED(kPed); }, {false, false, 200}},
      {"killed", [] { natives::SET_ENTITY_HEALTH(kPed, 0, 0); }, {true, true, 0}},
      {"health does not undo death",
       [] { natives::SET_ENTITY_HEALTH(kPed, 1, 0); },
       {true, true, 1}},
      {"injury revival cannot raise the dead",
       [] { natives::REVIVE_INJURED_PED(kPed); },
       {true, true, 1}},
      {"resurrected", [] { natives::RESURRECT_PED(kPed); }, {false, false, 1}},
      {"a rise is no injury", [] { natives::SET_ENTITY_HEALTH(kPed, 50, 0); }, {false, false, 50}},
      {"killed below zero", [] { natives::SET_ENTITY_HEALTH(kPed, -20, 0); }, {true, true, -20}},
      {"resurrected at least at 1", [] { natives::RESURRECT_PED(kPed); }, {false, false, 1}},
      {"resurrecting the living does nothing",
       [] { natives::RESURRECT_PED(kPed); },
       {false, false, 1}},
  };
  sim::Simulation simulation(test::ScenarioFrom(Scenario(R"("health": 200, "maxHealth": 200)")));
  std::vector<Reading> readings;
  ASSERT_TRUE(test::RunOnce(
      simulation,
      [&] {
        for (const Step& step : steps) {
          step.call();
          readings.push_back(Read());
        }
      },
      5))
      << simulation.Fault();
  ASSERT_EQ(readings.size(), steps.size());
  for (std::size_t i = 0; i < steps.size(); ++i)
    EXPECT_EQ(readings[i], steps[i].after) << steps[i].what;
}

TEST(PlayerModel, WantedLevelSetWithoutNowTakesEffectNextFrame) {
  sim::Simulation simulation(test::ScenarioFrom(Scenario(R"("wantedLevel": 4)")));
  std::vector<std::int32_t> levels;
  sim::World& world = simulation.GetWorld();
  ASSERT_TRUE(test::RunOnce(
      simulation,
      [&] {
        natives::SET_PLAYER_WANTED_LEVEL(kPlayer, 0, false);
        levels.push_back(world.player.wantedLevel);
        scriptWait(0);
        levels.push_back(world.player.wantedLevel);
        natives::SET_PLAYER_WANTED_LEVEL(kPlayer, 9, false);  // the game keeps it to 5
        natives::SET_PLAYER_WANTED_LEVEL_NOW(kPlayer, false);
        levels.push_back(world.player.wantedLevel);
        natives::SET_PLAYER_WANTED_LEVEL(kPlayer + 1, 0, false);  // nobody's
        natives::SET_PLAYER_WANTED_LEVEL_NOW(kPlayer + 1, false);
        levels.push_back(world.player.wantedLevel);
      },
      5))
      << simulation.Fault();
  EXPECT_EQ(levels, (std::vector<std::int32_t>{4, 0, 5, 5}));
}

TEST(PlayerModel, OnlyThePlayersOwnHandlesReachThePlayer) {
  sim::Simulation simulation(test::ScenarioFrom(
      Scenario(R"("position": [1, 2, 3], "armour": 30, "activeTasks": 2, "beingArrested": true)")));
  ASSERT_TRUE(test::RunOnce(
      simulation,
      [] {
        const natives::Ped other = kPed + 1;
        natives::SET_ENTITY_COORDS(other, 9, 9, 9, true, false, false, false);
        natives::SET_ENTITY_HEADING(other, 90.0F);
        natives::FREEZE_ENTITY_POSITION(other, true);
        natives::SET_PED_ARMOUR(other, 0);
        natives::CLEAR_PED_TASKS_IMMEDIATELY(other);
        natives::RESET_PLAYER_ARREST_STATE(kPed);  // a ped handle is no player id
        natives::SET_POLICE_IGNORE_PLAYER(kPed, true);
        EXPECT_EQ(natives::GET_ENTITY_COORDS(other, true).x, 0.0F);
        EXPECT_EQ(natives::GET_ENTITY_MAX_HEALTH(other), 0);
      },
      5))
      << simulation.Fault();
  const sim::PlayerModel& p = simulation.GetWorld().player;
  EXPECT_EQ(p.position.x, 1.0F);
  EXPECT_EQ(p.heading, 0.0F);
  EXPECT_FALSE(p.frozen);
  EXPECT_EQ(p.armour, 30);
  EXPECT_EQ(p.activeTasks, 2);
  EXPECT_TRUE(p.beingArrested);
  EXPECT_FALSE(p.policeIgnore);
}

TEST(PlayerModel, ScenarioEventsInjureHealMoveAndArrest) {
  sim::Simulation simulation(test::ScenarioFrom(Scenario(R"("health": 150, "maxHealth": 180)", R"([
      {"frame": 1, "injure": true},
      {"frame": 2, "heal": true},
      {"frame": 3, "position": [5, 6, 7]},
      {"frame": 3, "wantedLevel": 2},
      {"frame": 3, "arrest": true},
      {"frame": 4, "health": 0},
      {"frame": 5, "injure": true},
      {"frame": 6, "heal": true}])")));
  std::vector<Reading> readings;
  ASSERT_TRUE(test::RunOnce(
      simulation,
      [&] {
        for (int frame = 0; frame <= 6; ++frame) {
          readings.push_back(Read());
          scriptWait(0);
        }
      },
      8))
      << simulation.Fault();
  const std::vector<Reading> expected = {
      {false, false, 150}, {false, true, 150}, {false, false, 180}, {false, false, 180},
      {true, true, 0},     {true, true, 0},    {false, false, 180}};
  EXPECT_EQ(readings, expected);
  const sim::PlayerModel& p = simulation.GetWorld().player;
  EXPECT_EQ(p.position.y, 6.0F);
  EXPECT_EQ(p.wantedLevel, 2);
  EXPECT_TRUE(p.beingArrested);
}

TEST(PlayerModel, BadPlayerEventsAndSettingsStopTheScenario) {
  struct Case {
    std::string text;
    const char* message;
  };
  for (const Case& c : {
           Case{Scenario("", R"([{"frame": 1, "injure": false}])"), "expected true"},
           Case{Scenario("", R"([{"frame": 1, "heal": true, "injure": true}])"), "unknown field"},
           Case{Scenario(R"("wantedLevel": 6)"), "player.wantedLevel"},
           Case{Scenario(R"("injuredBelow": 0)"), "player.injuredBelow"},
       }) {
    try {
      test::ScenarioFrom(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const sim::ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
