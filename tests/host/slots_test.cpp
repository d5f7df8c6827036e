// How arguments are pushed and results read, checked against the raw slots a
// recording host sees.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "src/host/natives.h"
#include "tests/support/recording_host.h"

namespace {

using namespace rebound;
using test::Host;

class Slots : public ::testing::Test {
 protected:
  void SetUp() override { Host().Reset(); }
};

TEST_F(Slots, IntegersFillTheLowHalfWithTheUpperHalfZero) {
  struct Case {
    std::int32_t value;
    std::uint64_t slot;
  };
  const Case cases[] = {{0, 0},
                        {1, 1},
                        {-1, 0xFFFFFFFFULL},
                        {INT32_MIN, 0x80000000ULL},
                        {INT32_MAX, 0x7FFFFFFFULL},
                        {-200, 0xFFFFFF38ULL}};
  for (const auto& c : cases) {
    Host().Reset();
    natives::SET_ENTITY_HEALTH(c.value, c.value, 0);
    const auto pushes = Host().PushesOfCall(0);
    ASSERT_EQ(pushes.size(), 3U);
    EXPECT_EQ(pushes[0], c.slot) << c.value;
    EXPECT_EQ(pushes[1], c.slot) << c.value;
    EXPECT_EQ(pushes[2], 0U);
  }
}

TEST_F(Slots, FloatsTravelAsTheirBitPattern) {
  natives::SET_TEXT_WRAP(0.0F, 0.867F);
  natives::SET_TIME_SCALE(-1.5F);
  auto wrap = Host().PushesOfCall(0);
  ASSERT_EQ(wrap.size(), 2U);
  EXPECT_EQ(wrap[0], 0U);
  EXPECT_EQ(wrap[1], std::bit_cast<std::uint32_t>(0.867F));
  // A numeric conversion would give 0 here; the bit copy gives 0x3F5DF3B6.
  EXPECT_EQ(wrap[1], 0x3F5DF3B6U);
  auto scale = Host().PushesOfCall(1);
  ASSERT_EQ(scale.size(), 1U);
  EXPECT_EQ(scale[0], 0xBFC00000U) << "negative float keeps the upper half zero";
}

TEST_F(Slots, BooleansAreZeroOrOne) {
  natives::END_TEXT_COMMAND_THEFEED_POST_TICKER(false, true);
  const auto pushes = Host().PushesOfCall(0);
  ASSERT_EQ(pushes.size(), 2U);
  EXPECT_EQ(pushes[0], 0U);
  EXPECT_EQ(pushes[1], 1U);
}

TEST_F(Slots, TextAndOutVariablesTravelAsAddresses) {
  const char* entry = "STRING";
  natives::BEGIN_TEXT_COMMAND_THEFEED_POST(entry);
  float x = 0, y = 0, z = 0;
  natives::SPAWNPOINTS_GET_SEARCH_RESULT(-3, &x, &y, &z);
  auto text = Host().PushesOfCall(0);
  ASSERT_EQ(text.size(), 1U);
  EXPECT_EQ(text[0], reinterpret_cast<std::uintptr_t>(entry));
  auto outs = Host().PushesOfCall(1);
  ASSERT_EQ(outs.size(), 4U);
  EXPECT_EQ(outs[0], 0xFFFFFFFDU);
  EXPECT_EQ(outs[1], reinterpret_cast<std::uintptr_t>(&x));
  EXPECT_EQ(outs[2], reinterpret_cast<std::uintptr_t>(&y));
  EXPECT_EQ(outs[3], reinterpret_cast<std::uintptr_t>(&z));
}

TEST_F(Slots, EachCallIsInitPushesThenCall) {
  natives::DRAW_RECT(0.5F, 0.5F, 0.1F, 0.1F, 1, 2, 3, 4, 0);
  natives::PLAYER_PED_ID();
  const auto& calls = Host().calls;
  ASSERT_EQ(calls.size(), 1U + 9U + 1U + 2U);
  EXPECT_EQ(calls[0].function, "nativeInit");
  EXPECT_EQ(calls[0].value, 0x3A618A217E5154F0U);
  for (int i = 1; i <= 9; ++i)
    EXPECT_EQ(calls[static_cast<std::size_t>(i)].function, "nativePush64");
  EXPECT_EQ(calls[10].function, "nativeCall");
  EXPECT_EQ(calls[11].function, "nativeInit") << "a native without arguments pushes nothing";
  EXPECT_EQ(calls[11].value, 0xD80958FC74E988A6U);
  EXPECT_EQ(calls[12].function, "nativeCall");
}

TEST_F(Slots, IntegerAndBooleanResultsReadOnlyTheLowHalf) {
  Host().results.push_back({0xDEADBEEF'FFFFFF9CULL});  // -100 with garbage above
  Host().results.push_back({0xFFFFFFFF'00000000ULL});  // false: low half is zero
  Host().results.push_back({0x00000000'00000002ULL});  // any non-zero is true
  EXPECT_EQ(natives::GET_ENTITY_HEALTH(1), -100);
  EXPECT_FALSE(natives::IS_SCREEN_FADED_OUT());
  EXPECT_TRUE(natives::IS_SCREEN_FADED_OUT());
}

TEST_F(Slots, FloatResultIsTheLowHalfBits) {
  Host().results.push_back({0xABCD0000'00000000ULL | std::bit_cast<std::uint32_t>(300.25F)});
  EXPECT_EQ(natives::VDIST(0, 0, 0, 0, 0, 0), 300.25F);
}

TEST_F(Slots, VectorResultComesFromSlotsZeroOneTwo) {
  Host().results.push_back({0xFFFFFFFF'00000000ULL | std::bit_cast<std::uint32_t>(1.5F),
                            std::bit_cast<std::uint32_t>(-2.25F),
                            std::bit_cast<std::uint32_t>(100.0F)});
  const NativeVector3 v = natives::GET_ENTITY_COORDS(1, true);
  EXPECT_EQ(v.x, 1.5F);
  EXPECT_EQ(v.y, -2.25F);
  EXPECT_EQ(v.z, 100.0F);
}

TEST_F(Slots, TextResultIsCopiedAtOnceAndNullReadsEmpty) {
  char gameText[] = "Respawn";
  Host().results.push_back({reinterpret_cast<std::uintptr_t>(gameText)});
  Host().results.push_back({0});
  const std::string first = natives::GET_FILENAME_FOR_AUDIO_CONVERSATION("KS_RESPAWN_B");
  std::strcpy(gameText, "Changed");  // the game reuses its buffer
  EXPECT_EQ(first, "Respawn");
  EXPECT_EQ(natives::GET_FILENAME_FOR_AUDIO_CONVERSATION("KS_RESPAWN_B"), "");
}

}  // namespace
