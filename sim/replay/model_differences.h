// Where a recording's answers leave our world model: each rule names an answer
// the simulated game (sim/game/) never gives in that situation, whatever its
// settings, and counts the recorded answers that break it. These are the
// places where the model of the game is wrong. Replay feeds it every line it
// goes through; nothing here refuses anything.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sim/observe/trace.h"

namespace sim {

// One rule that recorded answers broke.
struct ModelDifferenceReport {
  std::string_view native;  // the native (or host function) whose answers break it
  std::string_view what;    // what the model never gives
  std::uint64_t count = 0;  // answers that break it
  std::int64_t firstFrame = 0;
};

// "NATIVE: N answers the model never gives: WHAT, first at frame F".
std::string DescribeModelDifference(const ModelDifferenceReport& report);

class ModelDifferences {
 public:
  ModelDifferences();
  // The next line of the recording, with the answers recorded in it.
  void OnLine(const TraceEntry& entry);
  // The rules broken so far, in the table's order.
  std::vector<ModelDifferenceReport> Reports() const;

  // The rules, by their place in the table.
  enum Rule : std::uint8_t {
    kTimerWithinFrame,
    kTimerBackwards,
    kFrameCount,
    kWaitShort,
    kWaitSameFrame,
    kDistance,
    kMovieHandleReused,
    kMovieLoadedUnknown,
    kMovieLoadedMidFrame,
    kTextureUnloaded,
    kTextureLoadedMidFrame,
    kSearchTwoStates,
    kSearchCountNotComplete,
    kSearchResultOutsideCount,
    kSearchAfterCancel,
    kLabelText,
    kRuleCount
  };
  // The rule's native and what it says, for tests and the report.
  static std::string_view RuleNative(Rule rule);
  static std::string_view RuleWhat(Rule rule);
  std::uint64_t Count(Rule rule) const { return found_[rule].count; }

 private:
  // What each native of the catalogue is looked at for; most are not.
  enum class Watch : std::uint8_t {
    None,
    GameTimer,
    FrameCount,
    Distance,
    MovieRequest,
    MovieLoaded,
    TextureRequest,
    TextureLoaded,
    SearchStart,
    SearchCancel,
    SearchComplete,
    SearchFailed,
    SearchActive,
    SearchCount,
    SearchResult,
    Label,
  };
  // One step per kind of native: each checks the answer against the rules
  // for that native and keeps what later answers are checked against.
  void OnNative(const TraceEntry& entry, Watch watch);
  void OnGameTimer(const TraceEntry& entry);
  void OnFrameCount(const TraceEntry& entry);
  void OnDistance(const TraceEntry& entry);
  void OnMovieRequest(const TraceEntry& entry);
  void OnMovieLoaded(const TraceEntry& entry);
  void OnTextureRequest(const TraceEntry& entry);
  void OnTextureLoaded(const TraceEntry& entry);
  void OnLabel(const TraceEntry& entry);
  void OnSearch(const TraceEntry& entry, Watch watch);
  void StartSearchFrame(std::int64_t frame);
  void OnSearchResult(const TraceEntry& entry);
  // Keeps a search query's answer; false for a native that is not one.
  bool NoteSearchAnswer(Watch watch, std::int64_t answer);
  void Found(Rule rule, std::int64_t frame);

  struct Finding {
    std::uint64_t count = 0;
    std::int64_t firstFrame = 0;
  };
  Finding found_[kRuleCount];
  std::vector<Watch> watchOf_;  // by the native's place in NativeTable()

  // The game timer and frame count as last answered.
  bool timerSeen_ = false;
  std::int64_t timerFrame_ = 0;
  std::int32_t timer_ = 0;
  bool frameBaseSeen_ = false;
  std::int64_t frameBase_ = 0;  // the frame count's answer minus the line's frame
  // The plug-in's last scriptWait, until the next call shows where it returned.
  bool waiting_ = false;
  std::int64_t waitFrame_ = 0;
  std::int32_t waitTime_ = 0;
  std::int64_t waitMs_ = 0;
  // Movies by handle, and texture dictionaries by name: the frame and answer
  // of their last load check, and whether a request came since.
  struct LoadCheck {
    std::int64_t frame = -2;
    bool loaded = false;
    bool everLoaded = false;
    bool requested = false;  // a movie's handle was given by a request
  };
  std::map<std::int32_t, LoadCheck> movies_;
  std::map<std::string, LoadCheck, std::less<>> textures_;
  // The search held now, as its answers show it in the current frame.
  struct Search {
    bool cancelled = false;    // cancelled, and no search started since
    std::int64_t frame = -2;   // the frame the answers below are of
    bool complete = false;     // answered true in that frame
    bool notComplete = false;  // answered false in that frame
    bool failed = false;
    bool active = false;
    std::int64_t count = -1;         // the search's last result count; -1 none read
    std::int64_t countInFrame = -1;  // ... read in that frame

    // Two of complete, failed and active answered true in the frame.
    bool TwoStates() const {
      return (complete && failed) || (complete && active) || (failed && active);
    }
    // Results counted in the frame while it read not complete, failed or active.
    bool CountWithoutComplete() const {
      return countInFrame > 0 && (notComplete || failed || active);
    }
  } search_;
};

}  // namespace sim
