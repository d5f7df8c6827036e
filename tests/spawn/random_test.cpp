// The random helpers: the published mt19937 sequence behind each call, the
// exact multiply-and-reject index, the float conversion up to exactly 1.0,
// the id alphabet with its skipped draws, and seeds that never throw.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "src/host/process_state.h"
#include "src/spawn/random.h"
#include "src/spawn/random_detail.h"

namespace {

using rebound::detail::FloatFromDraw;
using rebound::detail::IdFromDraws;
using rebound::detail::UniformBelow;

constexpr std::uint64_t kTwoTo32 = std::uint64_t{1} << 32;

// ---- A seed source that tests script, and a draw source for the pure steps ----

std::vector<std::uint32_t> scriptedSeeds;
std::size_t seedsTaken = 0;

std::uint32_t ScriptedSeed() {
  const std::uint32_t seed = scriptedSeeds.at(seedsTaken % scriptedSeeds.size());
  ++seedsTaken;
  return seed;
}

class RandomHelpers : public ::testing::Test {
 protected:
  void SetUp() override {
    scriptedSeeds = {5489};
    seedsTaken = 0;
    rebound::testing_seam::ResetProcessStateForTesting();
    rebound::testing_seam::SetSeedSourceForTesting(&ScriptedSeed);
  }
  void TearDown() override { rebound::testing_seam::ResetProcessStateForTesting(); }

