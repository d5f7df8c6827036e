// Notable moments of a run, for the person watching: what happened, in which
// frame and at which game time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

struct TimelineEntry {
  std::int64_t frame = 0;
  std::int32_t time = 0;
  std::string category;  // "host", "player", "feed", "settings", "keyboard", ...
  std::string text;
};

class Timeline {
 public:
  // Entries kept for the report; later ones still reach the listener and are
  // counted, so that a long run holds no more than these.
  static constexpr std::size_t kKeptEntries = 10000;

  void Add(TimelineEntry entry) {
    if (listener_) listener_(entry);
    if (entries_.size() < kKeptEntries) {
      entries_.push_back(std::move(entry));
    } else {
      ++leftOut_;
    }
  }
  const std::vector<TimelineEntry>& Entries() const { return entries_; }
  std::uint64_t LeftOut() const { return leftOut_; }
  // Called for each entry as it is added (the live terminal output).
  void SetListener(std::function<void(const TimelineEntry&)> listener) {
    listener_ = std::move(listener);
  }

 private:
  std::vector<TimelineEntry> entries_;
  std::uint64_t leftOut_ = 0;
  std::function<void(const TimelineEntry&)> listener_;
};

}  // namespace sim
