// The key-state table the keyboard handler writes.
#include <gtest/gtest.h>

#include "src/host/key_states.h"
#include "src/host/process_state.h"
#include "tests/support/recording_host.h"

namespace {

using namespace rebound;

class KeyStates : public ::testing::Test {
 protected:
  void SetUp() override { testing_seam::ResetProcessStateForTesting(); }
  void TearDown() override { testing_seam::ResetProcessStateForTesting(); }
};

TEST_F(KeyStates, TableHolds255Entries) { EXPECT_EQ(keyStates.size(), 255U); }

TEST_F(KeyStates, Key254IsStoredWithFlagsAsPassed) {
  OnKeyboardMessage(254, 1, 30, 1, 2, 3, -4);
  EXPECT_EQ(keyStates[254].withAlt, 2) << "a flag of 2 stays 2";
  EXPECT_EQ(keyStates[254].wasDownBefore, 3);
  EXPECT_EQ(keyStates[254].isUpNow, -4);
}

TEST_F(KeyStates, KeysFrom255UpAreDropped) {
  const auto before = keyStates;
  for (std::uint32_t key : {255U, 256U, 1000U, 0xFFFFFFFFU}) {
    OnKeyboardMessage(key, 1, 0, 0, 1, 1, 1);
  }
  for (std::size_t i = 0; i < keyStates.size(); ++i) {
    EXPECT_EQ(keyStates[i].withAlt, before[i].withAlt) << i;
    EXPECT_EQ(keyStates[i].isUpNow, before[i].isUpNow) << i;
  }
}

TEST_F(KeyStates, LatestMessageWins) {
  OnKeyboardMessage(65, 1, 30, 0, 1, 0, 0);
  OnKeyboardMessage(65, 3, 30, 1, 0, 1, 1);
  EXPECT_EQ(keyStates[65].withAlt, 0);
  EXPECT_EQ(keyStates[65].wasDownBefore, 1);
  EXPECT_EQ(keyStates[65].isUpNow, 1);
}

TEST_F(KeyStates, StampsTheTickCountAndTouchesNoOtherKey) {
  OnKeyboardMessage(13, 1, 28, 0, 0, 0, 1);
  EXPECT_EQ(keyStates[13].isUpNow, 1);
  EXPECT_EQ(keyStates[12].isUpNow, 0);
  EXPECT_EQ(keyStates[14].isUpNow, 0);
  EXPECT_EQ(test::Host().NativeCallCount(), 0U) << "the handler never calls a native";
}

}  // namespace
