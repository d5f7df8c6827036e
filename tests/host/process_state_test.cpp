// The one reset of the plug-in's process-wide state: every listed item comes
// back to its value at load, whatever a test left in it.
#include <gtest/gtest.h>

#include <memory>

#include "src/host/key_states.h"
#include "src/host/process_state.h"
#include "src/hud/hud_text.h"
#include "src/hud/panel.h"
#include "src/respawn/death_flow.h"
#include "src/respawn/event_timers.h"
#include "src/spawn/random_detail.h"

namespace {

using namespace rebound;

std::uint32_t FixedSeed() { return 7; }

TEST(ProcessState, ResetBringsEveryItemBackToItsLoadValue) {
  keyStates[65].time = 1234;
  keyStates[65].isUpNow = 1;
  deathFlow.state = DeathFlowState::BarFilling;
  deathFlow.movieHandle = 3;
  deathFlow.respawnProgress = 50;
  deathFlow.respawnBar = std::make_unique<HudBar>("label", "");
  AppendToPanel(deathFlow.respawnBar.get());
  hudBarPanel.panelEnabled = false;
  hudBarPanel.lastDrawnFrame = 99;
  hudBarPanel.blinkIntervalMs = 5;
  eventTimers.push_back(EventTimerEntry{{5, 6, false}, 1});
  TextScaleOverride = {1.0, 2.0};
  longTextStorage.overflow.resize(500);
  testing_seam::SetSeedSourceForTesting(&FixedSeed);

  testing_seam::ResetProcessStateForTesting();

  EXPECT_EQ(keyStates[65].time, 0U);
  EXPECT_EQ(keyStates[65].isUpNow, 0);
  EXPECT_EQ(deathFlow.state, DeathFlowState::Watching);
  EXPECT_EQ(deathFlow.movieHandle, -1);
  EXPECT_EQ(deathFlow.respawnProgress, 0);
  EXPECT_FALSE(deathFlow.respawnBar);
  EXPECT_TRUE(hudBarPanel.bars.empty());
  EXPECT_TRUE(hudBarPanel.panelEnabled);
  EXPECT_EQ(hudBarPanel.lastDrawnFrame, -1);
  EXPECT_EQ(hudBarPanel.blinkIntervalMs, 800);
  // The lists are released, not just emptied: a test then sees the
  // allocations a fresh process makes.
  EXPECT_EQ(eventTimers.capacity(), 0U);
  EXPECT_EQ(TextScaleOverride.capacity(), 0U);
  EXPECT_EQ(longTextStorage.overflow.capacity(), 0U);
  EXPECT_NE(testing_seam::SetSeedSourceForTesting(nullptr), &FixedSeed)
      << "the device is the seed source again";
}

}  // namespace
