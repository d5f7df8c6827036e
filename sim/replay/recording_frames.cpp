#include "sim/replay/recording_frames.h"

#include <algorithm>
#include <utility>

namespace sim {

std::unique_ptr<RecordingFrames> RecordingFrames::Open(const std::string& path) {
  return std::unique_ptr<RecordingFrames>(new RecordingFrames(TraceReader::Open(path)));
}

std::unique_ptr<RecordingFrames> RecordingFrames::FromText(std::string text, std::string name) {
  return std::unique_ptr<RecordingFrames>(
      new RecordingFrames(TraceReader::FromText(std::move(text), std::move(name))));
}

RecordingFrames::RecordingFrames(std::unique_ptr<TraceReader> reader)
    : reader_(std::move(reader)), lines_(*reader_) {}

bool RecordingFrames::Next(std::int64_t& frame, std::vector<TraceEntry>& lines) {
  lines.clear();
  if (ended_) return false;
  if (!hasPending_) {
    if (!lines_.Next(pending_)) {
      ended_ = true;
      return false;
    }
    hasPending_ = true;
  }
  // Lines come in frame order; one that names an earlier frame than the last
  // (the recorder writes none) is taken as part of the frame under way.
  frame = std::max(pending_.frame, lastFrame_);
  for (;;) {
    if (pending_.IsHost("dropped") || pending_.IsHost("capped")) {
      const bool dropped = pending_.IsHost("dropped");
      break_ = dropped ? "the recorder dropped " + std::to_string(pending_.args[0].integer) +
                             " whole frames before frame " + std::to_string(pending_.frame) +
                             " (its buffer was full): nothing after frame " +
                             std::to_string(lines.empty() ? lastFrame_ : frame) + " is used"
                       : "the recording reached its size cap (" +
                             std::to_string(pending_.args[0].integer) + " bytes) in frame " +
                             std::to_string(pending_.frame);
      ended_ = true;
      hasPending_ = false;
      if (!lines.empty()) lastFrame_ = frame;
      return !lines.empty();
    }
    lines.push_back(std::move(pending_));
    if (!lines_.Next(pending_)) {
      ended_ = true;
      hasPending_ = false;
      break;
    }
    if (pending_.frame > frame) break;
  }
  lastFrame_ = frame;
  return true;
}

}  // namespace sim
