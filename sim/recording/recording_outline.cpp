#include "sim/recording/recording_outline.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "sim/game/handlers.h"

namespace sim {

void UnexpressedList::Add(const std::string& what, const std::string& key, std::int64_t frame,
                          const std::string& detail) {
  const std::string full = what + "\n" + key;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i] == full) {
      ++items_[i].count;
      return;
    }
  }
  keys_.push_back(full);
  items_.push_back(Unexpressed{what, frame, 1, detail});
}

void UnexpressedList::Append(const UnexpressedList& other, const std::string& leaveOut) {
  for (std::size_t i = 0; i < other.items_.size(); ++i) {
    if (!leaveOut.empty() && other.items_[i].what == leaveOut) continue;
    const auto at = std::find(keys_.begin(), keys_.end(), other.keys_[i]);
    if (at != keys_.end()) {
      items_[static_cast<std::size_t>(at - keys_.begin())].count += other.items_[i].count;
      continue;
    }
    keys_.push_back(other.keys_[i]);
    items_.push_back(other.items_[i]);
  }
}

std::uint64_t UnexpressedList::Total() const {
  std::uint64_t n = 0;
  for (const Unexpressed& item : items_) n += item.count;
  return n;
}

namespace {

constexpr std::int64_t kUnknown = std::numeric_limits<std::int64_t>::min();

// The game timer is 32 bits and wraps; the simulator's clock does not. Each
// time is taken as the nearest to the one before.
class Unwrapper {
 public:
  std::int64_t operator()(std::int32_t time) {
    if (!started_) {
      started_ = true;
      last32_ = time;
      last_ = static_cast<std::uint32_t>(time);
      return last_;
    }
    const auto delta = static_cast<std::int32_t>(static_cast<std::uint32_t>(time) -
                                                 static_cast<std::uint32_t>(last32_));
    last32_ = time;
    last_ += delta;
    return last_;
  }

 private:
  bool started_ = false;
  std::int32_t last32_ = 0;
  std::int64_t last_ = 0;
};

std::int64_t FixedMs(std::int64_t frame, std::int32_t fps) { return frame * 1000 / fps; }

// Frame by frame, the game time a simulator at `fps` shows, with a hitch
// wherever that differs from the recording's. Returns the hitches.
std::vector<std::pair<std::int64_t, std::int64_t>> ClockAt(
    std::int32_t fps, std::int64_t start, const std::vector<std::optional<std::int64_t>>& times,
    const std::vector<RecordedWait>& waits, UnexpressedList* unexpressed,
    std::vector<std::int64_t>& shown) {
  const auto n = static_cast<std::int64_t>(times.size());
  std::vector<std::pair<std::int64_t, std::int64_t>> hitches;
  shown.assign(times.size(), 0);
  // The next frame with a time, for each frame.
  std::vector<std::int64_t> nextKnown(times.size(), kUnknown);
  for (std::int64_t f = n - 1, next = kUnknown; f >= 0; --f) {
    nextKnown[f] = next;
    if (times[f]) next = *times[f];
  }
  std::size_t wait = 0;  // the first wait that may still hold the script asleep
  for (std::int64_t f = 0; f < n; ++f) {
    const std::int64_t prev = f == 0 ? start : shown[f - 1];
    const std::int64_t step = f == 0 ? 0 : FixedMs(f, fps) - FixedMs(f - 1, fps);
    const std::int64_t model = prev + step;
    std::int64_t target = model;
    if (times[f]) {
      target = *times[f];
    } else {
      // A frame the plug-in never saw: at the fixed step, but never past the
      // next time seen, nor so late that the script would wake before it did.
      if (nextKnown[f] != kUnknown) target = std::min(target, nextKnown[f]);
      while (wait < waits.size() && waits[wait].end <= f) ++wait;
      if (wait < waits.size() && waits[wait].frame < f && waits[wait].ms > 0) {
        target = std::min(target, shown[waits[wait].frame] + waits[wait].ms - 1);
      }
      target = std::max(target, prev);
    }
    if (target < prev) {
      if (unexpressed != nullptr) {
        unexpressed->Add("GET_GAME_TIMER", "back", f,
                         "the game time went back, from " + std::to_string(prev) + " to " +
                             std::to_string(target) + " ms: a hitch moves it forward only");
      }
      target = prev;
    }
    if (target != model) hitches.emplace_back(f, target - prev);
    shown[f] = target;
  }
  return hitches;
}

}  // namespace

