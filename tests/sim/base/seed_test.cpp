// The seeds a seeded run hands the plug-in, and the fibre's stack high-water
// mark that the run's summary reports.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "sim/base/seed.h"
#include "sim/platform/fibre.h"

namespace {

// The high halves of splitmix64's first outputs from state 0, as published
// with the generator: 0xE220A8397B1DCDAF, 0x6E789E6AA1B965F4,
// 0x06C45D188009454F.
TEST(RunSeeds, AreSplitmix64OfTheSeedAndACounter) {
  EXPECT_EQ(sim::SeedOfRun(0, 0), 0xE220A839U);
  EXPECT_EQ(sim::SeedOfRun(0, 1), 0x6E789E6AU);
  EXPECT_EQ(sim::SeedOfRun(0, 2), 0x06C45D18U);
}

TEST(RunSeeds, SequenceRestartsAndCountsAndDiffersBetweenSeeds) {
  sim::StartSeedSequence(42);
  std::vector<std::uint32_t> first;
  for (int i = 0; i < 4; ++i) first.push_back(sim::NextSeed());
  EXPECT_EQ(sim::SeedsTaken(), 4U);
  sim::StartSeedSequence(42);
  EXPECT_EQ(sim::SeedsTaken(), 0U);
  for (std::uint32_t seed : first) EXPECT_EQ(sim::NextSeed(), seed);
  EXPECT_EQ(first[2], sim::SeedOfRun(42, 2));
  // Neighbouring run seeds and neighbouring draws give unrelated seeds.
  std::set<std::uint32_t> seen;
  for (std::uint64_t run = 0; run < 16; ++run) {
    for (std::uint64_t k = 0; k < 16; ++k) seen.insert(sim::SeedOfRun(run, k));
  }
  EXPECT_EQ(seen.size(), 256U);
}

TEST(RunSeeds, DrawnRunSeedsDiffer) { EXPECT_NE(sim::DrawRunSeed(), sim::DrawRunSeed()); }

#if !defined(_WIN32)

// Writes `depth` bytes of stack below the current frame, and keeps the
// compiler from dropping the array.
void UseStack(std::size_t depth) {
  auto* volatile block = static_cast<unsigned char*>(__builtin_alloca(depth));
  std::memset(block, 0, depth);
}

TEST(FibreStack, PeakIsTheDeepestByteWritten) {
  constexpr std::size_t kSize = 64 * 1024;
  sim::Fibre idle([] {}, kSize);
  // Only the first switch's record, at the top, before the fibre has run.
  EXPECT_LE(idle.PeakStackUse().peak, 128U);
  EXPECT_EQ(idle.PeakStackUse().size, kSize);

  std::size_t depth = 10000;
  sim::Fibre fibre(
      [&depth] {
        for (;;) {
          UseStack(depth);
          sim::Fibre::Yield();
        }
      },
      kSize);
  fibre.Resume();
  const sim::StackUse first = fibre.PeakStackUse();
  ASSERT_TRUE(first.measured);
  EXPECT_GE(first.peak, 10000U);
  EXPECT_LT(first.peak, 10000U + 4096U) << "more than the block and a few frames";
  // A shallower pass leaves the mark where it was; a deeper one moves it.
  depth = 2000;
  fibre.Resume();
  EXPECT_EQ(fibre.PeakStackUse().peak, first.peak);
  depth = 30000;
  fibre.Resume();
  EXPECT_GE(fibre.PeakStackUse().peak, 30000U);
}

#endif

}  // namespace
