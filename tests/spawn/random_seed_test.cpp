// The seeds the product really uses, from the system's random device: they
// must differ from draw to draw. Some C++ runtimes have shipped a random device
// that is a fixed-seed engine underneath, which would make every respawn land
// on the same spot; this runs in each build, the Windows one under Wine.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "src/spawn/random.h"
#include "src/spawn/random_detail.h"

namespace {

TEST(DeviceSeeds, DrawsInOneRunDiffer) {
  // Eight 32-bit seeds from a working source collide with odds of about 1 in
  // 10^8.
  std::set<std::uint32_t> seeds;
  for (int i = 0; i < 8; ++i) seeds.insert(rebound::detail::DeviceSeed());
  EXPECT_EQ(seeds.size(), 8U);
}

TEST(DeviceSeeds, TheProductsOperationsDrawFromThem) {
  // Without a test seed source every operation builds its engine from a fresh
  // device seed, so two ids agree only by a 62^-8 chance.
  EXPECT_NE(rebound::RandomId(), rebound::RandomId());
}

}  // namespace
