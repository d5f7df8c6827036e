// The flow observer fed native calls as the game would see them: what it
// concludes about deaths, the bar, taps and the spawn point.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/base/native_table.h"
#include "sim/game/world.h"
#include "sim/observe/flow_observer.h"
#include "sim/observe/trace.h"

namespace {

using sim::FlowObserver;
using sim::FlowPhase;
using sim::TraceValue;

sim::TraceEntry Call(std::int64_t frame, std::string_view native, std::vector<TraceValue> args,
                     std::optional<TraceValue> result = std::nullopt,
                     std::vector<TraceValue> outs = {}) {
  sim::TraceEntry e;
  e.frame = frame;
  e.native = sim::FindNativeByName(native);
  EXPECT_NE(e.native, nullptr) << native;
  e.args = std::move(args);
  e.result = std::move(result);
  e.outs = std::move(outs);
  return e;
}

// DRAW_RECT as the bar's fill draws it: width `width`, in the given colour.
sim::TraceEntry Rect(std::int64_t frame, float width, std::int64_t red = 224) {
  return Call(frame, "DRAW_RECT",
              {TraceValue::Float(0.9F), TraceValue::Float(0.9F), TraceValue::Float(width),
               TraceValue::Float(0.01F), TraceValue::Int(red), TraceValue::Int(50),
               TraceValue::Int(52), TraceValue::Int(140), TraceValue::Int(0)});
}

std::vector<std::string> FlowNotes(const sim::World& world) {
  std::vector<std::string> notes;
  for (const auto& e : world.timeline.Entries()) {
    if (e.category == "flow") notes.push_back(e.text);
  }
  return notes;
}

// A death taken over at frame 10, the pause over at 20, the shard's sound
// chosen at 30: from then on the bar fills.
void DeathToBarFilling(FlowObserver& o, sim::World& world) {
  o.OnNative(world, Call(10, "PAUSE_DEATH_ARREST_RESTART", {TraceValue::Bool(true)}));
  o.OnNative(world, Call(20, "IS_SCREEN_FADING_OUT", {}, TraceValue::Bool(false)));
  o.OnNative(world, Call(30, "GET_FILENAME_FOR_AUDIO_CONVERSATION", {TraceValue::Text("RESPAWN_W")},
                         TraceValue::Text("Respawn")));
}

class Flow : public ::testing::Test {
 protected:
  void Feed(const sim::TraceEntry& e) { observer.OnNative(world, e); }
  void Die(std::int64_t frame) {
    Feed(Call(frame, "PAUSE_DEATH_ARREST_RESTART", {TraceValue::Bool(true)}));
  }
  void ToBarFilling() { DeathToBarFilling(observer, world); }
  void ToRespawning() {
    ToBarFilling();
    Feed(Call(40, "DO_SCREEN_FADE_OUT", {TraceValue::Int(1500)}));
  }