ClockFit FitClock(const std::vector<std::optional<std::int64_t>>& times,
                  const std::vector<RecordedWait>& waits, UnexpressedList& unexpressed) {
  ClockFit fit;
  std::int64_t first = kUnknown;
  std::int64_t last = kUnknown;
  for (std::size_t f = 0; f < times.size(); ++f) {
    if (!times[f]) continue;
    if (first == kUnknown) first = static_cast<std::int64_t>(f);
    last = static_cast<std::int64_t>(f);
  }
  if (first == kUnknown) return fit;
  // The rate the recording's frames came at on average, and its neighbours:
  // the one that needs the fewest hitches is the scenario's.
  std::set<std::int32_t> candidates = {30, 60};
  const std::int64_t span = *times[last] - *times[first];
  if (last > first && span > 0) {
    const auto average = static_cast<std::int64_t>(
        std::llround(1000.0 * static_cast<double>(last - first) / static_cast<double>(span)));
    for (std::int64_t d = -2; d <= 2; ++d) {
      candidates.insert(static_cast<std::int32_t>(std::clamp<std::int64_t>(average + d, 1, 1000)));
    }
  }
  std::vector<std::int64_t> shown;
  std::size_t fewest = std::numeric_limits<std::size_t>::max();
  for (std::int32_t fps : candidates) {
    const std::int64_t start = std::max<std::int64_t>(*times[first] - FixedMs(first, fps), 0);
    const std::size_t count = ClockAt(fps, start, times, waits, nullptr, shown).size();
    // Ties go to the rate asked most often of a game: 60, then the others in order.
    if (count < fewest || (count == fewest && fps == 60)) {
      fewest = count;
      fit.fps = fps;
      fit.start = start;
    }
  }
  fit.hitches = ClockAt(fit.fps, fit.start, times, waits, &unexpressed, shown);
  if (fit.start > UINT32_MAX) {
    unexpressed.Add("GET_GAME_TIMER", "start", first,
                    "the game time starts at " + std::to_string(fit.start) +
                        " ms, past what a scenario's startGameTime holds");
  }
  // The simulator resumes a waiting script in the first frame at least the
  // wait's time after it (and never in the frame it waited in).
  for (const RecordedWait& w : waits) {
    const auto frames = static_cast<std::int64_t>(shown.size());
    const std::int64_t wakeAt = shown[w.frame] + w.ms;
    std::int64_t resumes = w.frame + 1;
    while (resumes < frames && shown[resumes] < wakeAt) ++resumes;
    const std::int64_t woke = w.woke >= 0 ? w.woke : -1;
    if (woke >= 0 && woke != resumes) {
      unexpressed.Add("scriptWait", woke < resumes ? "early" : "late", w.frame,
                      "scriptWait(" + std::to_string(w.ms) + ") in frame " +
                          std::to_string(w.frame) + " returned in frame " + std::to_string(woke) +
                          ", " + std::to_string(shown[woke] - shown[w.frame]) +
                          " ms later; the simulator resumes the script in frame " +
                          std::to_string(resumes));
    }
  }
  return fit;
}

namespace {

// Follows one frame's lines for the outline.
struct OutlineState {
  RecordingOutline& outline;
  std::vector<std::optional<std::int64_t>> times;
  std::vector<RecordedWait> waits;
  std::optional<std::size_t> pendingWait;  // the wait the script has not come back from
  Unwrapper unwrap;
  bool started = false;
  bool frameCountSeen = false;
  std::int64_t lastFrame = -1;
  std::optional<std::int64_t> unloaded;

  void Woke(std::int64_t frame) {
    if (!pendingWait) return;
    waits[*pendingWait].woke = frame;
    waits[*pendingWait].end = frame;
    pendingWait.reset();
  }
  // A restart or an unload ends the wait without the script coming back.
  void Dropped(std::int64_t frame) {
    if (!pendingWait) return;
    waits[*pendingWait].end = frame;
    pendingWait.reset();
  }

  void Frame(std::int64_t frame, const std::vector<TraceEntry>& lines);

