// What the HTML report shows of a run, gathered as the run goes and bounded
// whatever the run's length: the timeline's series in columns that widen as
// the run grows, marks of taps, deaths and the plug-in's starts and unloads
// (capped), the key frames of each death, and a sample of the drawn frames
// for the frame viewer that always holds the key frames.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/game/drawing.h"
#include "sim/game/screen.h"
#include "sim/host/run_watcher.h"
#include "sim/observe/flow_observer.h"
#include "sim/observe/trace.h"

namespace sim {

// One column of the timeline: the frames from firstFrame on, summed or at
// their most.
struct SeriesColumn {
  std::int64_t firstFrame = 0;
  std::uint32_t frames = 0;
  float maxFill = -1.0F;  // the bar's fill in percent; -1 when no bar was drawn
  float maxFade = 0.0F;   // 0 clear .. 1 black
  std::uint32_t maxCalls = 0;
  std::uint64_t calls = 0;
  std::array<std::uint32_t, kFlowPhaseCount> phaseFrames{};
};

// Moments marked on the timeline. Host events become marks through one table
// (HostEventMark), so a new kind of host event needs one line there.
enum class MarkKind { Load, ScriptStart, Death, Tap, Unload };
inline constexpr std::size_t kMarkKindCount = 5;
const char* MarkKindName(MarkKind kind);

// The mark a host event of this name makes; false when it makes none.
bool HostEventMark(std::string_view hostEvent, MarkKind& kind);

struct RunMark {
  std::int64_t frame = 0;
  MarkKind kind = MarkKind::Tap;
};

// A frame kept for the viewer, with what is shown beside its picture.
struct RecordedFrame {
  std::int64_t frame = 0;
  std::int32_t gameTime = 0;
  FlowPhase phase = FlowPhase::Watching;
  float fill = -1.0F;  // percent, -1 when no bar was drawn
  float fade = 0.0F;
  FadeState fadeState = FadeState::FadedIn;
  std::uint64_t death = 0;  // the death the flow was in (1 is the first), 0 before any
  std::uint32_t callCount = 0;
  std::vector<const NativeSignature*> calls;  // in order, the first kKeptCallsPerFrame
  bool drawn = false;
  FrameDrawing drawing;
  std::string key;              // what makes it a key frame; empty for the others
  std::uint64_t candidate = 0;  // its place among the frames the viewer could show
  std::string fault;            // the frame the run stopped in: what was wrong
  std::string refused;          // ... and the call refused, as RefusedCallText writes it
};

class ReportCollector : public RunWatcher {
 public:
  static constexpr std::size_t kMaxColumns = 2048;
  static constexpr std::size_t kKeptMarks = 5000;
  static constexpr std::size_t kKeptKeyFrames = 60;
  static constexpr std::size_t kViewerFrames = 600;
  static constexpr std::size_t kKeptCallsPerFrame = 400;

  // `takeDrawings`: the draw lists are the collector's alone, so each frame's
  // is taken out of the drawing model at the frame's end and the model keeps
  // none; otherwise (the pictures of --frames-svg want them too) it is copied.
  explicit ReportCollector(bool takeDrawings) : takeDrawings_(takeDrawings) {}

  void OnNativeCall(const NativeSignature& native) override;
  void OnHostEvent(const RunView& run, std::string_view name) override;
  void OnFrameEnd(const RunView& run) override;
  void OnFault(const RunView& run, const TraceFault& fault) override;

  // The fault the run stopped at, if it did.
  const std::optional<TraceFault>& Fault() const { return fault_; }

  const std::vector<SeriesColumn>& Columns() const { return columns_; }
  // Frames in each column (a power of two), and the frames recorded.
  std::int64_t FramesPerColumn() const { return framesPerColumn_; }
  std::int64_t FramesSeen() const { return framesSeen_; }

  const std::vector<RunMark>& Marks() const { return marks_; }
  // Whether a plug-in was loaded in the run.
  bool PluginLoaded() const { return pluginLoaded_; }
  std::uint64_t MarksLeftOut() const { return marksLeftOut_; }

  // In frame order; key frames and every `Stride()`-th candidate.
  const std::vector<RecordedFrame>& Frames() const { return frames_; }
  std::uint64_t Candidates() const { return candidates_; }
  std::uint64_t Stride() const { return stride_; }
  std::size_t KeyFrameCount() const { return keyFrames_; }
  std::uint64_t KeyFramesLeftOut() const { return keyFramesLeftOut_; }

 private:
  void AddMark(std::int64_t frame, MarkKind kind);
  void AddToSeries(std::int64_t frame, float fill, float fade, std::uint32_t calls,
                   FlowPhase phase);
  // What makes this frame a key frame of the current death ("" for none).
  std::string KeyOf(const RunView& run, std::int64_t frame, float fill);
  void Keep(RecordedFrame frame);
  // Marks a kept frame as the one the run stopped in.
  void MarkFault(RecordedFrame& frame) const;

  bool takeDrawings_;

  std::vector<SeriesColumn> columns_;
  std::int64_t framesPerColumn_ = 1;
  std::int64_t framesSeen_ = 0;

  std::vector<RunMark> marks_;
  std::uint64_t marksLeftOut_ = 0;
  bool pluginLoaded_ = false;
  std::uint64_t deathsSeen_ = 0;
  std::uint64_t tapsSeen_ = 0;

  // This frame's native calls so far; its room is kept from frame to frame.
  std::vector<const NativeSignature*> calls_;

  std::vector<RecordedFrame> frames_;
  std::uint64_t candidates_ = 0;
  std::uint64_t stride_ = 1;
  std::size_t keyFrames_ = 0;
  std::uint64_t keyFramesLeftOut_ = 0;

  // Which moments of the current death have been taken as key frames.
  struct DeathMoments {
    bool shard = false;
    bool barShown = false;
    bool barHalf = false;
    bool barFull = false;
    bool fadingOut = false;
    bool black = false;
    bool placed = false;
    bool fadingIn = false;
    bool fadeInSeen = false;
    bool clear = false;
  };
  DeathMoments moments_;

  std::optional<TraceFault> fault_;
};

}  // namespace sim
