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
#include <vector>

#include "sim/observe/trace_reader.h"

namespace sim {

class RecordingFrames {
 public:
  // Opens the file; throws RecordingError naming file, line and field.
  static std::unique_ptr<RecordingFrames> Open(const std::string& path);
  static std::unique_ptr<RecordingFrames> FromText(std::string text, std::string name);

  const RecordingHeader& Header() const { return reader_->Header(); }
  const std::string& Name() const { return reader_->Name(); }

  // The next frame's lines, in order; false at the end (or at a break). A
  // frame's lines are handed out once, and `lines` keeps its room.
  bool Next(std::int64_t& frame, std::vector<TraceEntry>& lines);

  // Where the recording stopped being whole, said in a sentence; empty when
  // it did not. Known once Next has returned false.
  const std::string& Break() const { return break_; }

 private:
  explicit RecordingFrames(std::unique_ptr<TraceReader> reader);

  std::unique_ptr<TraceReader> reader_;
  RepeatExpander lines_;
  TraceEntry pending_;  // the first line of the next frame, read ahead
  bool hasPending_ = false;
  bool ended_ = false;
  std::int64_t lastFrame_ = -1;
  std::string break_;
};

}  // namespace sim
