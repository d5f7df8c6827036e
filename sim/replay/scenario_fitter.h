// The fitter behind scenario-from, shared by its files: the changes it tries
// on a frame (Fix), what the plug-in has relied on (Observations), the
// settings it has given the scenario, and Fitter, which runs the world frame
// by frame against the recording. scenario_fit.cpp runs it; what it observes,
// the fixes it proposes, the natives it fits and the scenario it writes each
// have a file of their own.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/game/world.h"
#include "sim/host/scenario.h"
#include "sim/observe/trace.h"
#include "sim/recording/recording_frames.h"
#include "sim/recording/recording_outline.h"
#include "sim/replay/recorded_world.h"

namespace sim::fit {

using Json = nlohmann::ordered_json;

inline Json Number(double value) { return TraceNumber(value); }

inline Json Point(const Vec3& p) { return Json::array({Number(p.x), Number(p.y), Number(p.z)}); }

inline bool Finite(const Vec3& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

inline Vec3 VectorOf(const TraceValue& v) {
  return Vec3{static_cast<float>(v.vector[0]), static_cast<float>(v.vector[1]),
              static_cast<float>(v.vector[2])};
}

// A change to the scenario that may make a frame play as recorded: events at
// the frame's start, and a change to a setting (made to the world as it
// stood at the frame's start, and to the scenario once kept).
struct Fix {
  std::vector<Json> events;
  std::function<void(World&)> patch;
  std::function<void()> keep;
};

// What the plug-in has relied on, so that a setting is changed only while
// nothing recorded earlier depended on it: in one pass, the keys of what its
// calls read; over the fit, the last frame each was read in.
struct Observations {
  std::set<std::string> keys;
  std::map<std::string, std::int64_t> lastSeen;
  std::int64_t requests = 0;                // movie requests seen
  bool requestsAllFailed = true;            // ... and each failed
  std::set<std::int32_t> moviesSeenLoaded;  // recorded handles answered loaded
  // In one pass, in order: a handle given by a request (false; the game may
  // give a released movie's handle again) or answered loaded (true).
  std::vector<std::pair<std::int32_t, bool>> movieAnswers;
  struct Lookup {
    Vec3 where;
    std::int32_t n = 0;
    bool found = false;
    Vec3 position;
    float heading = 0.0F;
    std::int32_t lanes = 0;
  };
  std::vector<Lookup> lookups;  // road-node lookups, as answered

  bool Has(const std::string& key) const { return lastSeen.count(key) != 0; }
  // Whether it was read from `frame` on.
  bool SeenSince(const std::string& key, std::int64_t frame) const {
    const auto it = lastSeen.find(key);
    return it != lastSeen.end() && it->second >= frame;
  }
};

// The settings the fit has given the scenario, as written at the end.
struct Settings {
  std::optional<std::int32_t> pedHandle, playerId, health, maxHealth;
  std::optional<Vec3> position;
  std::map<std::string, std::optional<std::int64_t>> movieLoadFrames;  // none: never
  std::optional<std::int64_t> failRequests;
  std::int32_t failHandle = -1;
  std::set<std::string> texturesLoaded;
  std::map<std::string, std::int64_t> textureLoadFrames;
  std::set<std::string> texturesNever;
  std::optional<std::int64_t> searchFrames;
  std::optional<SearchOutcome> searchOutcome;
  std::optional<std::vector<Vec3>> searchResults;
  std::optional<std::int32_t> searchResultCount;
  std::vector<RoadNode> roadNodes;
  std::optional<LabelTable> labels;
  std::map<std::int32_t, LabelTable> labelsByLanguage;
  std::optional<std::int32_t> language;
  std::optional<bool> busySpinner;
  std::map<std::int32_t, Colour> hudColours;
  std::optional<std::int32_t> nullOrEmptyTextAnswer;
};

// One pass over a frame's lines.
struct FramePass {
  std::vector<std::size_t> differing;   // indices of the lines whose answers differ
  std::optional<std::size_t> fixIndex;  // the first differing line with fixes to try
  std::vector<Fix> fixes;
  Observations seen;  // what the pass's lines relied on, kept for the frame that stays

  bool Differs(std::size_t line) const {
    return std::find(differing.begin(), differing.end(), line) != differing.end();
  }
  // Whether every line before `line` that differs here also differed in `other`.
  bool NoWorseBefore(std::size_t line, const FramePass& other) const {
    for (std::size_t i : differing) {
      if (i < line && !other.Differs(i)) return false;
    }
    return true;
  }
};

class Fitter {
 public:
  Fitter(const RecordingOutline& outline, Scenario base);

  void Run(RecordingFrames& frames);
  Json Document(const std::string& name) const;
  Json EventsJson() const;

  // The natives the fit reads, by name (scenario_fit_natives.cpp).
  static std::vector<std::string_view> FittedNatives();

 private:
  // Which natives the fit reads, and how (scenario_fit_natives.cpp).
  struct Natives;

  void FitFrame(std::int64_t frame, const std::vector<TraceEntry>& lines);
  FramePass RunPass(std::int64_t frame, const std::vector<TraceEntry>& lines,
                    const EventList& extra, const std::set<std::size_t>& rejected);
  // Notes the character switch among a frame's kept events, if any.
  void NoteSwitch(std::int64_t frame, const World& before);

  // What a recorded answer shows the plug-in relied on, into `seen`; and the
  // fixes to try when the world answered it otherwise. Both by the table of
  // fitted natives.
  void Observe(std::int64_t frame, const TraceEntry& line, Observations& seen);
  std::vector<Fix> Propose(std::int64_t frame, const TraceEntry& line);
  void KeepObservations(std::int64_t frame, const Observations& seen);

  // The observers, each of one kind of answer (scenario_fit_observe.cpp).
  void ObserveHudColour(std::int64_t frame, const TraceEntry& line, Observations& seen);
  void ObserveLabel(std::int64_t frame, const TraceEntry& line, Observations& seen);
  void ObserveMovieRequest(std::int64_t frame, const TraceEntry& line, Observations& seen);
  // A movie answered loaded (or its method begun): the handle, and the movie
  // the world holds under it.
  void ObserveMovieLoaded(std::int64_t frame, const TraceEntry& line, Observations& seen);
  void ObserveTexture(std::int64_t frame, const TraceEntry& line, Observations& seen);
  void ObserveSearchStart(std::int64_t frame, const TraceEntry& line, Observations& seen);
  // Whether a query of the search under way shows it settled.
  void ObserveSearchSettled(std::int64_t frame, const TraceEntry& line, Observations& seen);
  void ObserveSearchInactive(std::int64_t frame, const TraceEntry& line, Observations& seen);
  void ObserveResultCount(std::int64_t frame, const TraceEntry& line, Observations& seen);
  void ObserveSearchResult(std::int64_t frame, const TraceEntry& line, Observations& seen);
  void ObserveRoadNode(std::int64_t frame, const TraceEntry& line, Observations& seen);
  // The observation key of a label read, by the table it is looked up in.
  std::string LabelKey(const TraceEntry& line) const;

  // The fixers of what the plug-in reads of the player and the screen
  // (scenario_fit_player_fixes.cpp).
  std::vector<Fix> FixPedHandle(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixPlayerId(std::int64_t frame, const TraceEntry& line);
  // The player's ped handle (`ped`) or player id.
  std::vector<Fix> FixIdentity(std::int64_t frame, const TraceEntry& line, bool ped);
  // Whether a question about an entity asks about the player's ped, the only
  // entity modelled.
  bool AsksAboutPlayer(const TraceEntry& line) const;
  std::vector<Fix> FixMaxHealth(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixPosition(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixHealth(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixDead(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixInjured(std::int64_t frame, const TraceEntry& line);
  // Whether the player is dead, or (`injured`) injured.
  std::vector<Fix> FixDeath(std::int64_t frame, const TraceEntry& line, bool injured);
  std::vector<Fix> FixTap(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixFadingOut(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixFadedOut(std::int64_t frame, const TraceEntry& line);
  // Whether the screen is fading out (`fadingOut`) or faded out.
  std::vector<Fix> FixFade(std::int64_t frame, const TraceEntry& line, bool fadingOut);
  std::vector<Fix> FixLanguage(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixSpinner(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixHudColour(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixNullText(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixLabel(std::int64_t frame, const TraceEntry& line);

  // The fixers of what the game loads or searches for over frames: movies,
  // texture dictionaries, the spawn search, road nodes
  // (scenario_fit_loading_fixes.cpp).
  std::vector<Fix> FixMovieRequest(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixMovieLoaded(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixTexture(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixSearchComplete(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixSearchFailed(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixSearchActive(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixResultCount(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixSearchResult(std::int64_t frame, const TraceEntry& line);
  // The search under way shows `outcome` at `frame`, or never settles.
  Fix SettleSearch(std::int64_t frame, SearchOutcome outcome);
  Fix KeepSearchRunning();
  std::vector<Fix> FixRoadNode(std::int64_t frame, const TraceEntry& line);

  static Fix Event(Json event) {
    Fix fix;
    fix.events.push_back(std::move(event));
    return fix;
  }
  static Json At(std::int64_t frame) { return Json{{"frame", frame}}; }

  const RecordingOutline& outline_;
  Scenario base_;
  RecordedWorld state_;
  CallReplayer replayer_;
  std::size_t nextBase_ = 0;
  std::int64_t framesRun_ = 0;
  bool ended_ = false;

  Settings settings_;
  Observations seen_;
  LabelTable defaultLabels_;
  std::int64_t searchStart_ = 0;  // the frame the search under way was started in
  std::int32_t searchCount_ = 0;  // what the last count of results answered
  std::map<std::int64_t, std::vector<Json>> fixEvents_;  // kept, by frame
  // The last character switch kept: where it stands, and the player's ped
  // and id before it.
  struct Switch {
    std::int64_t frame = 0;
    std::size_t index = 0;  // in fixEvents_[frame]
    std::int32_t pedBefore = 0;
    std::int32_t playerBefore = 0;
  };
  std::optional<Switch> lastSwitch_;
};

// The outline's timing and host events alone, as a scenario: the fit's
// starting point (scenario_fit_writing.cpp).
Scenario BaseScenario(const RecordingOutline& outline);

// The scenario's text: settings indented, one event to a line.
std::string WriteScenario(const Json& doc);

}  // namespace sim::fit
