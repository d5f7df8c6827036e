// Follows the respawn flow from the outside, the way a player would: from the
// natives it calls it tells when a death was taken over, when the shard and the
// bar appear, how full the bar is, when the screen fades, where the search went
// and where the player came back. It feeds the timeline and the report.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/trace.h"

namespace sim {

class World;

// The flow's phase as seen from its calls.
enum class FlowPhase { Watching, DeathPause, ShardDelay, BarFilling, Respawning };
inline constexpr std::size_t kFlowPhaseCount = 5;
const char* FlowPhaseName(FlowPhase phase);

struct FlowKeyFrame {
  std::int64_t frame = 0;
  std::string caption;
};

struct DeathRecord {
  std::int64_t deathFrame = -1;
  std::int64_t shardFrame = -1;    // first frame the shard was drawn
  std::int64_t fadeOutFrame = -1;  // bar full, fade-out started
  std::int64_t respawnFrame = -1;  // back to watching
  double deathPosition[3] = {0, 0, 0};
  double spawnPosition[3] = {0, 0, 0};
  double spawnHeading = 0.0;
  double distance = -1.0;  // what the game measured between the two
  int taps = 0;
  std::string searchOutcome;  // "search", "road node", "place of death"
};

class FlowObserver {
 public:
  void OnNative(World& world, const TraceEntry& entry);
  // Called at the end of each frame with the native calls made in it.
  void OnFrameEnd(World& world, std::int64_t frame, std::uint32_t calls);

  FlowPhase Phase() const { return phase_; }
  const std::vector<DeathRecord>& Deaths() const { return deaths_; }
  const std::vector<FlowKeyFrame>& KeyFrames() const { return keyFrames_; }
  // Frames spent and native calls made in each phase (by the phase at frame end).
  const std::array<std::int64_t, kFlowPhaseCount>& FramesIn() const { return framesIn_; }
  const std::array<std::uint64_t, kFlowPhaseCount>& CallsIn() const { return callsIn_; }
  const std::array<std::uint32_t, kFlowPhaseCount>& MaxCallsIn() const { return maxCallsIn_; }
  // The bar's fill (0..100 %) drawn in a frame, if the bar was drawn.
  std::optional<double> FillAt(std::int64_t frame) const;

 private:
  void Enter(World& world, FlowPhase phase, const std::string& why);
  DeathRecord* Current() { return deaths_.empty() ? nullptr : &deaths_.back(); }

  FlowPhase phase_ = FlowPhase::Watching;
  std::vector<DeathRecord> deaths_;
  std::vector<FlowKeyFrame> keyFrames_;
  std::array<std::int64_t, kFlowPhaseCount> framesIn_{};
  std::array<std::uint64_t, kFlowPhaseCount> callsIn_{};
  std::array<std::uint32_t, kFlowPhaseCount> maxCallsIn_{};
  std::vector<std::pair<std::int64_t, double>> fills_;  // frame, percent
  double lastNotedFill_ = -1.0;
  bool shardDrawnThisDeath_ = false;
  bool halfNoted_ = false;
  bool fullNoted_ = false;
  bool zeroNoted_ = false;
  bool inSearch_ = false;
  std::int64_t lastFrame_ = -1;
};

}  // namespace sim
