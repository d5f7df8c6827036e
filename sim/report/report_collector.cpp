#include "sim/report/report_collector.h"

#include <algorithm>
#include <utility>

#include "sim/base/number_format.h"
#include "sim/game/world.h"

namespace sim {

namespace {

// A fade is pictured under way at about half its course.
constexpr float kFadeUnderWay = 0.5F;
// The bar counts as full once its fill is within rounding of 100 %.
constexpr float kBarFull = 99.999F;
// The key of the frame a run stopped in.
constexpr const char* kStoppedKey = "The run stopped at a fault";

std::string Percent(double v) { return FixedNumber(v, 0) + " %"; }

void Append(std::string& caption, const std::string& what) {
  if (!caption.empty()) caption += "; ";
  caption += what;
}

}  // namespace

const char* MarkKindName(MarkKind kind) {
  switch (kind) {
    case MarkKind::Load:
      return "plug-in loaded";
    case MarkKind::ScriptStart:
      return "script started";
    case MarkKind::Death:
      return "death";
    case MarkKind::Tap:
      return "tap";
    case MarkKind::Unload:
      return "plug-in unloaded";
  }
  return "?";
}

bool HostEventMark(std::string_view hostEvent, MarkKind& kind) {
  // The host events of the trace that the timeline marks.
  static constexpr std::pair<std::string_view, MarkKind> kMarks[] = {
      {"attach", MarkKind::Load},
      {"scriptStart", MarkKind::ScriptStart},
      {"detach", MarkKind::Unload},
  };
  for (const auto& [name, mark] : kMarks) {
    if (name == hostEvent) {
      kind = mark;
      return true;
    }
  }
  return false;
}

void ReportCollector::OnNativeCall(const NativeSignature& native) {
  if (calls_.size() < kKeptCallsPerFrame) calls_.push_back(&native);
}

void ReportCollector::OnHostEvent(const RunView& run, std::string_view name) {
  MarkKind kind{};
  if (name == "attach") pluginLoaded_ = true;
  if (HostEventMark(name, kind)) AddMark(std::max<std::int64_t>(run.world.clock.frame, 0), kind);
}

void ReportCollector::AddMark(std::int64_t frame, MarkKind kind) {
  if (marks_.size() < kKeptMarks) {
    marks_.push_back({frame, kind});
  } else {
    ++marksLeftOut_;
  }
}

void ReportCollector::AddToSeries(std::int64_t frame, float fill, float fade, std::uint32_t calls,
                                  FlowPhase phase) {
  if (columns_.empty() || frame - columns_.back().firstFrame >= framesPerColumn_) {
    if (columns_.size() == kMaxColumns) {
      // Full: every two columns become one twice as wide.
      for (std::size_t i = 0; i < kMaxColumns / 2; ++i) {
        SeriesColumn merged = columns_[2 * i];
        const SeriesColumn& next = columns_[2 * i + 1];
        merged.frames += next.frames;
        merged.maxFill = std::max(merged.maxFill, next.maxFill);
        merged.maxFade = std::max(merged.maxFade, next.maxFade);
        merged.maxCalls = std::max(merged.maxCalls, next.maxCalls);
        merged.calls += next.calls;
        for (std::size_t p = 0; p < kFlowPhaseCount; ++p) {
          merged.phaseFrames[p] += next.phaseFrames[p];
        }
        columns_[i] = merged;
      }
      columns_.resize(kMaxColumns / 2);
      framesPerColumn_ *= 2;
    }
    if (columns_.empty() || frame - columns_.back().firstFrame >= framesPerColumn_) {
      SeriesColumn column;
      column.firstFrame = frame - frame % framesPerColumn_;
      columns_.push_back(column);
    }
  }
  SeriesColumn& c = columns_.back();
  ++c.frames;
  c.maxFill = std::max(c.maxFill, fill);
  c.maxFade = std::max(c.maxFade, fade);
  c.maxCalls = std::max(c.maxCalls, calls);
  c.calls += calls;
  ++c.phaseFrames[static_cast<std::size_t>(phase)];
}

std::string ReportCollector::KeyOf(const RunView& run, std::int64_t frame, float fill) {
  const DeathRecord* death = run.flow.CurrentDeath();
  if (death == nullptr) return {};
  const ScreenModel& screen = run.world.screen;
  const bool respawning = run.flow.Phase() == FlowPhase::Respawning;
  DeathMoments& m = moments_;
  std::string key;
  if (!m.shard && death->shardFrame == frame) {
    m.shard = true;
    Append(key, "The wasted shard, first frame");
  }
  if (fill >= 0.0F) {
    if (!m.barShown) {
      m.barShown = true;
      Append(key, "Bar shown at " + Percent(fill));
    } else if (!m.barHalf && fill >= 50.0F) {
      m.barHalf = true;
      Append(key, "Bar at " + Percent(fill));
    } else if (!m.barFull && fill >= kBarFull) {
      m.barFull = true;
      Append(key, "Bar full");
    }
  }
  if (respawning && !m.fadingOut && screen.fade == FadeState::FadingOut &&
      screen.level >= kFadeUnderWay) {
    m.fadingOut = true;
    Append(key, "Fading out (" + Percent(screen.level * 100.0) + " black)");
  }
  if (respawning && !m.black && screen.fade == FadeState::FadedOut) {
    m.black = true;
    Append(key, "Black screen");
  }
  if (!m.placed && death->placeFrame == frame) {
    m.placed = true;
    Append(key, "Player placed at the spawn point");
  }
  if (m.placed && screen.fade == FadeState::FadingIn) {
    m.fadeInSeen = true;
    if (!m.fadingIn && screen.level <= kFadeUnderWay) {
      m.fadingIn = true;
      Append(key, "Fading in (" + Percent(screen.level * 100.0) + " black)");
    }
  }
  if (m.fadeInSeen && !m.clear && screen.fade == FadeState::FadedIn) {
    m.clear = true;
    Append(key, "First clear frame");
  }
  return key;
}

void ReportCollector::OnFrameEnd(const RunView& run) {
  World& world = run.world;
  const FlowObserver& flow = run.flow;
  const std::int64_t frame = world.clock.frame;
  framesSeen_ = frame + 1;

  if (flow.DeathCount() != deathsSeen_) {
    deathsSeen_ = flow.DeathCount();
    moments_ = DeathMoments{};
    AddMark(frame, MarkKind::Death);
  }
  for (; tapsSeen_ < flow.TapCount(); ++tapsSeen_) AddMark(frame, MarkKind::Tap);

  const float fill = flow.BarFillFrame() == frame ? static_cast<float>(flow.BarFill()) : -1.0F;
  const float fade = world.screen.level;
  const std::uint32_t calls = run.callsInLastFrame;
  AddToSeries(frame, fill, fade, calls, flow.Phase());

  std::string key = KeyOf(run, frame, fill);
  // The frame a run stopped in is always shown, however many keys came first.
  const bool faultHere = fault_ && fault_->frame == frame;
  if (faultHere) Append(key, kStoppedKey);
  const bool isKey = !key.empty() && (keyFrames_ < kKeptKeyFrames || faultHere);
  if (!key.empty() && !isKey) ++keyFramesLeftOut_;
  auto drawn = world.drawing.frames.find(frame);
  const bool hasDrawing = drawn != world.drawing.frames.end();
  const bool hasItems = hasDrawing && !drawn->second.items.empty();

  // The viewer shows what the player saw change: frames that drew anything
  // and frames under a fade; every stride-th of them, and every key frame.
  if (isKey || hasItems || fade > 0.0F) {
    const std::uint64_t candidate = candidates_++;
    if (isKey || candidate % stride_ == 0) {
      RecordedFrame kept;
      kept.frame = frame;
      kept.gameTime = world.clock.gameTimer;
      kept.phase = flow.Phase();
      kept.fill = fill;
      kept.fade = fade;
      kept.fadeState = world.screen.fade;
      kept.death = flow.DeathCount();
      kept.callCount = calls;
      kept.calls = calls_;
      kept.drawn = hasItems;
      if (hasDrawing) kept.drawing = takeDrawings_ ? std::move(drawn->second) : drawn->second;
      if (isKey) kept.key = std::move(key);
      kept.candidate = candidate;
      if (faultHere) MarkFault(kept);
      Keep(std::move(kept));
    }
  }
  if (hasDrawing && takeDrawings_) world.drawing.frames.erase(drawn);
  calls_.clear();
}

void ReportCollector::OnFault(const RunView& run, const TraceFault& fault) {
  if (fault_) return;
  fault_ = fault;
  // Frames end after their fault, but one that stops the run as the host
  // unloads the plug-in comes after its frame: that frame, kept or not, is
  // shown now. A fault at load has no frame.
  if (fault.frame < 0 || fault.frame >= framesSeen_) return;
  if (!frames_.empty() && frames_.back().frame == fault.frame) {
    RecordedFrame& last = frames_.back();
    if (last.key.empty()) ++keyFrames_;
    Append(last.key, kStoppedKey);
    MarkFault(last);
    return;
  }
  RecordedFrame kept;
  kept.frame = fault.frame;
  kept.gameTime = fault.time;
  kept.phase = run.flow.Phase();
  kept.fade = run.world.screen.level;
  kept.fadeState = run.world.screen.fade;
  kept.death = run.flow.DeathCount();
  kept.callCount = run.callsInLastFrame;
  kept.key = kStoppedKey;
  kept.candidate = candidates_++;
  MarkFault(kept);
  Keep(std::move(kept));
}

void ReportCollector::MarkFault(RecordedFrame& frame) const {
  frame.fault = fault_->reason;
  if (fault_->refused) frame.refused = RefusedCallText(*fault_->refused);
}

void ReportCollector::Keep(RecordedFrame frame) {
  if (!frame.key.empty()) ++keyFrames_;
  frames_.push_back(std::move(frame));
  if (frames_.size() <= kViewerFrames + keyFrames_) return;
  // Too many: keep every other one of those kept by the stride, and the key
  // frames.
  stride_ *= 2;
  std::erase_if(frames_, [this](const RecordedFrame& f) {
    return f.key.empty() && f.candidate % stride_ != 0;
  });
}

}  // namespace sim
