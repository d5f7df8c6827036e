// The world passes its areas by on frames where none has work, and does the
// work of any area once something has given it some: a fade started, a death.
// An area given work behind the world's back stops a build with assertions.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "sim/game/world.h"

namespace {

using sim::World;

// Runs one frame of the world as the simulation does, the script's part left out.
void StepFrame(World& world, std::int64_t frame) {
  world.clock.frame = frame;
  world.clock.nowMs = frame * 50;
  world.BeginFrame();
  world.EndFrame();
}

struct WorkCase {
  const char* area;
  std::function<void(World&)> give;
  std::function<bool(const World&)> done;  // the area's work has happened
  bool settles;                            // and then it has none left
};

TEST(WorldWork, EachAreaGivenWorkDoesItAndTheWorldSettlesAgain) {
  const WorkCase cases[] = {
      {"screen", [](World& w) { w.screen.StartFadeOut(w, 100, "test"); },
       [](const World& w) { return w.screen.fade == sim::FadeState::FadedOut; }, true},
      {"state", [](World& w) { w.player.SetHealth(w, 0, "test"); },
       [](const World& w) { return w.state.restartPhase != sim::RestartPhase::Idle; }, false},
      {"controls", [](World& w) { w.controls.Press(w, 0, 223, 1); },
       [](const World& w) {
         return !w.controls.controls.at({0, 223}).down;
       },
       false},
  };
  for (const WorkCase& c : cases) {
    SCOPED_TRACE(c.area);
    World world;
    StepFrame(world, 0);  // the first frame looks at every area
    ASSERT_EQ(world.AreaWithWork(), nullptr);
    c.give(world);
    ASSERT_NE(world.AreaWithWork(), nullptr);
    EXPECT_STREQ(world.AreaWithWork(), c.area);
    std::int64_t frame = 1;
    for (; frame < 10 && !c.done(world); ++frame) StepFrame(world, frame);
    EXPECT_TRUE(c.done(world)) << "the work of the area was not done";
    EXPECT_LT(frame, 10);
    if (c.settles) {
      EXPECT_EQ(world.AreaWithWork(), nullptr);
    }
  }
}

TEST(WorldWork, WorkThatNothingNotedStopsTheRun) {
#ifdef NDEBUG
  GTEST_SKIP() << "checked in builds with assertions";
#else
  World world;
  StepFrame(world, 0);
  world.controls.controls[{0, 223}].down = true;  // behind the world's back
  EXPECT_DEATH(world.BeginFrame(), "the controls area has work for the frame that nothing noted");
#endif
}

}  // namespace