 private:
  // What the frame under way has seen so far, before the line at hand.
  struct FrameSoFar {
    std::uint32_t calls = 0;   // the plug-in's native calls
    bool startedHere = false;  // the script was started in this frame
    bool scriptRan = false;    // the script did something
  };
  void NoteTime(std::int64_t frame, const TraceEntry& e);
  void NoteNative(std::int64_t frame, const TraceEntry& e, FrameSoFar& so);
  void ScriptStarted(std::int64_t frame, FrameSoFar& so);
  void KeyArrived(std::int64_t frame, const TraceEntry& e, const FrameSoFar& so);
  // Whether the detach is an unload by the host, which ends the recording.
  bool Detached(std::int64_t frame, const FrameSoFar& so);
};

void OutlineState::NoteTime(std::int64_t frame, const TraceEntry& e) {
  // An interpolated time is only near the game's: fitting the clock to it
  // would invent a hitch at nearly every frame of an idle stretch.
  if (frame < 0 || e.timeInterpolated) return;
  const std::int64_t t = unwrap(e.time);
  std::optional<std::int64_t>& known = times[static_cast<std::size_t>(frame)];
  if (known && *known != t) {
    outline.unexpressed.Add("GET_GAME_TIMER", "within", frame,
                            "two game times in one frame (" + std::to_string(*known) + " and " +
                                std::to_string(t) +
                                " ms): the simulator's clock moves between "
                                "frames only");
  }
  if (!known) known = t;
}

void OutlineState::NoteNative(std::int64_t frame, const TraceEntry& e, FrameSoFar& so) {
  Woke(frame);
  so.scriptRan = true;
  if (!e.byRecorder) ++so.calls;
  if (!frameCountSeen && frame >= 0 && e.result && e.IsNative("GET_FRAME_COUNT")) {
    frameCountSeen = true;
    const std::int64_t start = e.result->integer - frame;
    if (start >= 0) outline.startFrameCount = static_cast<std::int32_t>(start);
  }
}

void OutlineState::ScriptStarted(std::int64_t frame, FrameSoFar& so) {
  RecordingOutline& o = outline;
  Dropped(frame);
  if (frame < 0) {
    o.unexpressed.Add("scriptStart", "at load", frame,
                      "the script started while the plug-in loaded; the simulator starts it "
                      "in frame 0");
  } else if (started) {
    RecordedHostEvent restart;
    restart.kind = RecordedHostEvent::Kind::Restart;
    restart.frame = frame;
    o.hostEvents.push_back(restart);
  } else if (frame != 0) {
    o.unexpressed.Add("scriptStart", "late", frame,
                      "the script first started in frame " + std::to_string(frame) +
                          "; the simulator starts it in frame 0");
  }
  started = true;
  so.startedHere = true;
}

void OutlineState::KeyArrived(std::int64_t frame, const TraceEntry& e, const FrameSoFar& so) {
  if (frame < 0) {
    outline.unexpressed.Add("keyboard", "at load", frame,
                            "a keyboard message while the plug-in loaded: scenario events come "
                            "from frame 0 on");
    return;
  }
  RecordedHostEvent key;
  key.kind = RecordedHostEvent::Kind::Key;
  key.frame = frame;
  key.key.frame = frame;
  // Before anything the plug-in did in the frame, it comes at the frame's
  // start (before the script is even started again); after the n-th call,
  // before the next.
  key.key.atCall =
      so.calls == 0 && !so.startedHere ? kAtFrameStart : static_cast<std::int32_t>(so.calls);
  for (std::size_t i = 0; i < 7; ++i)
    key.key.args[i] = static_cast<std::uint32_t>(e.args[i].integer);
  outline.hostEvents.push_back(key);
}

bool OutlineState::Detached(std::int64_t frame, const FrameSoFar& so) {
  Dropped(frame);
  // An unload the host did by itself comes at a frame's start, before the
  // script's turn; the one at the end of a run comes after it.
  if (frame < 0 || so.scriptRan || !started) return false;
  RecordedHostEvent unload;
  unload.kind = RecordedHostEvent::Kind::Unload;
  unload.frame = frame;
  outline.hostEvents.push_back(unload);
  unloaded = frame;
  return true;
}

void OutlineState::Frame(std::int64_t frame, const std::vector<TraceEntry>& lines) {
  if (unloaded) return;
  FrameSoFar so;
  if (frame >= 0) {
    if (times.size() <= static_cast<std::size_t>(frame)) times.resize(frame + 1);
    lastFrame = std::max(lastFrame, frame);
  }
  for (const TraceEntry& e : lines) {
    NoteTime(frame, e);
    if (e.native != nullptr) {
      NoteNative(frame, e, so);
      continue;
    }
    const std::string& host = e.host;
    if (host == "randomDraw") {
      Woke(frame);
      so.scriptRan = true;
    } else if (host == "scriptWait") {
      Woke(frame);
      so.scriptRan = true;
      waits.push_back(RecordedWait{frame, static_cast<std::uint32_t>(e.args[0].integer)});
      pendingWait = waits.size() - 1;
    } else if (host == "scriptStart") {
      ScriptStarted(frame, so);
    } else if (host == "keyboard") {
      KeyArrived(frame, e, so);
    } else if (host == "droppedKeys") {
      outline.unexpressed.Add(
          "keyboard", "dropped", frame,
          std::to_string(e.args[0].integer) + " keyboard messages the recorder had no room for");
    } else if (host == "detach" && Detached(frame, so)) {
      return;
    }
  }
}

}  // namespace

RecordingOutline OutlineRecording(RecordingFrames& frames) {
  RecordingOutline outline;
  outline.header = frames.Header();
  outline.name = frames.Name();
  OutlineState state{outline, {}, {}, {}, {}, false, false, -1, std::nullopt};
  std::int64_t frame = 0;
  const std::vector<TraceEntry>* lines = nullptr;
  while (frames.Next(frame, lines)) state.Frame(frame, *lines);
  outline.recordingBreak = frames.Break();
  outline.frames = state.unloaded ? *state.unloaded + 1 : state.lastFrame + 1;
  state.times.resize(static_cast<std::size_t>(outline.frames));
  const ClockFit clock = FitClock(state.times, state.waits, outline.unexpressed);
  outline.fps = clock.fps;
  outline.startGameTime = clock.start;
  outline.hitches = clock.hitches;
  return outline;
}

}  // namespace sim
