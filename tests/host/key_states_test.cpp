// The key-state table the keyboard handler writes.
#include <gtest/gtest.h>

#include <cstdint>

#include "src/host/key_states.h"
#include "src/host/platform.h"
#include "src/host/process_state.h"
#include "tests/support/recording_host.h"

namespace {

using namespace rebound;

class KeyStates : public ::testing::Test {
 protected:
  void SetUp() override { testing_seam::ResetProcessStateForTesting(); }
  void TearDown() override { testing_seam::ResetProcessStateForTesting(); }
};

TEST_F(KeyStates, EveryKeyBelow255HasASlotOfItsOwn) {
  for (std::uint32_t key = 0; key < 255; ++key) {
    OnKeyboardMessage(key, 1, 0, 0, static_cast<std::int32_t>(key), 0, 0);
  }
  for (std::uint32_t key = 0; key < 255; ++key) {
    EXPECT_EQ(keyStates[key].withAlt, static_cast<std::int32_t>(key)) << key;
  }
}

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
  const std::uint32_t before = TickCountMs();
  OnKeyboardMessage(13, 1, 28, 0, 0, 0, 1);
  const std::uint32_t after = TickCountMs();
  // Differences, so that a wrap of the 32-bit count in between still holds.
  EXPECT_LE(static_cast<std::uint32_t>(keyStates[13].time - before), after - before);
  EXPECT_EQ(keyStates[12].time, 0U);
  EXPECT_EQ(keyStates[13].isUpNow, 1);
  EXPECT_EQ(keyStates[12].isUpNow, 0);
  EXPECT_EQ(keyStates[14].isUpNow, 0);
  EXPECT_EQ(test::Host().NativeCallCount(), 0U) << "the handler never calls a native";
}

}  // namespace
