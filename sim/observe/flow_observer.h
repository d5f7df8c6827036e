// Follows the respawn flow from the outside, the way a player would: from the
// natives it calls it tells when a death was taken over, when the shard and the
// bar appear, how full the bar is, when the screen fades, where the search went
// and where the player came back. Its notes go to the timeline; its deaths and
// phase costs feed the summary and the report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/base/alloc_counter.h"
#include "sim/observe/trace.h"

namespace sim {

class World;

// The flow's phase as seen from its calls.
enum class FlowPhase { Watching, DeathPause, ShardDelay, BarFilling, Respawning };
inline constexpr std::size_t kFlowPhaseCount = 5;
const char* FlowPhaseName(FlowPhase phase);

struct DeathRecord {
  // Points of a search kept for the map of a death; a game that finds more
  // has them counted but not kept.
  static constexpr std::size_t kKeptSearchResults = 32;

  std::int64_t deathFrame = -1;
  std::int64_t shardFrame = -1;    // first frame the shard was drawn
  std::int64_t fadeOutFrame = -1;  // bar full, fade-out started
  std::int64_t placeFrame = -1;    // the player set down at the spawn point
  std::int64_t respawnFrame = -1;  // back to watching
  double deathPosition[3] = {0, 0, 0};
  double spawnPosition[3] = {0, 0, 0};
  double spawnHeading = 0.0;
  double distance = -1.0;  // what the game measured between the two
  int taps = 0;
  std::string searchOutcome;  // "search", "road node", "place of death"
  // Where the spawn search was centred, what it found and which point the
  // plug-in took from it or from the road-node fallback.
  bool searched = false;
  double searchCentre[3] = {0, 0, 0};
  std::vector<std::array<double, 3>> searchResults;
  std::size_t searchResultCount = 0;
  bool chosen = false;
  double chosenPoint[3] = {0, 0, 0};
};

// What the frames spent in one phase cost, summed and at most in one frame.
struct PhaseCost {
  std::int64_t frames = 0;
  std::uint64_t calls = 0;  // native calls
  std::uint32_t maxCalls = 0;
  std::uint64_t pluginAllocations = 0;  // heap allocations by the plug-in
  std::uint64_t maxPluginAllocations = 0;
  std::uint64_t simulatorAllocations = 0;  // ... and by the simulator
  std::uint64_t maxSimulatorAllocations = 0;
};

class FlowObserver {
 public:
  // Deaths kept for the summary and the report; later ones are counted but
  // not kept, so that a long run holds no more than these.
  static constexpr std::size_t kKeptDeaths = 1000;

  // True for the natives OnNative looks at, by the game's name; only those
  // need decoding when no trace is kept. The dispatch table marks them once
  // (NativeEntry::followedByFlow), so that a call asks one flag. Both come
  // from one table of natives and their steps, so a native cannot be looked
  // at without being followed.
  static bool Follows(std::string_view nativeName);
  // The natives followed, in the table's order.
  static std::vector<std::string_view> FollowedNatives();
  void OnNative(World& world, const TraceEntry& entry);
  // Called once at the end of each frame with the native calls and the heap
  // allocations made in it. Inline: it runs every frame, and is a handful of
  // additions and comparisons.
  void OnFrameEnd(std::uint32_t calls, const AllocationCounts& allocations) {
    PhaseCost& cost = costs_[static_cast<std::size_t>(phase_)];
    ++cost.frames;
    cost.calls += calls;
    if (calls > cost.maxCalls) cost.maxCalls = calls;
    // Most frames allocate nothing at all: one test passes them by.
    if ((allocations.plugin | allocations.simulator) != 0) [[unlikely]]
      AddAllocations(cost, allocations);
  }

  FlowPhase Phase() const { return phase_; }
  // The death the flow is in or last went through (kept or not); null before
  // the first.
  const DeathRecord* CurrentDeath() const { return const_cast<FlowObserver*>(this)->Current(); }
  // The bar's fill in percent as last drawn, and the frame it was drawn in
  // (-1 before any).
  double BarFill() const { return barFill_; }
  std::int64_t BarFillFrame() const { return barFillFrame_; }
  // Taps seen while the bar filled, over every death.
  std::uint64_t TapCount() const { return tapCount_; }
  const std::vector<DeathRecord>& Deaths() const { return deaths_; }
  // Every death taken over, kept or not.
  std::uint64_t DeathCount() const { return deathCount_; }
  // What each phase cost (by the phase at frame end).
  const std::array<PhaseCost, kFlowPhaseCount>& Costs() const { return costs_; }

 private:
  struct Steps;  // what each followed native tells, one function a native

  static void AddAllocations(PhaseCost& cost, const AllocationCounts& allocations) {
    cost.pluginAllocations += allocations.plugin;
    if (allocations.plugin > cost.maxPluginAllocations)
      cost.maxPluginAllocations = allocations.plugin;
    cost.simulatorAllocations += allocations.simulator;
    if (allocations.simulator > cost.maxSimulatorAllocations) {
      cost.maxSimulatorAllocations = allocations.simulator;
    }
  }
  void Enter(World& world, FlowPhase phase, const std::string& why);
  // A new death record, kept or not, and the per-death notes reset.
  void BeginDeath(std::int64_t frame);
  DeathRecord* Current() {
    if (deathCount_ > deaths_.size()) return &unkeptDeath_;
    return deaths_.empty() ? nullptr : &deaths_.back();
  }

  FlowPhase phase_ = FlowPhase::Watching;
  std::vector<DeathRecord> deaths_;
  DeathRecord unkeptDeath_;  // the current death once kKeptDeaths are kept
  std::uint64_t deathCount_ = 0;
  std::array<PhaseCost, kFlowPhaseCount> costs_{};
  double lastNotedFill_ = -1.0;
  double barFill_ = 0.0;
  std::int64_t barFillFrame_ = -1;
  std::uint64_t tapCount_ = 0;
  bool shardDrawnThisDeath_ = false;
  bool inSearch_ = false;
};

}  // namespace sim
