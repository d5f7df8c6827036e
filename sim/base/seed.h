// The seeds a replayable run hands the plug-in's random helpers in place of
// the system's random device: from the run's seed N, the k-th seed the plug-in
// asks for is the high half of splitmix64(N + (k + 1) * golden ratio), so one N
// always gives the same sequence. The plug-in takes a plain function, so the
// sequence under way is process-wide; one simulation runs at a time.
#pragma once

#include <cstdint>

namespace sim {

// The k-th seed (from 0) of the run seeded with `runSeed`.
std::uint32_t SeedOfRun(std::uint64_t runSeed, std::uint64_t index) noexcept;

// Starts the sequence of `runSeed` from its first seed.
void StartSeedSequence(std::uint64_t runSeed) noexcept;
// The next seed of the sequence started last: the function given to the
// plug-in. Safe to call from any thread.
std::uint32_t NextSeed() noexcept;
// How many seeds the plug-in has taken since the sequence started.
std::uint64_t SeedsTaken() noexcept;

// A run seed from the system's random device, for a run not given one.
std::uint64_t DrawRunSeed();

}  // namespace sim
