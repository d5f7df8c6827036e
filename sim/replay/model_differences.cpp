// The rules, each checked against what the model in sim/game/ does:
// - the clock (World::clock): the game timer is set once a frame and never
//   goes back (hitches only add time); the frame count is the frame;
// - scriptWait (Simulation::HostScriptWait): the script resumes no earlier
//   than the next frame and no earlier than ms of game time later;
// - VDIST (spawn.cpp): the float of the distance between its two points;
// - movies (scaleform.cpp): handles count up from 1 and are never given
//   twice, a failed request answers -1 or 0; a movie loads at the start of a
//   frame or within its request, never between two checks of one frame;
// - texture dictionaries (drawing.cpp): loaded from a frame on (or within the
//   request), and never unloaded;
// - the spawn search (spawn.cpp): one state at a time (active, or settled
//   complete or failed), which moves only at the start of a frame or in a
//   start or cancel call; results only when complete, read only within the
//   count; after a cancel every query reads false or 0;
// - labels (labels.cpp): the built-in table's text, or null for a label it
//   lacks (a scenario may give its own table; a recording has none).
#include "sim/replay/model_differences.h"

#include <cmath>
#include <limits>

#include "sim/game/labels.h"
#include "sim/game/spawn.h"

namespace sim {

namespace {

struct RuleText {
  std::string_view native;
  std::string_view what;
};

constexpr RuleText kRules[ModelDifferences::kRuleCount] = {
    {"GET_GAME_TIMER", "another time within one frame"},
    {"GET_GAME_TIMER", "a time earlier than the frame before's"},
    {"GET_FRAME_COUNT",
     "a count that does not advance with the frames (count minus frame changed)"},
    {"scriptWait", "returned before its milliseconds of game time had passed"},
    {"scriptWait", "returned in the frame it was called"},
    {"VDIST", "a distance that does not match its two positions"},
    {"REQUEST_SCALEFORM_MOVIE", "a handle given out before, or one below -1"},
    {"HAS_SCALEFORM_MOVIE_LOADED", "loaded for a handle no request gave"},
    {"HAS_SCALEFORM_MOVIE_LOADED",
     "loaded later in a frame that read it not loaded (the model loads a movie at a frame's start "
     "or within its request)"},
    {"HAS_STREAMED_TEXTURE_DICT_LOADED", "not loaded after it read loaded"},
    {"HAS_STREAMED_TEXTURE_DICT_LOADED",
     "loaded later in a frame that read it not loaded, with no request between"},
    {"SPAWNPOINTS_IS_SEARCH_COMPLETE/FAILED/ACTIVE",
     "two of complete, failed and active for one search in one frame"},
    {"SPAWNPOINTS_GET_NUM_SEARCH_RESULTS",
     "results counted in a frame that read the search not complete, failed or active"},
    {"SPAWNPOINTS_GET_SEARCH_RESULT", "a result read outside the count of results given"},
    {"SPAWNPOINTS_*", "a search that is still there after it was cancelled"},
    {"GET_FILENAME_FOR_AUDIO_CONVERSATION", "a text other than the built-in label table's"},
};

bool SameFloat(double a, double b) {
  return static_cast<float>(a) == static_cast<float>(b) || (std::isnan(a) && std::isnan(b));
}

// Whether the game timer went from `before` to `after` backwards, the 2^32
// wrap of the timer allowed for.
bool Earlier(std::int32_t after, std::int32_t before) {
  return static_cast<std::uint32_t>(after) - static_cast<std::uint32_t>(before) >= 0x80000000U;
}

}  // namespace

std::string DescribeModelDifference(const ModelDifferenceReport& report) {
  return std::string(report.native) + ": " + std::to_string(report.count) +
         (report.count == 1 ? " answer" : " answers") +
         " the model never gives: " + std::string(report.what) + ", first at frame " +
         std::to_string(report.firstFrame);
}

std::string_view ModelDifferences::RuleNative(Rule rule) { return kRules[rule].native; }
std::string_view ModelDifferences::RuleWhat(Rule rule) { return kRules[rule].what; }

ModelDifferences::ModelDifferences() {
  const std::vector<NativeSignature>& table = NativeTable();
  watchOf_.assign(table.size(), Watch::None);
  const struct {
    const char* name;
    Watch watch;
  } watched[] = {
      {"GET_GAME_TIMER", Watch::GameTimer},
      {"GET_FRAME_COUNT", Watch::FrameCount},
      {"VDIST", Watch::Distance},
      {"REQUEST_SCALEFORM_MOVIE", Watch::MovieRequest},
      {"HAS_SCALEFORM_MOVIE_LOADED", Watch::MovieLoaded},
      {"REQUEST_STREAMED_TEXTURE_DICT", Watch::TextureRequest},
      {"HAS_STREAMED_TEXTURE_DICT_LOADED", Watch::TextureLoaded},
      {"SPAWNPOINTS_START_SEARCH", Watch::SearchStart},
      {"SPAWNPOINTS_CANCEL_SEARCH", Watch::SearchCancel},
      {"SPAWNPOINTS_IS_SEARCH_COMPLETE", Watch::SearchComplete},
      {"SPAWNPOINTS_IS_SEARCH_FAILED", Watch::SearchFailed},
      {"SPAWNPOINTS_IS_SEARCH_ACTIVE", Watch::SearchActive},
      {"SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", Watch::SearchCount},
      {"SPAWNPOINTS_GET_SEARCH_RESULT", Watch::SearchResult},
      {"GET_FILENAME_FOR_AUDIO_CONVERSATION", Watch::Label},
  };
  for (const auto& w : watched) {
    const NativeSignature* signature = FindNativeByName(w.name);
    if (signature != nullptr)
      watchOf_[static_cast<std::size_t>(signature - table.data())] = w.watch;
  }
}

void ModelDifferences::Found(Rule rule, std::int64_t frame) {
  Finding& f = found_[rule];
  if (f.count++ == 0) f.firstFrame = frame;
}

void ModelDifferences::OnLine(const TraceEntry& entry) {
  const bool call =
      entry.native != nullptr || entry.IsHost("scriptWait") || entry.IsHost("randomDraw");
  if (waiting_ && call) {
    // The first call after a wait is made in the frame the wait returned in.
    waiting_ = false;
    if (entry.frame <= waitFrame_) Found(kWaitSameFrame, entry.frame);
    if (static_cast<std::uint32_t>(entry.time) - static_cast<std::uint32_t>(waitTime_) <
        static_cast<std::uint64_t>(waitMs_)) {
      Found(kWaitShort, entry.frame);
    }
  }
  if (entry.native == nullptr) {
    if (entry.IsHost("scriptWait")) {
      waiting_ = true;
      waitFrame_ = entry.frame;
      waitTime_ = entry.time;
      waitMs_ = entry.args.empty() ? 0 : entry.args[0].integer;
    } else if (entry.IsHost("scriptStart") || entry.IsHost("detach")) {
      waiting_ = false;  // the script was dropped where it waited
    }
    return;
  }
  const Watch watch = watchOf_[static_cast<std::size_t>(entry.native - NativeTable().data())];
  if (watch != Watch::None) OnNative(entry, watch);
}

void ModelDifferences::OnNative(const TraceEntry& entry, Watch watch) {
  switch (watch) {
    case Watch::GameTimer:
      return OnGameTimer(entry);
    case Watch::FrameCount:
      return OnFrameCount(entry);
    case Watch::Distance:
      return OnDistance(entry);
    case Watch::MovieRequest:
      return OnMovieRequest(entry);
    case Watch::MovieLoaded:
      return OnMovieLoaded(entry);
    case Watch::TextureRequest:
      return OnTextureRequest(entry);
    case Watch::TextureLoaded:
      return OnTextureLoaded(entry);
    case Watch::Label:
      return OnLabel(entry);
    default:
      return OnSearch(entry, watch);
  }
}

void ModelDifferences::OnGameTimer(const TraceEntry& entry) {
  if (!entry.result) return;
  const std::int64_t frame = entry.frame;
  const auto time = static_cast<std::int32_t>(entry.result->integer);
  if (timerSeen_ && frame == timerFrame_ && time != timer_) Found(kTimerWithinFrame, frame);
  if (timerSeen_ && frame > timerFrame_ && Earlier(time, timer_)) Found(kTimerBackwards, frame);
  timerSeen_ = true;
  timerFrame_ = frame;
  timer_ = time;
}

void ModelDifferences::OnFrameCount(const TraceEntry& entry) {
  if (!entry.result) return;
  const std::int64_t base = entry.result->integer - entry.frame;
  if (frameBaseSeen_ && base != frameBase_) Found(kFrameCount, entry.frame);
  if (!frameBaseSeen_) {
    frameBaseSeen_ = true;
    frameBase_ = base;
  }
}

void ModelDifferences::OnDistance(const TraceEntry& entry) {
  if (!entry.result || entry.args.size() != 6) return;
  const Vec3 a{static_cast<float>(entry.args[0].number), static_cast<float>(entry.args[1].number),
               static_cast<float>(entry.args[2].number)};
  const Vec3 b{static_cast<float>(entry.args[3].number), static_cast<float>(entry.args[4].number),
               static_cast<float>(entry.args[5].number)};
  if (!SameFloat(static_cast<float>(Distance(a, b)), entry.result->number))
    Found(kDistance, entry.frame);
}

void ModelDifferences::OnMovieRequest(const TraceEntry& entry) {
  if (!entry.result) return;
  const auto handle = static_cast<std::int32_t>(entry.result->integer);
  if (handle < -1) {
    Found(kMovieHandleReused, entry.frame);
  } else if (handle > 0) {
    const auto [it, fresh] = movies_.try_emplace(handle);
    if (!fresh) Found(kMovieHandleReused, entry.frame);
    it->second = LoadCheck{};
    it->second.requested = true;
  }
}

void ModelDifferences::OnMovieLoaded(const TraceEntry& entry) {
  if (!entry.result || entry.args.empty()) return;
  const std::int64_t frame = entry.frame;
  const bool loaded = entry.result->integer != 0;
  const auto it = movies_.find(static_cast<std::int32_t>(entry.args[0].integer));
  if (it == movies_.end() || !it->second.requested) {
    if (loaded) Found(kMovieLoadedUnknown, frame);
    return;
  }
  LoadCheck& check = it->second;
  if (loaded && check.frame == frame && !check.loaded) Found(kMovieLoadedMidFrame, frame);
  check.frame = frame;
  check.loaded = loaded;
}

void ModelDifferences::OnTextureRequest(const TraceEntry& entry) {
  if (entry.args.empty()) return;
  textures_[entry.args[0].text].frame = -2;  // a check after it may find it loaded
}

void ModelDifferences::OnTextureLoaded(const TraceEntry& entry) {
  if (!entry.result || entry.args.empty()) return;
  const std::int64_t frame = entry.frame;
  const bool loaded = entry.result->integer != 0;
  auto it = textures_.find(entry.args[0].text);
  if (it == textures_.end()) it = textures_.emplace(entry.args[0].text, LoadCheck{}).first;
  LoadCheck& check = it->second;
  if (!loaded && check.everLoaded) Found(kTextureUnloaded, frame);
  if (loaded && check.frame == frame && !check.loaded) Found(kTextureLoadedMidFrame, frame);
  check.frame = frame;
  check.loaded = loaded;
  check.everLoaded = check.everLoaded || loaded;
}

void ModelDifferences::OnLabel(const TraceEntry& entry) {
  if (!entry.result || entry.args.empty()) return;
  const LabelTable& table = DefaultLabels();
  const auto it = table.find(entry.args[0].text);
  const bool isText = entry.result->kind == TraceValue::Kind::Text;
  if (it == table.end() ? isText : !isText || entry.result->text != it->second) {
    Found(kLabelText, entry.frame);
  }
}

void ModelDifferences::OnSearch(const TraceEntry& entry, Watch watch) {
  const std::int64_t frame = entry.frame;
  if (watch == Watch::SearchStart || watch == Watch::SearchCancel) {
    search_ = Search{};
    search_.cancelled = watch == Watch::SearchCancel;
    search_.frame = frame;
    return;
  }
  if (search_.frame != frame) StartSearchFrame(frame);
  if (watch == Watch::SearchResult) return OnSearchResult(entry);
  if (!entry.result) return;
  const bool twoStatesBefore = search_.TwoStates();
  const bool countWrongBefore = search_.CountWithoutComplete();
  const std::int64_t answer = entry.result->integer;
  if (!NoteSearchAnswer(watch, answer)) return;
  // Every search query reads false or 0 after a cancel.
  if (answer != 0 && search_.cancelled) Found(kSearchAfterCancel, frame);
  if (search_.TwoStates() && !twoStatesBefore) Found(kSearchTwoStates, frame);
  if (search_.CountWithoutComplete() && !countWrongBefore) Found(kSearchCountNotComplete, frame);
}

void ModelDifferences::StartSearchFrame(std::int64_t frame) {
  // A new frame: the search may have moved on at its start. Only whether it
  // was cancelled and its last count carry over.
  const bool cancelled = search_.cancelled;
  const std::int64_t count = search_.count;
  search_ = Search{};
  search_.cancelled = cancelled;
  search_.count = count;
  search_.frame = frame;
}

void ModelDifferences::OnSearchResult(const TraceEntry& entry) {
  if (entry.args.empty()) return;
  const std::int64_t index = entry.args[0].integer;
  if (search_.cancelled) {
    Found(kSearchAfterCancel, entry.frame);
  } else if (search_.count >= 0 && (index < 0 || index >= search_.count)) {
    Found(kSearchResultOutsideCount, entry.frame);
  }
}

bool ModelDifferences::NoteSearchAnswer(Watch watch, std::int64_t answer) {
  Search& s = search_;
  switch (watch) {
    case Watch::SearchComplete:
      (answer != 0 ? s.complete : s.notComplete) = true;
      return true;
    case Watch::SearchFailed:
      s.failed = s.failed || answer != 0;
      return true;
    case Watch::SearchActive:
      s.active = s.active || answer != 0;
      return true;
    case Watch::SearchCount:
      s.count = s.countInFrame = answer;
      return true;
    default:
      return false;
  }
}

std::vector<ModelDifferenceReport> ModelDifferences::Reports() const {
  std::vector<ModelDifferenceReport> out;
  for (int r = 0; r < kRuleCount; ++r) {
    if (found_[r].count == 0) continue;
    out.push_back({kRules[r].native, kRules[r].what, found_[r].count, found_[r].firstFrame});
  }
  return out;
}

}  // namespace sim
