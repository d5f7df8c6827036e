#include "sim/base/seed.h"

#include <atomic>
#include <random>

namespace sim {

namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ULL;

std::atomic<std::uint64_t> runSeedInUse{0};
std::atomic<std::uint64_t> seedsTaken{0};

}  // namespace

std::uint32_t SeedOfRun(std::uint64_t runSeed, std::uint64_t index) noexcept {
  std::uint64_t z = runSeed + (index + 1) * kGolden;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
}

void StartSeedSequence(std::uint64_t runSeed) noexcept {
  runSeedInUse.store(runSeed, std::memory_order_relaxed);
  seedsTaken.store(0, std::memory_order_relaxed);
}

std::uint32_t NextSeed() noexcept {
  return SeedOfRun(runSeedInUse.load(std::memory_order_relaxed),
                   seedsTaken.fetch_add(1, std::memory_order_relaxed));
}

std::uint64_t SeedsTaken() noexcept { return seedsTaken.load(std::memory_order_relaxed); }

std::uint64_t DrawRunSeed() {
  std::random_device device;
  const std::uint64_t high = device();
  return (high << 32) | device();
}

}  // namespace sim
