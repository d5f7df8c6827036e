// The seeds a seeded run hands the plug-in.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "sim/base/seed.h"

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

}  // namespace
