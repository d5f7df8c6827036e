#include "src/spawn/random.h"

#include <atomic>
#include <chrono>
#include <random>

#include "src/recorder/hooks.h"
#include "src/spawn/random_detail.h"

namespace rebound {

namespace detail {

namespace {

// The splitmix64 finaliser: spreads every input bit over the whole output, so
// that neighbouring clock readings and counter values give unrelated seeds.
std::uint64_t Mix64(std::uint64_t value) noexcept {
  value += 0x9E3779B97F4A7C15ULL;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ULL;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBULL;
  return value ^ (value >> 31);
}

std::uint32_t DeviceDraw() {
  std::random_device device;
  return static_cast<std::uint32_t>(device());
}

std::atomic<std::uint32_t> fallbackCount{0};

}  // namespace

float FloatFromDraw(std::uint32_t u) noexcept {
  constexpr float kTwoToMinus32 = 0x1p-32F;
  return static_cast<float>(u) * kTwoToMinus32;
}

std::uint32_t FallbackSeed() noexcept {
  const auto ticks = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  const std::uint64_t count = fallbackCount.fetch_add(1, std::memory_order_relaxed);
  return static_cast<std::uint32_t>(Mix64(ticks ^ Mix64(count)) >> 32);
}

std::uint32_t DeviceSeed() noexcept { return SeedOrFallback(&DeviceDraw); }

std::uint32_t SeedOrFallback(std::uint32_t (*deviceDraw)()) noexcept {
  // The device may fail to open or to read; an exception must never reach
  // the game.
  try {
    return deviceDraw();
  } catch (...) {
    return FallbackSeed();
  }
}

}  // namespace detail

namespace {

std::atomic<testing_seam::SeedSource> seedSource{&detail::DeviceSeed};

// Every operation seeds a fresh engine: no randomness outlives a call. The
// recording build records each seed, so that a replay hands out the same.
std::mt19937 FreshEngine() {
  const std::uint32_t seed = seedSource.load(std::memory_order_relaxed)();
  recorder::OnRandomDraw(seed);
  return std::mt19937(seed);
}

}  // namespace

namespace testing_seam {

SeedSource SetSeedSourceForTesting(SeedSource source) noexcept {
  return seedSource.exchange(source != nullptr ? source : &detail::DeviceSeed);
}

}  // namespace testing_seam

float RandomFloat01() {
  std::mt19937 engine = FreshEngine();
  return detail::FloatFromDraw(static_cast<std::uint32_t>(engine()));
}

std::int32_t RandomInt(std::int32_t max) {
  std::mt19937 engine = FreshEngine();
  // A negative maximum is outside the contract; it reads as 0 so that the
  // result can never be a negative index.
  const std::uint32_t bound = max > 0 ? static_cast<std::uint32_t>(max) + 1U : 1U;
  const std::uint32_t value =
      detail::UniformBelow(bound, [&engine] { return static_cast<std::uint32_t>(engine()); });
  return static_cast<std::int32_t>(value);
}

std::string RandomId() {
  std::mt19937 engine = FreshEngine();
  return detail::IdFromDraws([&engine] { return static_cast<std::uint32_t>(engine()); });
}

}  // namespace rebound
