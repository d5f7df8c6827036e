// A recording read frame by frame: the lines of one frame at a time (the load
// time's, frame -1, first), with `repeat` stretches expanded, up to the first
// place where the recording stops being whole (frames the recorder dropped,
// or its size cap). Every pass over a recording (its outline, the fit of a
// scenario, the run of the world for the report) reads it this way.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/recording/trace_reader.h"

namespace sim {

class RecordingFrames;

// A recording read once and held in memory, frame by frame, so that several
// passes over a short one read the file once.
struct HeldRecording {
  RecordingHeader header;
  std::string name;
  std::vector<std::pair<std::int64_t, std::vector<TraceEntry>>> frames;
  std::string recordingBreak;
};

class RecordingFrames {
 public:
  // Opens the file; throws RecordingError naming file, line and field.
  static std::unique_ptr<RecordingFrames> Open(const std::string& path, ReadLimits limits = {});
  static std::unique_ptr<RecordingFrames> FromText(std::string text, std::string name,
                                                   ReadLimits limits = {});
  // Reads the rest of `frames` into memory; null, with `frames` read only in
  // part, when it has more than `maxLines` lines.
  static std::shared_ptr<const HeldRecording> Hold(RecordingFrames& frames, std::size_t maxLines);
  static std::unique_ptr<RecordingFrames> FromHeld(std::shared_ptr<const HeldRecording> held);

  const RecordingHeader& Header() const { return held_ ? held_->header : reader_->Header(); }
  const std::string& Name() const { return held_ ? held_->name : reader_->Name(); }

  // The next frame's lines, in order, good until the next call; false at the
  // end (or at a break).
  bool Next(std::int64_t& frame, const std::vector<TraceEntry>*& lines);

  // Where the recording stopped being whole (a drop, the cap, a last line
  // cut short), said in a sentence; empty when it did not. Known once Next
  // has returned false.
  const std::string& Break() const { return break_; }

 private:
  explicit RecordingFrames(std::unique_ptr<TraceReader> reader);
  explicit RecordingFrames(std::shared_ptr<const HeldRecording> held);
  // The file's end: a cut last line is the break.
  void Ended();

  std::unique_ptr<TraceReader> reader_;
  std::optional<RepeatExpander> lines_;
  std::shared_ptr<const HeldRecording> held_;  // or this, read from memory
  std::size_t nextHeld_ = 0;
  std::vector<TraceEntry> frame_;  // the frame handed out last, read from the file
  TraceEntry pending_;             // the first line of the next frame, read ahead
  bool hasPending_ = false;
  bool ended_ = false;
  std::int64_t lastFrame_ = -1;
  std::string break_;
};

}  // namespace sim
