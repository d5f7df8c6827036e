// The first look at a recording: its header, how long it runs, how its game
// time went (the frame rate and hitches that give the same time in every
// frame the plug-in saw, and the script's waits that must return where they
// did), and what the host did (keyboard messages and where in a frame each
// came, script restarts, an unload). scenario-from writes these as a
// scenario's timing and host events; the run of a recording steps its world
// by them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/recording/recording_frames.h"
#include "sim/recording/trace_reader.h"

namespace sim {

// Something the recording shows that no scenario can make the simulator do,
// by what showed it (a native's readable name, or a host event) and the first
// frame it happened in.
struct Unexpressed {
  std::string what;  // "GET_GAME_TIMER", "scriptWait", "keyboard", ...
  std::int64_t firstFrame = 0;
  std::uint64_t count = 1;  // how many recorded answers of the kind
  std::string detail;       // at the first: what the recording says, and why it cannot be said
};

// Keeps one entry per (what, detail kind), counting the rest.
class UnexpressedList {
 public:
  // `key` groups repeats (the native and the kind of difference); `detail`
  // is kept from the first.
  void Add(const std::string& what, const std::string& key, std::int64_t frame,
           const std::string& detail);
  // Another list's entries after this one's, counted with them; those of
  // `leaveOut` (a native's name) left out.
  void Append(const UnexpressedList& other, const std::string& leaveOut = "");
  const std::vector<Unexpressed>& Items() const { return items_; }
  bool Empty() const { return items_.empty(); }
  std::uint64_t Total() const;

 private:
  std::vector<Unexpressed> items_;
  std::vector<std::string> keys_;
};

// A keyboard message and when in its frame it came: at the frame's start
// (kAtFrameStart), or before the plug-in's n-th native call of the frame.
struct RecordedKey {
  std::int64_t frame = 0;
  std::int32_t atCall = -1;
  std::uint32_t args[7] = {0, 0, 0, 0, 0, 0, 0};
};

// A host event of the scenario, in the order the recording has them.
struct RecordedHostEvent {
  enum class Kind { Key, Restart, Unload };
  Kind kind = Kind::Key;
  RecordedKey key;  // for Key
  std::int64_t frame = 0;
};

struct RecordingOutline {
  RecordingHeader header;
  std::string name;  // the file, as given

  std::int32_t fps = 60;
  std::int64_t startGameTime = 0;
  // The game's frame count in frame 0: the first GET_FRAME_COUNT answer less
  // its frame (0 when none was asked or it does not fit a scenario).
  std::int32_t startFrameCount = 0;
  std::int64_t frames = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> hitches;  // frame, ms after the one before
  std::vector<RecordedHostEvent> hostEvents;                   // in frame order
  UnexpressedList unexpressed;
  std::string recordingBreak;  // RecordingFrames::Break
};

// Reads the whole recording once. Throws RecordingError.
RecordingOutline OutlineRecording(RecordingFrames& frames);

// The clock that gives these times: the frame rate and the hitches (frame,
// ms) that make a simulator's game time equal `times` in every frame that has
// one, and keep each wait's script asleep until the frame it woke in. A time
// that cannot be had (game time going back, a wait that returned early) is
// listed in `unexpressed`.
struct RecordedWait {
  std::int64_t frame = 0;  // the wait was called in
  std::uint32_t ms = 0;
  std::int64_t woke = -1;  // the frame the script ran again in; -1: it never did
  // The script sleeps through the frames before this one: where it woke, or
  // where the host dropped it (a restart, an unload); the run's end if never.
  std::int64_t end = INT64_MAX;
};
struct ClockFit {
  std::int32_t fps = 60;
  std::int64_t start = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> hitches;
};
// `times[f]` is frame f's unwrapped game time, or nullopt for a frame the
// plug-in never saw.
ClockFit FitClock(const std::vector<std::optional<std::int64_t>>& times,
                  const std::vector<RecordedWait>& waits, UnexpressedList& unexpressed);

}  // namespace sim
