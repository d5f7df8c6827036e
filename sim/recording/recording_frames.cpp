#include "sim/recording/recording_frames.h"

#include <algorithm>
#include <utility>

namespace sim {

std::unique_ptr<RecordingFrames> RecordingFrames::Open(const std::string& path, ReadLimits limits) {
  return std::unique_ptr<RecordingFrames>(new RecordingFrames(TraceReader::Open(path, limits)));
}

std::unique_ptr<RecordingFrames> RecordingFrames::FromText(std::string text, std::string name,
                                                           ReadLimits limits) {
  return std::unique_ptr<RecordingFrames>(
      new RecordingFrames(TraceReader::FromText(std::move(text), std::move(name), limits)));
}

void RecordingFrames::Ended() {
  ended_ = true;
  hasPending_ = false;
  if (break_.empty()) break_ = reader_->CutNote();
}

RecordingFrames::RecordingFrames(std::unique_ptr<TraceReader> reader) : reader_(std::move(reader)) {
  lines_.emplace(*reader_);
}

RecordingFrames::RecordingFrames(std::shared_ptr<const HeldRecording> held)
    : held_(std::move(held)) {}

std::shared_ptr<const HeldRecording> RecordingFrames::Hold(RecordingFrames& frames,
                                                           std::size_t maxLines) {
  auto held = std::make_shared<HeldRecording>();
  held->header = frames.Header();
  held->name = frames.Name();
  std::size_t lines = 0;
  std::int64_t frame = 0;
  const std::vector<TraceEntry>* entries = nullptr;
  while (frames.Next(frame, entries)) {
    lines += entries->size();
    if (lines > maxLines) return nullptr;
    held->frames.emplace_back(frame, *entries);
  }
  held->recordingBreak = frames.Break();
  return held;
}

std::unique_ptr<RecordingFrames> RecordingFrames::FromHeld(
    std::shared_ptr<const HeldRecording> held) {
  return std::unique_ptr<RecordingFrames>(new RecordingFrames(std::move(held)));
}

bool RecordingFrames::Next(std::int64_t& frame, const std::vector<TraceEntry>*& out) {
  if (held_) {
    if (nextHeld_ == held_->frames.size()) {
      break_ = held_->recordingBreak;
      return false;
    }
    frame = held_->frames[nextHeld_].first;
    out = &held_->frames[nextHeld_++].second;
    return true;
  }
  std::vector<TraceEntry>& lines = frame_;
  out = &frame_;
  lines.clear();
  if (ended_) return false;
  if (!hasPending_) {
    if (!lines_->Next(pending_)) {
      Ended();
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
    if (!lines_->Next(pending_)) {
      Ended();
      break;
    }
    if (pending_.frame > frame) break;
  }
  lastFrame_ = frame;
  return true;
}

}  // namespace sim