  sim::World world;
  FlowObserver observer;
};

TEST(FlowObserverTable, EveryNativeItLooksAtIsInTheCatalogueAndFollowed) {
  const std::vector<std::string_view> followed = FlowObserver::FollowedNatives();
  EXPECT_EQ(followed.size(), 20U);
  for (std::string_view name : followed) {
    EXPECT_NE(sim::FindNativeByName(name), nullptr) << name << " is not a native of the game";
    EXPECT_TRUE(FlowObserver::Follows(name)) << name;
  }
  for (std::string_view name : {"DRAW_SPRITE", "GET_GAME_TIMER", "PLAYER_PED_ID", ""}) {
    EXPECT_FALSE(FlowObserver::Follows(name)) << name;
  }
}

TEST_F(Flow, ADeathIsTakenOverOnlyFromWatchingAndItsPlaceIsReadInItsFrame) {
  Feed(Call(5, "PAUSE_DEATH_ARREST_RESTART", {TraceValue::Bool(false)}));
  EXPECT_EQ(observer.Phase(), FlowPhase::Watching);
  EXPECT_EQ(observer.DeathCount(), 0U);

  Die(10);
  Die(11);  // already in the death: not a second one
  Feed(Call(12, "GET_ENTITY_COORDS", {TraceValue::Int(1), TraceValue::Bool(true)},
            TraceValue::Vector(9.0F, 9.0F, 9.0F)));  // a later frame: not the place of death
  Feed(Call(10, "GET_ENTITY_COORDS", {TraceValue::Int(1), TraceValue::Bool(true)},
            TraceValue::Vector(1.5F, -2.0F, 30.0F)));
  ASSERT_EQ(observer.DeathCount(), 1U);
  EXPECT_EQ(observer.Phase(), FlowPhase::DeathPause);
  const sim::DeathRecord& death = observer.Deaths().at(0);
  EXPECT_EQ(death.deathFrame, 10);
  EXPECT_DOUBLE_EQ(death.deathPosition[0], 1.5);
  EXPECT_DOUBLE_EQ(death.deathPosition[2], 30.0);
  EXPECT_EQ(FlowNotes(world),
            (std::vector<std::string>{
                "-> DeathPause: death taken over (the game's own restart is paused), death #1",
                "place of death (1.5, -2.0, 30.0)"}));
}

TEST_F(Flow, TheBarsFillIsItsWidthOverTheFullWidthInItsColourOnly) {
  struct Case {
    float width;
    std::int64_t red;
    double fill;  // -1: not taken as the bar
  };
  const Case cases[] = {{0.0345F, 224, 50.0},
                        {0.069F, 224, 100.0},
                        {0.0F, 224, 0.0},
                        {0.05F, 0, -1.0},
                        {0.05F, 225, -1.0}};
  for (const Case& c : cases) {
    sim::World fresh;
    FlowObserver o;
    DeathToBarFilling(o, fresh);
    ASSERT_EQ(o.Phase(), FlowPhase::BarFilling);
    o.OnNative(fresh, Rect(37, c.width, c.red));
    if (c.fill < 0) {
      EXPECT_EQ(o.BarFillFrame(), -1) << c.width << " red " << c.red;
    } else {
      EXPECT_EQ(o.BarFillFrame(), 37);
      EXPECT_NEAR(o.BarFill(), c.fill, 1e-4) << c.width;
    }
  }
}

TEST_F(Flow, TheBarIsNotedAtEachTenthItReaches) {
  Feed(Rect(1, 0.03F));  // before the bar: nothing
  ToBarFilling();
  // 11 %, 21 %, 21.7 % (the same tenth: no note), 51 %, full.
  for (float width : {0.0076F, 0.0145F, 0.0150F, 0.0352F, 0.069F}) Feed(Rect(50, width));
  const std::vector<std::string> notes = FlowNotes(world);
  const std::vector<std::string> bar(notes.end() - 4, notes.end());
  EXPECT_EQ(bar, (std::vector<std::string>{"bar 11 % full", "bar 21 % full", "bar 51 % full",
                                           "bar 100 % full"}));
}

TEST_F(Flow, TapsCountOnlyWhenTheGameSaysPressedWhileTheBarFills) {
  Feed(Call(5, "IS_CONTROL_JUST_PRESSED", {TraceValue::Int(0), TraceValue::Int(223)},
            TraceValue::Bool(true)));  // watching: not a tap of the bar
  ToBarFilling();
  for (bool pressed : {true, false, true}) {
    Feed(Call(50, "IS_CONTROL_JUST_PRESSED", {TraceValue::Int(0), TraceValue::Int(223)},
              TraceValue::Bool(pressed)));
  }
  EXPECT_EQ(observer.TapCount(), 2U);
  EXPECT_EQ(observer.CurrentDeath()->taps, 2);
  EXPECT_EQ(FlowNotes(world).back(), "tap seen: +4 points");
}

TEST_F(Flow, ASpawnPointBeyondThreeHundredMetresGivesWayToThePlaceOfDeath) {
  struct Case {
    float metres;
    const char* outcome;
  };
  const Case cases[] = {{299.9F, "search"},
                        {300.0F, "search"},
                        {300.1F, "place of death"},
                        {std::numeric_limits<float>::quiet_NaN(), "place of death"}};
  for (const Case& c : cases) {
    sim::World fresh;
    FlowObserver o;
    DeathToBarFilling(o, fresh);
    o.OnNative(fresh, Call(40, "DO_SCREEN_FADE_OUT", {TraceValue::Int(1000)}));
    o.OnNative(fresh, Call(50, "SPAWNPOINTS_GET_SEARCH_RESULT", {TraceValue::Int(0)}, std::nullopt,
                           {TraceValue::Float(1), TraceValue::Float(2), TraceValue::Float(3)}));
    o.OnNative(fresh, Call(50, "VDIST", {}, TraceValue::Float(c.metres)));
    const sim::DeathRecord& death = *o.CurrentDeath();
    EXPECT_EQ(death.searchOutcome, c.outcome) << c.metres;
    EXPECT_TRUE(std::isnan(death.distance) || death.distance == double{c.metres}) << c.metres;
  }
}

TEST_F(Flow, TheRespawnPlacesTheFlowAndReleasesItBackToWatching) {
  ToRespawning();
  ASSERT_EQ(observer.Phase(), FlowPhase::Respawning);
  Feed(Call(60, "SET_ENTITY_COORDS",
            {TraceValue::Int(1), TraceValue::Float(4), TraceValue::Float(5), TraceValue::Float(6),
             TraceValue::Bool(false), TraceValue::Bool(false), TraceValue::Bool(false),
             TraceValue::Bool(false)}));
  Feed(Call(60, "SET_ENTITY_HEADING", {TraceValue::Int(1), TraceValue::Float(90)}));
  Feed(Call(61, "PAUSE_DEATH_ARREST_RESTART", {TraceValue::Bool(false)}));
  EXPECT_EQ(observer.Phase(), FlowPhase::Watching);
  const sim::DeathRecord& death = observer.Deaths().at(0);
  EXPECT_EQ(death.fadeOutFrame, 40);
  EXPECT_EQ(death.placeFrame, 60);
  EXPECT_EQ(death.respawnFrame, 61);
  EXPECT_DOUBLE_EQ(death.spawnPosition[1], 5.0);
  EXPECT_DOUBLE_EQ(death.spawnHeading, 90.0);
}

}  // namespace