  static void UseSeeds(std::vector<std::uint32_t> seeds) {
    scriptedSeeds = std::move(seeds);
    seedsTaken = 0;
  }
};

// Hands out the given draws in order; fails the test if more are taken.
struct Draws {
  std::vector<std::uint32_t> values;
  std::size_t next = 0;
  std::uint32_t operator()() {
    if (next >= values.size()) {
      ADD_FAILURE() << "more draws taken than scripted";
      return 1;
    }
    return values[next++];
  }
};

std::uint32_t FirstOutput(std::uint32_t seed) {
  return static_cast<std::uint32_t>(std::mt19937(seed)());
}

// The middle of the draws that map to alphabet index k.
std::uint32_t MidBucket(std::uint32_t k) {
  return static_cast<std::uint32_t>(((2 * std::uint64_t{k} + 1) * kTwoTo32) / 124);
}

// The smallest draw that maps to index k of 62 (before any rejection).
std::uint32_t BucketStart(std::uint32_t k) {
  return static_cast<std::uint32_t>((std::uint64_t{k} * kTwoTo32 + 61) / 62);
}

// ---- The engine and its seed ----------------------------------------------------

TEST_F(RandomHelpers, EngineIsThePublishedMersenneTwister) {
  std::mt19937 defaultSeeded;
  defaultSeeded.discard(9999);
  EXPECT_EQ(defaultSeeded(), 4123659995U) << "the 10000th output of mt19937(5489)";
  EXPECT_EQ(FirstOutput(5489), 3499211612U);
}

TEST_F(RandomHelpers, EachCallUsesTheFirstOutputsOfItsOwnFreshlySeededEngine) {
  // mt19937(5489) begins 3499211612, 581869302, 3890346734, 3586334585,
  // 545404204, 4161255391, 3922919429, 949333985; none is rejected for 62,
  // and their indices (u * 62 >> 32) are 50, 8, 56, 51, 7, 60, 56, 13.
  EXPECT_EQ(rebound::RandomId(), "o8up7yuD");
  EXPECT_EQ(rebound::RandomInt(99), 81) << "3499211612 * 100 >> 32";
  EXPECT_EQ(rebound::RandomFloat01(), FloatFromDraw(3499211612U));
  EXPECT_EQ(rebound::RandomId(), "o8up7yuD") << "no engine state survives a call";
  EXPECT_EQ(seedsTaken, 4U) << "one seed per call, one engine per id";
}

// ---- RandomInt ------------------------------------------------------------------

TEST_F(RandomHelpers, RandomIntRejectsADrawInTheBiasedStretchAndUsesTheNext) {
  // For 1431655766 values, 2^32 mod b = 1431655764: about a third of the
  // draws fall below it and are drawn again. Find seeds whose first draw is
  // rejected and whose second is taken.
  constexpr std::int32_t kMax = 1431655765;
  constexpr std::uint64_t kBound = std::uint64_t{kMax} + 1;
  constexpr std::uint64_t kThreshold = kTwoTo32 % kBound;
  std::size_t checked = 0;
  for (std::uint32_t seed = 1; checked < 5 && seed < 1000; ++seed) {
    std::mt19937 engine(seed);
    const std::uint64_t first = std::uint64_t{engine()} * kBound;
    const std::uint64_t second = std::uint64_t{engine()} * kBound;
    if (first % kTwoTo32 >= kThreshold || second % kTwoTo32 < kThreshold) continue;
    if (first >> 32 == second >> 32) continue;  // would not tell the two apart
    UseSeeds({seed});
    EXPECT_EQ(rebound::RandomInt(kMax), static_cast<std::int32_t>(second >> 32)) << seed;
    ++checked;
  }
  EXPECT_EQ(checked, 5U) << "not enough seeds with a rejected first draw";
}

TEST(UniformBelow, RejectsExactlyTheDrawsBelowTwoTo32ModBound) {
  struct Case {
    std::uint32_t bound;
    std::vector<std::uint32_t> draws;  // the last one is taken
    std::uint32_t value;
  };
  const std::uint32_t inverseOf31 = 1039104991;  // 31 * it = 1 mod 2^31: u * 62 mod 2^32 = 2
  for (const Case& c : {
           Case{3, {0, 5}, 0},        // 2^32 mod 3 = 1: only low 0 is rejected
           Case{3, {1431655766}, 1},  // low 2 is below 3 but not below 1: taken
           Case{3, {4294967295U}, 2},
           Case{62, {0, 2147483648U, inverseOf31, inverseOf31 + 2147483648U, 4294967295U}, 61},
           Case{62, {3}, 0},           // low 186 is not below 4
           Case{1, {0}, 0},            // 2^32 mod 1 = 0: nothing is rejected
           Case{2147483648U, {0}, 0},  // 2^32 mod 2^31 = 0
           Case{2147483648U, {4294967295U}, 2147483647U},
       }) {
    Draws draws{c.draws};
    EXPECT_EQ(UniformBelow(c.bound, draws), c.value) << "bound " << c.bound;
    EXPECT_EQ(draws.next, c.draws.size()) << "bound " << c.bound;
  }
}

TEST_F(RandomHelpers, RandomIntStaysWithinZeroToMax) {
  for (std::int32_t max : {0, 1, 2, 61, 1431655765, INT32_MAX}) {
    for (std::uint32_t seed = 0; seed < 200; ++seed) {
      UseSeeds({seed});
      const std::int32_t value = rebound::RandomInt(max);
      ASSERT_GE(value, 0) << max << " seed " << seed;
      ASSERT_LE(value, max) << max << " seed " << seed;
    }
  }
}

TEST_F(RandomHelpers, RandomIntOfOneIsTheTopBitOfTheFirstDraw) {
  std::size_t ones = 0;
  for (std::uint32_t seed = 0; seed < 64; ++seed) {
    UseSeeds({seed});
    const auto expected = static_cast<std::int32_t>(FirstOutput(seed) >> 31);
    EXPECT_EQ(rebound::RandomInt(1), expected) << seed;
    ones += static_cast<std::size_t>(expected);
  }
  EXPECT_GT(ones, 0U);
  EXPECT_LT(ones, 64U);
}

TEST_F(RandomHelpers, NegativeMaxReadsAsZero) {
  for (std::int32_t max : {-1, -2, INT32_MIN}) {
    for (std::uint32_t seed : {0U, 5489U, 77U}) {
      UseSeeds({seed});
      EXPECT_EQ(rebound::RandomInt(max), 0) << max;
    }
  }
}

// ---- RandomFloat01 ----------------------------------------------------------------

TEST(FloatFromDraw, RoundsToNearestEvenSoTheTopDrawsGiveExactlyOne) {
  struct Case {
    std::uint32_t u;
    float value;
  };
  for (const Case& c : {
           Case{0, 0.0F},
           Case{1, 0x1p-32F},
           Case{2147483648U, 0.5F},
           Case{4294967295U - 128, 1.0F - 0x1p-24F},  // 2^32 - 129 rounds down
           Case{4294967295U - 127, 1.0F},             // 2^32 - 128: a tie, to even
           Case{4294967295U, 1.0F},
       }) {
    EXPECT_EQ(FloatFromDraw(c.u), c.value) << c.u;
  }
  EXPECT_LT(FloatFromDraw(4294967295U - 128), 1.0F);
}

// ---- RandomId -----------------------------------------------------------------------

TEST(IdFromDraws, MapsDrawsOntoDigitsThenUpperThenLowerCase) {
  Draws draws;
  for (std::uint32_t k = 0; k < 64; ++k) draws.values.push_back(MidBucket(k % 62));
  std::string text;
  for (int i = 0; i < 8; ++i) text += IdFromDraws(draws);
  EXPECT_EQ(text, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz01");
}

TEST(IdFromDraws, BucketEdgesSwitchCharacterExactly) {
  // The last draw of one character and the first of the next, around the
  // digit/upper and upper/lower boundaries and the very ends. The first draw
  // of 'z' leaves a low product of exactly 4: not skipped.
  Draws draws{{BucketStart(10) - 1, BucketStart(10), BucketStart(36) - 1, BucketStart(36),
               BucketStart(61) - 1, BucketStart(61), 4294967295U, 1}};
  EXPECT_EQ(IdFromDraws(draws), "9AZayzz0");
}

TEST(IdFromDraws, SkipsTheFourDrawsWhoseLowProductIsBelowFour) {
  // u * 62 mod 2^32 is 0 for u = 0 and 2^31 and 2 for the inverse of 31
  // (mod 2^31) and that plus 2^31; without the skip they would favour
  // '0', 'V', ... Each skipped draw is simply drawn again.
  const std::uint32_t inverseOf31 = 1039104991;
  Draws draws{{0, MidBucket(35), 2147483648U, inverseOf31, inverseOf31 + 2147483648U, MidBucket(1),
               MidBucket(2), 0, MidBucket(3), MidBucket(61), MidBucket(36), MidBucket(10),
               MidBucket(0)}};
  EXPECT_EQ(IdFromDraws(draws), "Z123zaA0");
  EXPECT_EQ(draws.next, draws.values.size());
}

// ---- Seeds ------------------------------------------------------------------------

std::uint32_t FailingDevice() { throw std::runtime_error("no random source"); }
std::uint32_t WorkingDevice() { return 1234567; }

TEST(Seeds, AFailingDeviceFallsBackInsteadOfThrowing) {
  std::uint32_t seed = 0;
  EXPECT_NO_THROW(seed = rebound::detail::SeedOrFallback(&FailingDevice));
  EXPECT_EQ(rebound::detail::SeedOrFallback(&WorkingDevice), 1234567U);
  // The counter keeps two fallbacks in the same clock tick apart.
  EXPECT_NE(rebound::detail::FallbackSeed(), rebound::detail::FallbackSeed());
  (void)seed;
}

}  // namespace
