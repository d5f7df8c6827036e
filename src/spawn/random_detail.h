// The pure steps behind the random helpers (draw to float, draws to a uniform
// index or an id) and the seed source, apart from any engine so that tests
// can drive them with chosen draws and seeds.
#pragma once

#include <cstdint>
#include <string>

namespace rebound {

namespace detail {

// Digits, then upper case, then lower case: index 0 is '0', index 61 is 'z'.
inline constexpr char kIdAlphabet[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
inline constexpr std::uint32_t kIdAlphabetSize = sizeof(kIdAlphabet) - 1;
inline constexpr std::size_t kIdLength = 8;

// u rounded to the nearest float (ties to even), times 2^-32, in single
// precision. Draws from 2^32 - 128 up round to 2^32 and give exactly 1.0.
float FloatFromDraw(std::uint32_t u) noexcept;

// A uniform value in 0..bound-1 by multiply-and-reject: the high half of
// u * bound, drawing again while the low half falls in the short first
// stretch (below 2^32 mod bound) that would favour some values. A bound of 0
// stands for 2^32 and is never passed here.
template <typename NextDraw>
std::uint32_t UniformBelow(std::uint32_t bound, NextDraw&& next) {
  std::uint64_t product = std::uint64_t{next()} * bound;
  auto low = static_cast<std::uint32_t>(product);
  if (low < bound) {
    // (2^32 - bound) mod bound, which is 2^32 mod bound.
    const std::uint32_t threshold = (0U - bound) % bound;
    while (low < threshold) {
      product = std::uint64_t{next()} * bound;
      low = static_cast<std::uint32_t>(product);
    }
  }
  return static_cast<std::uint32_t>(product >> 32);
}

// Eight characters, each a uniform pick from the alphabet made from
// consecutive draws.
template <typename NextDraw>
std::string IdFromDraws(NextDraw&& next) {
  std::string id;
  id.reserve(kIdLength);
  for (std::size_t i = 0; i < kIdLength; ++i)
    id.push_back(kIdAlphabet[UniformBelow(kIdAlphabetSize, next)]);
  return id;
}

// A seed from the given device draw; if the draw throws (the system's random
// source is unavailable), a seed from the fallback instead. Never throws.
std::uint32_t SeedOrFallback(std::uint32_t (*deviceDraw)()) noexcept;

// A seed from the system's random device, or the fallback when it fails: the
// seed every random operation of the product starts from.
std::uint32_t DeviceSeed() noexcept;

// The fallback seed: the high-resolution clock and a process-wide counter,
// mixed so that two calls in the same clock tick still differ.
std::uint32_t FallbackSeed() noexcept;

}  // namespace detail

// Tests, and the simulator through the Linux module's export
// ReboundSetSeedSource, replace where seeds come from; in the game the seeds
// always come from the system's random device.
namespace testing_seam {

using SeedSource = std::uint32_t (*)();
// Installs a seed source and returns the previous one; nullptr restores the
// random device.
SeedSource SetSeedSourceForTesting(SeedSource source) noexcept;

}  // namespace testing_seam

}  // namespace rebound
