#include "sim/replay/scenario_fit.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "sim/observe/trace.h"

namespace sim {

namespace {

using Json = nlohmann::ordered_json;

// Fixes one frame may try before its remaining differences are taken as
// they are.
constexpr int kMaxFixesPerFrame = 64;

Json Number(double value) { return TraceNumber(value); }

Json Point(const Vec3& p) { return Json::array({Number(p.x), Number(p.y), Number(p.z)}); }

bool Finite(const Vec3& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

Vec3 VectorOf(const TraceValue& v) {
  return Vec3{static_cast<float>(v.vector[0]), static_cast<float>(v.vector[1]),
              static_cast<float>(v.vector[2])};
}

// One event as a scenario writes it, parsed as the simulator parses it.
EventList ParseEvent(const Json& event) {
  const std::shared_ptr<ScenarioDocument> doc =
      ScenarioDocument::Parse("(scenario-from event)", event.dump());
  EventList out;
  World::ParseEvent(ScenarioNode::Root(doc), out);
  return out;
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
  Fitter(const RecordingOutline& outline, Scenario base)
      : outline_(outline), base_(std::move(base)), state_(base_) {
    replayer_.Attach(state_.world);
    state_.world.drawing.keepFrames = false;
    const World defaults = DefaultWorld();
    defaultLabels_ = defaults.labels.texts;
  }

  void Run(RecordingFrames& frames);
  Json Document(const std::string& name) const;
  Json EventsJson() const;

 private:
  static World DefaultWorld() {
    const std::shared_ptr<ScenarioDocument> doc = ScenarioDocument::Parse("(defaults)", "{}");
    World world;
    world.Configure(ScenarioNode::Root(doc));
    return world;
  }

  void FitFrame(std::int64_t frame, const std::vector<TraceEntry>& lines);
  FramePass RunPass(std::int64_t frame, const std::vector<TraceEntry>& lines,
                    const EventList& extra, const std::set<std::size_t>& rejected);
  void Observe(const TraceEntry& line, Observations& seen);
  // The observation key of a label read, by the table it is looked up in.
  std::string LabelKey(const TraceEntry& line) const;
  // A movie answered loaded (or its method begun): the handle, and the movie
  // the world holds under it.
  void ObserveMovieLoaded(const TraceEntry& line, Observations& seen) const;
  // Whether a search query's answer shows the search settled.
  bool ShowsSearchState(const TraceEntry& line) const;
  void KeepObservations(std::int64_t frame, const Observations& seen);
  // Notes the character switch among a frame's kept events, if any.
  void NoteSwitch(std::int64_t frame, const World& before);
  std::vector<Fix> Propose(std::int64_t frame, const TraceEntry& line);

  // The fixers, one per kind of answer.
  std::vector<Fix> FixPlayer(std::int64_t frame, const TraceEntry& line, const World& world);
  std::vector<Fix> FixPlayerId(std::int64_t frame, const TraceEntry& line, const World& world);
  std::vector<Fix> FixMaxHealth(const TraceEntry& line);
  std::vector<Fix> FixPosition(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixHealth(std::int64_t frame, const TraceEntry& line, const World& world);
  std::vector<Fix> FixDeadOrInjured(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixScreen(std::int64_t frame, const TraceEntry& line, const World& world);
  std::vector<Fix> FixMovie(std::int64_t frame, const TraceEntry& line, const World& world);
  std::vector<Fix> FixTexture(std::int64_t frame, const TraceEntry& line, const World& world);
  std::vector<Fix> FixSearch(std::int64_t frame, const TraceEntry& line, const World& world);
  std::vector<Fix> FixResultCount(const TraceEntry& line, const SpawnModel& spawn);
  std::vector<Fix> FixSearchResult(const TraceEntry& line, const SpawnModel& spawn);
  // The search under way shows `outcome` at `frame`, or never settles.
  Fix SettleSearch(std::int64_t frame, SearchOutcome outcome);
  Fix KeepSearchRunning();
  std::vector<Fix> FixRoadNode(const TraceEntry& line);
  std::vector<Fix> FixDisplay(std::int64_t frame, const TraceEntry& line);
  std::vector<Fix> FixLabel(const TraceEntry& line, const World& world);

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

void Fitter::NoteSwitch(std::int64_t frame, const World& before) {
  const std::vector<Json>& events = fixEvents_[frame];
  for (std::size_t i = events.size(); i-- > 0;) {
    if (!events[i].contains("switchCharacter")) continue;
    if (lastSwitch_ && lastSwitch_->frame == frame && lastSwitch_->index == i) return;
    lastSwitch_ = Switch{frame, i, before.player.pedHandle, before.player.playerId};
    return;
  }
}

void Fitter::Run(RecordingFrames& frames) {
  std::int64_t frame = 0;
  const std::vector<TraceEntry>* lines = nullptr;
  const std::vector<TraceEntry> none;
  while (!ended_ && frames.Next(frame, lines)) {
    if (frame < 0) continue;
    if (frame >= outline_.frames) break;
    while (!ended_ && framesRun_ < frame) FitFrame(framesRun_, none);
    if (!ended_) FitFrame(frame, *lines);
  }
}

void Fitter::FitFrame(std::int64_t frame, const std::vector<TraceEntry>& lines) {
  // The fit keeps no notes: the frame's start is copied, and notes would
  // make each copy dearer.
  state_.world.timeline = Timeline{};
  RecordedWorld start = state_;
  const std::size_t baseFrom = nextBase_;
  EventList extra;
  std::set<std::size_t> rejected;
  FramePass pass = RunPass(frame, lines, extra, rejected);
  for (int tries = 0; pass.fixIndex && tries < kMaxFixesPerFrame; ++tries) {
    const std::size_t line = *pass.fixIndex;
    bool kept = false;
    for (const Fix& fix : pass.fixes) {
      RecordedWorld trialStart = start;
      if (fix.patch) fix.patch(trialStart.world);
      EventList trialExtra = extra;
      for (const Json& event : fix.events) {
        for (ScheduledEvent& e : ParseEvent(event)) trialExtra.push_back(std::move(e));
      }
      state_ = trialStart;
      nextBase_ = baseFrom;
      FramePass trial = RunPass(frame, lines, trialExtra, rejected);
      if (!trial.Differs(line) && trial.NoWorseBefore(line, pass)) {
        start = std::move(trialStart);
        extra = std::move(trialExtra);
        if (fix.keep) fix.keep();
        for (const Json& event : fix.events) fixEvents_[frame].push_back(event);
        NoteSwitch(frame, start.world);
        pass = std::move(trial);
        kept = true;
        break;
      }
    }
    if (!kept) {
      rejected.insert(line);
      state_ = start;
      nextBase_ = baseFrom;
      pass = RunPass(frame, lines, extra, rejected);
    }
  }
  KeepObservations(frame, pass.seen);
  ++framesRun_;
}

FramePass Fitter::RunPass(std::int64_t frame, const std::vector<TraceEntry>& lines,
                          const EventList& extra, const std::set<std::size_t>& rejected) {
  FramePass pass;
  state_.StartFrame(frame);
  while (nextBase_ < base_.events.size() && base_.events[nextBase_].frame <= frame) {
    const ScheduledEvent& event = base_.events[nextBase_++];
    state_.Apply(event);
    if (event.kind == EventKind::Unload) ended_ = true;
  }
  for (const ScheduledEvent& event : extra) state_.Apply(event);
  World& world = state_.world;
  world.BeginFrame();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const TraceEntry& line = lines[i];
    if (line.native == nullptr || line.byRecorder) continue;
    if (line.IsNative("SPAWNPOINTS_START_SEARCH")) searchStart_ = frame;
    const WorldAnswer answer = replayer_.Call(state_, line);
    Observe(line, pass.seen);
    if (CompareAnswer(line, answer).Empty()) continue;
    pass.differing.push_back(i);
    if (pass.fixIndex || rejected.count(i) != 0) continue;
    std::vector<Fix> fixes = Propose(frame, line);
    if (!fixes.empty()) {
      pass.fixIndex = i;
      pass.fixes = std::move(fixes);
    }
  }
  world.EndFrame();
  replayer_.EndFrame(world);
  return pass;
}

// ---- What the plug-in relies on -----------------------------------------------

namespace {

// The natives whose every answer the plug-in relies on, with the observation
// key each answer is kept under.
struct PlainObservation {
  std::string_view native;
  const char* key;
};
constexpr PlainObservation kPlainObservations[] = {
    {"PLAYER_PED_ID", "ped"},          {"PLAYER_ID", "player"},
    {"GET_ENTITY_HEALTH", "health"},   {"IS_ENTITY_DEAD", "health"},
    {"IS_PED_INJURED", "health"},      {"GET_ENTITY_MAX_HEALTH", "maxHealth"},
    {"GET_ENTITY_COORDS", "position"}, {"GET_CURRENT_LANGUAGE", "language"},
    {"BUSYSPINNER_IS_ON", "spinner"},  {"0xCA042B6957743895", "nullText"},
};

const char* PlainObservationKey(std::string_view native) {
  for (const PlainObservation& plain : kPlainObservations) {
    if (plain.native == native) return plain.key;
  }
  return nullptr;
}

void ObserveMovieRequest(const TraceEntry& line, Observations& seen) {
  ++seen.requests;
  if (!line.result || line.result->integer > 0) seen.requestsAllFailed = false;
  if (line.result) seen.movieAnswers.emplace_back(line.result->integer, false);
}

// A road-node lookup (GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING) as answered.
Observations::Lookup LookupOf(const TraceEntry& line) {
  Observations::Lookup lookup;
  lookup.where =
      Vec3{static_cast<float>(line.args[0].number), static_cast<float>(line.args[1].number),
           static_cast<float>(line.args[2].number)};
  lookup.n = static_cast<std::int32_t>(line.args[3].integer);
  lookup.found = line.result->IsTrue();
  lookup.position = VectorOf(line.outs[0]);
  lookup.heading = static_cast<float>(line.outs[1].number);
  lookup.lanes = static_cast<std::int32_t>(line.outs[2].integer);
  return lookup;
}

}  // namespace

void Fitter::Observe(const TraceEntry& line, Observations& seen) {
  const std::string& name = line.native->name;
  const bool isTrue = line.result && line.result->IsTrue();
  if (const char* key = PlainObservationKey(name)) {
    seen.keys.insert(key);
  } else if (name == "GET_HUD_COLOUR") {
    seen.keys.insert("hud:" + std::to_string(line.args[0].integer));
  } else if (name == "GET_FILENAME_FOR_AUDIO_CONVERSATION") {
    seen.keys.insert(LabelKey(line));
  } else if (name == "REQUEST_SCALEFORM_MOVIE") {
    ObserveMovieRequest(line, seen);
  } else if ((name == "HAS_SCALEFORM_MOVIE_LOADED" || name == "BEGIN_SCALEFORM_MOVIE_METHOD") &&
             isTrue) {
    ObserveMovieLoaded(line, seen);
  } else if (name == "HAS_STREAMED_TEXTURE_DICT_LOADED" && isTrue) {
    seen.keys.insert("texture:" + line.args[0].text);
  } else if (ShowsSearchState(line)) {
    seen.keys.insert("search");
  } else if (name == "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS") {
    seen.keys.insert("resultCount");
    if (line.result) searchCount_ = static_cast<std::int32_t>(line.result->integer);
  } else if (name == "SPAWNPOINTS_GET_SEARCH_RESULT") {
    seen.keys.insert("result:" + std::to_string(line.args[0].integer));
  } else if (name == "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING" && line.result &&
             line.outs.size() == 3) {
    seen.lookups.push_back(LookupOf(line));
  }
}

std::string Fitter::LabelKey(const TraceEntry& line) const {
  // A label is looked up in the language's own table when the scenario
  // gives one, else in the table for every language.
  const World& world = state_.world;
  const std::int32_t language = world.drawing.language;
  const bool own = world.labels.byLanguage.count(language) != 0;
  return "label:" + (own ? std::to_string(language) : std::string("*")) + ":" + line.args[0].text;
}

void Fitter::ObserveMovieLoaded(const TraceEntry& line, Observations& seen) const {
  const auto handle = static_cast<std::int32_t>(line.args[0].integer);
  seen.movieAnswers.emplace_back(handle, true);
  const auto mapped = state_.movieHandles.find(handle);
  if (const ScaleformMovie* movie = state_.world.scaleform.Find(
          mapped != state_.movieHandles.end() ? mapped->second : handle)) {
    seen.keys.insert("movie:" + movie->name);
  }
}

bool Fitter::ShowsSearchState(const TraceEntry& line) const {
  const std::string& name = line.native->name;
  const bool isTrue = line.result && line.result->IsTrue();
  if (name == "SPAWNPOINTS_IS_SEARCH_COMPLETE" || name == "SPAWNPOINTS_IS_SEARCH_FAILED")
    return isTrue;
  // Not active, while the world holds a search: it has settled.
  return name == "SPAWNPOINTS_IS_SEARCH_ACTIVE" && line.result && !isTrue &&
         state_.world.spawn.state != SearchState::None;
}

void Fitter::KeepObservations(std::int64_t frame, const Observations& seen) {
  for (const std::string& key : seen.keys) seen_.lastSeen[key] = frame;
  seen_.requests += seen.requests;
  seen_.requestsAllFailed = seen_.requestsAllFailed && seen.requestsAllFailed;
  for (const auto& [handle, loaded] : seen.movieAnswers) {
    if (loaded) {
      seen_.moviesSeenLoaded.insert(handle);
    } else {
      seen_.moviesSeenLoaded.erase(handle);
    }
  }
  seen_.lookups.insert(seen_.lookups.end(), seen.lookups.begin(), seen.lookups.end());
}

// ---- Fixes ----------------------------------------------------------------------

std::vector<Fix> Fitter::Propose(std::int64_t frame, const TraceEntry& line) {
  const World& world = state_.world;
  const std::string& name = line.native->name;
  if (!line.result && line.outs.empty()) return {};
  if (name == "PLAYER_PED_ID" || name == "PLAYER_ID" || name == "GET_ENTITY_HEALTH" ||
      name == "GET_ENTITY_MAX_HEALTH" || name == "GET_ENTITY_COORDS" || name == "IS_ENTITY_DEAD" ||
      name == "IS_PED_INJURED") {
    return FixPlayer(frame, line, world);
  }
  if (name == "IS_CONTROL_JUST_PRESSED") {
    if (!line.result->IsTrue()) return {};
    const auto pad = line.args[0].integer;
    const auto control = line.args[1].integer;
    Json tap = At(frame);
    tap["tap"] = control;
    if (pad != 0) tap["pad"] = pad;
    // A tap in the frame after another is the same press held on, unless it
    // went up and down again in between.
    Json again = Json{{"from", frame}, {"to", frame}, {"tapEveryFrames", 1}, {"control", control}};
    if (pad != 0) again["pad"] = pad;
    return {Event(tap), Event(again)};
  }
  if (name == "IS_SCREEN_FADING_OUT" || name == "IS_SCREEN_FADED_OUT") {
    return FixScreen(frame, line, world);
  }
  if (name == "REQUEST_SCALEFORM_MOVIE" || name == "HAS_SCALEFORM_MOVIE_LOADED" ||
      name == "BEGIN_SCALEFORM_MOVIE_METHOD") {
    return FixMovie(frame, line, world);
  }
  if (name == "HAS_STREAMED_TEXTURE_DICT_LOADED") return FixTexture(frame, line, world);
  if (name.starts_with("SPAWNPOINTS_")) return FixSearch(frame, line, world);
  if (name == "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING") return FixRoadNode(line);
  if (name == "GET_CURRENT_LANGUAGE" || name == "BUSYSPINNER_IS_ON" || name == "GET_HUD_COLOUR" ||
      name == "0xCA042B6957743895") {
    return FixDisplay(frame, line);
  }
  if (name == "GET_FILENAME_FOR_AUDIO_CONVERSATION") return FixLabel(line, world);
  return {};
}

std::vector<Fix> Fitter::FixPlayer(std::int64_t frame, const TraceEntry& line, const World& world) {
  const std::string& name = line.native->name;
  if (name == "PLAYER_PED_ID" || name == "PLAYER_ID") return FixPlayerId(frame, line, world);
  // The rest ask about an entity: only the player's is modelled.
  if (line.args.empty() || line.args[0].integer != world.player.pedHandle) return {};
  if (name == "GET_ENTITY_MAX_HEALTH") return FixMaxHealth(line);
  if (name == "GET_ENTITY_COORDS") return FixPosition(frame, line);
  if (name == "GET_ENTITY_HEALTH") return FixHealth(frame, line, world);
  return FixDeadOrInjured(frame, line);
}

std::vector<Fix> Fitter::FixPlayerId(std::int64_t frame, const TraceEntry& line,
                                     const World& world) {
  const auto given = static_cast<std::int32_t>(line.result->integer);
  const bool ped = line.native->name == "PLAYER_PED_ID";
  const char* key = ped ? "ped" : "player";
  if (lastSwitch_ && !seen_.SeenSince(key, lastSwitch_->frame)) {
    // Nothing read it since the last switch: that switch gave it.
    const Switch s = *lastSwitch_;
    Fix fix;
    fix.patch = [ped, given, s](World& w) {
      std::int32_t& value = ped ? w.player.pedHandle : w.player.playerId;
      std::set<std::int32_t>& former = ped ? w.player.formerPedHandles : w.player.formerPlayerIds;
      const std::int32_t before = ped ? s.pedBefore : s.playerBefore;
      former.erase(value);
      if (before != given) former.insert(before);
      former.erase(given);
      value = given;
    };
    fix.keep = [this, ped, given, s] {
      fixEvents_[s.frame][s.index]["switchCharacter"][ped ? "pedHandle" : "playerId"] = given;
    };
    return {fix};
  }
  if (!seen_.Has(key)) {
    Fix fix;
    fix.patch = [ped, given](World& w) { (ped ? w.player.pedHandle : w.player.playerId) = given; };
    fix.keep = [this, ped, given] { (ped ? settings_.pedHandle : settings_.playerId) = given; };
    return {fix};
  }
  const PlayerModel& player = world.player;
  Json event = At(frame);
  event["switchCharacter"] = Json{{"pedHandle", ped ? given : player.pedHandle},
                                  {"playerId", ped ? player.playerId : given}};
  return {Event(event)};
}

std::vector<Fix> Fitter::FixMaxHealth(const TraceEntry& line) {
  if (seen_.Has("maxHealth")) return {};
  const auto given = static_cast<std::int32_t>(line.result->integer);
  if (given < 0) return {};
  Fix fix;
  fix.patch = [given](World& w) { w.player.maxHealth = given; };
  fix.keep = [this, given] { settings_.maxHealth = given; };
  return {fix};
}

std::vector<Fix> Fitter::FixPosition(std::int64_t frame, const TraceEntry& line) {
  const Vec3 where = VectorOf(*line.result);
  if (!Finite(where)) return {};
  if (!seen_.Has("position")) {
    Fix fix;
    fix.patch = [where](World& w) { w.player.position = where; };
    fix.keep = [this, where] { settings_.position = where; };
    return {fix};
  }
  Json event = At(frame);
  event["position"] = Point(where);
  return {Event(event)};
}

std::vector<Fix> Fitter::FixHealth(std::int64_t frame, const TraceEntry& line, const World& world) {
  const auto given = static_cast<std::int32_t>(line.result->integer);
  if (!seen_.Has("health")) {
    Fix fix;
    fix.patch = [given](World& w) {
      w.player.health = given;
      w.player.dead = given < 1;
      // A dead player is work for the game's restart sequence each frame.
      w.NoteWork();
    };
    fix.keep = [this, given] { settings_.health = given; };
    return {fix};
  }
  Json health = At(frame);
  health["health"] = given;
  if (world.player.dead && given >= 1) {
    // A dead player comes back only through a heal; the health then reads
    // the most it can be.
    Json heal = At(frame);
    heal["heal"] = true;
    Fix fix = Event(heal);
    if (given != world.player.maxHealth) fix.events.push_back(health);
    return {fix};
  }
  return {Event(health)};
}

// IS_ENTITY_DEAD, IS_PED_INJURED.
std::vector<Fix> Fitter::FixDeadOrInjured(std::int64_t frame, const TraceEntry& line) {
  Json event = At(frame);
  if (line.result->IsTrue()) {
    std::vector<Fix> fixes;
    if (line.native->name == "IS_PED_INJURED") {
      Json injure = At(frame);
      injure["injure"] = true;
      fixes.push_back(Event(injure));
    }
    event["health"] = 0;
    fixes.push_back(Event(event));
    return fixes;
  }
  event["heal"] = true;
  return {Event(event)};
}

std::vector<Fix> Fitter::FixScreen(std::int64_t frame, const TraceEntry& line, const World& world) {
  // A fade the game started by itself: its length shows only in when it
  // ends, so the game's own default stands for it until then.
  constexpr std::int32_t kGameFadeMs = 1000;
  const bool fadingOut = line.native->name == "IS_SCREEN_FADING_OUT";
  const auto fade = [frame](const char* kind, std::int32_t ms) {
    Json event = At(frame);
    event[kind] = ms;
    return event;
  };
  if (line.result->IsTrue()) {
    if (!fadingOut) return {Event(fade("fadeOut", 0))};
    if (world.screen.fade == FadeState::FadedOut) {
      Fix fix = Event(fade("fadeIn", 0));
      fix.events.push_back(fade("fadeOut", kGameFadeMs));
      return {fix};
    }
    return {Event(fade("fadeOut", kGameFadeMs))};
  }
  if (fadingOut) return {Event(fade("fadeOut", 0)), Event(fade("fadeIn", 0))};
  return {Event(fade("fadeIn", 0))};
}

std::vector<Fix> Fitter::FixMovie(std::int64_t frame, const TraceEntry& line, const World& world) {
  const std::string& name = line.native->name;
  if (name == "REQUEST_SCALEFORM_MOVIE") {
    const auto given = static_cast<std::int32_t>(line.result->integer);
    // A failed request answers -1 or 0; the scenario can fail only the first
    // requests, all with one answer.
    if (given > 0 || given < -1 || !seen_.requestsAllFailed) return {};
    if (settings_.failRequests && settings_.failHandle != given) return {};
    Fix fix;
    fix.patch = [given](World& w) {
      ++w.scaleform.failRequests;
      w.scaleform.failHandle = given;
    };
    fix.keep = [this, given] {
      settings_.failRequests = settings_.failRequests.value_or(0) + 1;
      settings_.failHandle = given;
    };
    return {fix};
  }
  const auto recorded = static_cast<std::int32_t>(line.args[0].integer);
  const auto mapped = state_.movieHandles.find(recorded);
  const std::int32_t handle = mapped != state_.movieHandles.end() ? mapped->second : recorded;
  const ScaleformMovie* movie = world.scaleform.Find(handle);
  if (movie == nullptr || movie->released) return {};
  const std::string movieName = movie->name;
  const bool fixed = seen_.Has("movie:" + movieName);
  if (line.result->IsTrue()) {
    if (movie->evicted || fixed) return {};
    const std::int64_t frames = frame - movie->requestedFrame;
    Fix fix;
    fix.patch = [movieName, handle, frame, frames](World& w) {
      w.scaleform.loadingByName[movieName] = MovieLoading{frames};
      if (ScaleformMovie* m = w.scaleform.Find(handle); m != nullptr && m->name == movieName) {
        m->loadFrame = frame;
      }
    };
    fix.keep = [this, movieName, frames] { settings_.movieLoadFrames[movieName] = frames; };
    return {fix};
  }
  if (seen_.moviesSeenLoaded.count(recorded) != 0) {
    Json event = At(frame);
    event["evictMovie"] = movieName;
    return {Event(event)};
  }
  if (fixed) return {};
  // Not loaded yet: it loads later than the world had it, when is seen later.
  Fix fix;
  fix.patch = [movieName, handle](World& w) {
    w.scaleform.loadingByName[movieName] = MovieLoading{std::nullopt};
    if (ScaleformMovie* m = w.scaleform.Find(handle); m != nullptr && m->name == movieName) {
      m->loadFrame.reset();
      m->loaded = false;
    }
  };
  fix.keep = [this, movieName] { settings_.movieLoadFrames[movieName] = std::nullopt; };
  return {fix};
}

std::vector<Fix> Fitter::FixTexture(std::int64_t frame, const TraceEntry& line,
                                    const World& world) {
  const std::string dictionary = line.args[0].text;
  if (seen_.Has("texture:" + dictionary)) return {};
  const auto it = world.drawing.dictionaries.find(dictionary);
  const std::int64_t requested =
      it != world.drawing.dictionaries.end() ? it->second.requestedFrame : -1;
  Fix fix;
  if (line.result->IsTrue()) {
    if (requested < 0) {
      fix.patch = [dictionary](World& w) { w.drawing.dictionaries[dictionary].resident = true; };
      fix.keep = [this, dictionary] { settings_.texturesLoaded.insert(dictionary); };
      return {fix};
    }
    const std::int64_t frames = frame - requested;
    fix.patch = [dictionary, frames](World& w) {
      w.drawing.neverLoaded.erase(dictionary);
      w.drawing.loadFramesOf[dictionary] = frames;
    };
    fix.keep = [this, dictionary, frames] {
      settings_.texturesNever.erase(dictionary);
      settings_.textureLoadFrames[dictionary] = frames;
    };
    return {fix};
  }
  fix.patch = [dictionary](World& w) {
    w.drawing.neverLoaded.insert(dictionary);
    w.drawing.dictionaries[dictionary].resident = false;
  };
  fix.keep = [this, dictionary] {
    settings_.texturesLoaded.erase(dictionary);
    settings_.textureLoadFrames.erase(dictionary);
    settings_.texturesNever.insert(dictionary);
  };
  return {fix};
}

std::vector<Fix> Fitter::FixSearch(std::int64_t frame, const TraceEntry& line, const World& world) {
  const std::string& name = line.native->name;
  if (name == "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS") return FixResultCount(line, world.spawn);
  if (name == "SPAWNPOINTS_GET_SEARCH_RESULT") return FixSearchResult(line, world.spawn);
  if (seen_.Has("search")) return {};
  // When the search under way showed its outcome: frames from its start,
  // and which outcome, from what the game answered.
  const bool answered = line.result->IsTrue();
  if (name == "SPAWNPOINTS_IS_SEARCH_COMPLETE") {
    return {answered ? SettleSearch(frame, SearchOutcome::Complete) : KeepSearchRunning()};
  }
  if (name == "SPAWNPOINTS_IS_SEARCH_FAILED") {
    return {answered ? SettleSearch(frame, SearchOutcome::Failed) : KeepSearchRunning()};
  }
  if (name == "SPAWNPOINTS_IS_SEARCH_ACTIVE") {
    if (answered) return {KeepSearchRunning()};
    return {SettleSearch(frame, SearchOutcome::Inactive),
            SettleSearch(frame, SearchOutcome::Complete),
            SettleSearch(frame, SearchOutcome::Failed)};
  }
  return {};
}

std::vector<Fix> Fitter::FixResultCount(const TraceEntry& line, const SpawnModel& spawn) {
  if (seen_.Has("resultCount") || !spawn.IsComplete()) return {};
  const auto given = static_cast<std::int32_t>(line.result->integer);
  if (given < 0) return {};
  // The points the plug-in never reads stand at the search's centre.
  std::vector<Vec3> points = settings_.searchResults.value_or(std::vector<Vec3>{});
  points.resize(static_cast<std::size_t>(given), spawn.centre);
  Fix fix;
  fix.patch = [points](World& w) {
    w.spawn.configuredResults = points;
    if (w.spawn.state != SearchState::None) w.spawn.results = points;
  };
  fix.keep = [this, points] { settings_.searchResults = points; };
  return {fix};
}

std::vector<Fix> Fitter::FixSearchResult(const TraceEntry& line, const SpawnModel& spawn) {
  const auto index = line.args[0].integer;
  if (index < 0 || line.outs.size() != 3) return {};
  const Vec3 point{static_cast<float>(line.outs[0].number), static_cast<float>(line.outs[1].number),
                   static_cast<float>(line.outs[2].number)};
  if (!Finite(point) || seen_.Has("result:" + std::to_string(index))) return {};
  std::vector<Vec3> points = settings_.searchResults ? *settings_.searchResults : spawn.results;
  std::optional<std::int32_t> count = settings_.searchResultCount;
  if (static_cast<std::size_t>(index) >= points.size()) {
    // The game gave a result past the count it answered.
    points.resize(static_cast<std::size_t>(index) + 1, spawn.centre);
    count = searchCount_;
  }
  points[static_cast<std::size_t>(index)] = point;
  Fix fix;
  fix.patch = [points, count](World& w) {
    w.spawn.configuredResults = points;
    w.spawn.reportedCount = count;
    if (w.spawn.state != SearchState::None) w.spawn.results = points;
  };
  fix.keep = [this, points, count] {
    settings_.searchResults = points;
    settings_.searchResultCount = count;
  };
  return {fix};
}

Fix Fitter::SettleSearch(std::int64_t frame, SearchOutcome outcome) {
  const std::int64_t frames = frame - searchStart_;
  Fix fix;
  fix.patch = [outcome, frames, frame, start = searchStart_](World& w) {
    SpawnModel& s = w.spawn;
    s.outcome = outcome;
    s.searchFrames = frames;
    if (s.state != SearchState::None && start < frame) {
      // Started before this frame: it shows its outcome at this frame's start.
      s.state = SearchState::Running;
      s.framesLeft = 1;
      s.results = s.configuredResults ? *s.configuredResults : std::vector<Vec3>{s.centre};
    }
  };
  fix.keep = [this, outcome, frames] {
    settings_.searchOutcome = outcome;
    settings_.searchFrames = frames;
  };
  return fix;
}

Fix Fitter::KeepSearchRunning() {
  Fix running;
  running.patch = [](World& w) {
    SpawnModel& s = w.spawn;
    s.outcome = SearchOutcome::Never;
    if (s.state == SearchState::Settled) s.state = SearchState::Running;
  };
  running.keep = [this] { settings_.searchOutcome = SearchOutcome::Never; };
  return running;
}

std::vector<Fix> Fitter::FixRoadNode(const TraceEntry& line) {
  if (!line.result->IsTrue() || line.outs.size() != 3) return {};
  RoadNode node;
  node.position = VectorOf(line.outs[0]);
  node.heading = static_cast<float>(line.outs[1].number);
  node.lanes = static_cast<std::int32_t>(line.outs[2].integer);
  if (!Finite(node.position) || !std::isfinite(node.heading) || node.lanes < 0 || node.lanes > 16) {
    return {};
  }
  // A node added for this lookup must not change what an earlier one found.
  SpawnModel check;
  check.roadNodes = settings_.roadNodes;
  check.roadNodes.push_back(node);
  for (const Observations::Lookup& earlier : seen_.lookups) {
    const RoadNode* found = check.NthClosestNode(earlier.where, earlier.n);
    if ((found != nullptr) != earlier.found) return {};
    if (found != nullptr &&
        !(found->position.x == earlier.position.x && found->position.y == earlier.position.y &&
          found->position.z == earlier.position.z && found->heading == earlier.heading &&
          found->lanes == earlier.lanes)) {
      return {};
    }
  }
  Fix fix;
  fix.patch = [node](World& w) { w.spawn.roadNodes.push_back(node); };
  fix.keep = [this, node] { settings_.roadNodes.push_back(node); };
  return {fix};
}

std::vector<Fix> Fitter::FixDisplay(std::int64_t frame, const TraceEntry& line) {
  const std::string& name = line.native->name;
  if (name == "GET_CURRENT_LANGUAGE") {
    const auto given = static_cast<std::int32_t>(line.result->integer);
    if (given < 0) return {};
    if (!seen_.Has("language")) {
      Fix fix;
      fix.patch = [given](World& w) { w.drawing.language = given; };
      fix.keep = [this, given] { settings_.language = given; };
      return {fix};
    }
    Json event = At(frame);
    event["language"] = given;
    return {Event(event)};
  }
  if (name == "BUSYSPINNER_IS_ON") {
    const bool given = line.result->IsTrue();
    if (!seen_.Has("spinner")) {
      Fix fix;
      fix.patch = [given](World& w) { w.drawing.busySpinner = given; };
      fix.keep = [this, given] { settings_.busySpinner = given; };
      return {fix};
    }
    Json event = At(frame);
    event["busySpinner"] = given;
    return {Event(event)};
  }
  if (name == "GET_HUD_COLOUR") {
    const auto index = static_cast<std::int32_t>(line.args[0].integer);
    if (index < 0 || seen_.Has("hud:" + std::to_string(index)) || line.outs.size() != 4) return {};
    Colour colour{static_cast<std::int32_t>(line.outs[0].integer),
                  static_cast<std::int32_t>(line.outs[1].integer),
                  static_cast<std::int32_t>(line.outs[2].integer),
                  static_cast<std::int32_t>(line.outs[3].integer)};
    for (std::int32_t c : {colour.red, colour.green, colour.blue, colour.alpha}) {
      if (c < 0 || c > 255) return {};
    }
    Fix fix;
    fix.patch = [index, colour](World& w) { w.drawing.hudColours[index] = colour; };
    fix.keep = [this, index, colour] { settings_.hudColours[index] = colour; };
    return {fix};
  }
  // The game's null-or-empty text test.
  if (seen_.Has("nullText")) return {};
  const auto given = static_cast<std::int32_t>(line.result->integer);
  Fix fix;
  fix.patch = [given](World& w) { w.state.nullOrEmptyTextAnswer = given; };
  fix.keep = [this, given] { settings_.nullOrEmptyTextAnswer = given; };
  return {fix};
}

std::vector<Fix> Fitter::FixLabel(const TraceEntry& line, const World& world) {
  const std::string key = line.args[0].text;
  const std::int32_t language = world.drawing.language;
  const std::optional<std::string> text = line.result->kind == TraceValue::Kind::Text
                                              ? std::optional<std::string>(line.result->text)
                                              : std::nullopt;
  const auto set = [key, text](LabelTable& table) {
    if (text) {
      table[key] = *text;
    } else {
      table.erase(key);
    }
  };
  const bool own = world.labels.byLanguage.count(language) != 0;
  Fix fix;
  if (!own && !seen_.Has("label:*:" + key)) {
    // The table for every language, which replaces the game's whole.
    fix.patch = [set](World& w) { set(w.labels.texts); };
    fix.keep = [this, set] {
      if (!settings_.labels) settings_.labels = defaultLabels_;
      set(*settings_.labels);
    };
    return {fix};
  }
  if (own && seen_.Has("label:" + std::to_string(language) + ":" + key)) return {};
  // A table of this language's own, starting from the one it read so far.
  fix.patch = [set, language, own](World& w) {
    if (!own) w.labels.byLanguage[language] = w.labels.texts;
    set(w.labels.byLanguage[language]);
  };
  fix.keep = [this, set, language, own] {
    if (!own) settings_.labelsByLanguage[language] = settings_.labels.value_or(defaultLabels_);
    set(settings_.labelsByLanguage[language]);
  };
  return {fix};
}

// ---- The scenario written -------------------------------------------------------

// Taps the fit made one by one, written as spans where they repeat: a fresh
// press in each of consecutive frames as one span of every frame, and taps
// at an even spacing (three or more) as one span of that spacing. Each span
// stands at its first frame.
void MergeTaps(std::map<std::int64_t, std::vector<Json>>& byFrame) {
  struct Tap {
    std::int64_t frame;
    bool again;
  };
  // By pad and control, in frame order.
  std::map<std::pair<std::int64_t, std::int64_t>, std::vector<Tap>> taps;
  for (auto& [frame, events] : byFrame) {
    std::vector<Json> kept;
    for (Json& event : events) {
      const std::int64_t pad = event.contains("pad") ? event["pad"].get<std::int64_t>() : 0;
      if (event.contains("tap") && !event.contains("frames")) {
        taps[{pad, event["tap"].get<std::int64_t>()}].push_back(Tap{frame, false});
      } else if (event.contains("tapEveryFrames") && event["from"] == event["to"]) {
        taps[{pad, event["control"].get<std::int64_t>()}].push_back(Tap{frame, true});
      } else {
        kept.push_back(std::move(event));
      }
    }
    events = std::move(kept);
  }
  for (const auto& [key, list] : taps) {
    const auto [pad, control] = key;
    for (std::size_t i = 0; i < list.size();) {
      // The longest run from i of one kind at one spacing.
      std::size_t j = i + 1;
      const std::int64_t every = j < list.size() ? list[j].frame - list[i].frame : 0;
      while (j < list.size() && list[j].again == list[i].again &&
             list[j].frame - list[j - 1].frame == every && (!list[i].again || every == 1)) {
        ++j;
      }
      const std::size_t length = j - i;
      Json event;
      if (list[i].again) {
        const std::size_t n = every == 1 ? length : 1;
        event = Json{{"from", list[i].frame},
                     {"to", list[i + n - 1].frame},
                     {"tapEveryFrames", 1},
                     {"control", control}};
        j = i + n;
      } else if (length >= 3) {
        event = Json{{"from", list[i].frame},
                     {"to", list[j - 1].frame},
                     {"tapEveryFrames", every},
                     {"control", control}};
      } else {
        event = Json{{"frame", list[i].frame}, {"tap", control}};
        j = i + 1;
      }
      if (pad != 0) event["pad"] = pad;
      byFrame[list[i].frame].push_back(std::move(event));
      i = j;
    }
  }
}

Json LabelsJson(const LabelTable& table) {
  Json out = Json::object();
  for (const auto& [key, text] : table) out[key] = text;
  return out;
}

// The scenario's clock: its rate, length and where its timer and frame count
// start.
Json ClockJson(const RecordingOutline& outline) {
  Json doc;
  doc["fps"] = outline.fps;
  doc["frames"] = outline.frames;
  doc["startGameTime"] = std::min<std::int64_t>(outline.startGameTime, UINT32_MAX);
  if (outline.startFrameCount != 0) doc["startFrameCount"] = outline.startFrameCount;
  return doc;
}

Json PlayerJson(const Settings& s) {
  Json player = Json::object();
  if (s.pedHandle) player["pedHandle"] = *s.pedHandle;
  if (s.playerId) player["playerId"] = *s.playerId;
  if (s.health) player["health"] = *s.health;
  if (s.maxHealth) player["maxHealth"] = *s.maxHealth;
  if (s.position) player["position"] = Point(*s.position);
  return player;
}

// The spawn search's and road nodes' settings into `world`.
void AddSpawnSettings(const Settings& s, Json& world) {
  if (s.searchFrames || s.searchOutcome || s.searchResults) {
    Json search = Json::object();
    if (s.searchFrames) search["frames"] = *s.searchFrames;
    if (s.searchOutcome) search["outcome"] = SearchOutcomeName(*s.searchOutcome);
    if (s.searchResults) {
      Json points = Json::array();
      for (const Vec3& p : *s.searchResults) points.push_back(Point(p));
      search["results"] = points;
    }
    if (s.searchResultCount) search["resultCount"] = *s.searchResultCount;
    world["spawnSearch"] = search;
  }
  if (!s.roadNodes.empty()) {
    Json nodes = Json::array();
    for (const RoadNode& n : s.roadNodes) {
      nodes.push_back(Json{
          {"position", Point(n.position)}, {"heading", Number(n.heading)}, {"lanes", n.lanes}});
    }
    world["roadNodes"] = nodes;
  }
}

// Movies' and texture dictionaries' settings into `world`.
void AddStreamingSettings(const Settings& s, Json& world) {
  if (!s.movieLoadFrames.empty() || s.failRequests) {
    Json scaleform = Json::object();
    for (const auto& [movie, frames] : s.movieLoadFrames) {
      scaleform[movie] = Json{{"loadFrames", frames ? Json(*frames) : Json("never")}};
    }
    if (s.failRequests) {
      scaleform["failRequests"] = *s.failRequests;
      scaleform["failHandle"] = s.failHandle;
    }
    world["scaleform"] = scaleform;
  }
  if (!s.texturesLoaded.empty() || !s.textureLoadFrames.empty() || !s.texturesNever.empty()) {
    Json textures = Json::object();
    if (!s.textureLoadFrames.empty()) {
      Json per = Json::object();
      for (const auto& [dictionary, frames] : s.textureLoadFrames) per[dictionary] = frames;
      textures["perDictionary"] = per;
    }
    if (!s.texturesNever.empty()) textures["never"] = s.texturesNever;
    if (!s.texturesLoaded.empty()) textures["loaded"] = s.texturesLoaded;
    world["textures"] = textures;
  }
}

// Labels, language and the screen's settings into `world`.
void AddScreenSettings(const Settings& s, Json& world) {
  if (s.labels) world["labels"] = LabelsJson(*s.labels);
  if (!s.labelsByLanguage.empty()) {
    Json tables = Json::object();
    for (const auto& [language, table] : s.labelsByLanguage) {
      tables[std::to_string(language)] = LabelsJson(table);
    }
    world["labelsByLanguage"] = tables;
  }
  if (s.language) world["language"] = *s.language;
  if (s.busySpinner) world["busySpinner"] = *s.busySpinner;
  if (!s.hudColours.empty()) {
    Json colours = Json::object();
    for (const auto& [index, c] : s.hudColours) {
      colours[std::to_string(index)] = Json::array({c.red, c.green, c.blue, c.alpha});
    }
    world["hudColours"] = colours;
  }
  if (s.nullOrEmptyTextAnswer) world["nullOrEmptyTextAnswer"] = *s.nullOrEmptyTextAnswer;
}

Json WorldJson(const Settings& s) {
  Json world = Json::object();
  AddSpawnSettings(s, world);
  AddStreamingSettings(s, world);
  AddScreenSettings(s, world);
  return world;
}

// A recorded keyboard message, restart or unload as a scenario event.
Json HostEventJson(const RecordedHostEvent& e) {
  Json event = Json{{"frame", e.frame}};
  switch (e.kind) {
    case RecordedHostEvent::Kind::Key: {
      static const char* const kNames[7] = {"code", "repeats",       "scanCode", "extended",
                                            "alt",  "wasDownBefore", "isUp"};
      static const std::int64_t kDefaults[7] = {-1, 1, 0, 0, 0, 0, 0};
      Json key = Json::object();
      for (std::size_t i = 0; i < 7; ++i) {
        const auto value = static_cast<std::int64_t>(
            i >= 3 ? static_cast<std::int64_t>(static_cast<std::int32_t>(e.key.args[i]))
                   : static_cast<std::int64_t>(e.key.args[i]));
        if (value != kDefaults[i]) key[kNames[i]] = value;
      }
      event["key"] = key;
      if (e.key.atCall != kAtFrameStart) event["atCall"] = e.key.atCall;
      break;
    }
    case RecordedHostEvent::Kind::Restart:
      event["restartScript"] = true;
      break;
    case RecordedHostEvent::Kind::Unload:
      event["unload"] = true;
      break;
  }
  return event;
}

Json Fitter::Document(const std::string& name) const {
  Json doc;
  doc["name"] = name;
  doc.update(ClockJson(outline_));
  const Json player = PlayerJson(settings_);
  if (!player.empty()) doc["player"] = player;
  const Json world = WorldJson(settings_);
  if (!world.empty()) doc["world"] = world;
  const Json events = EventsJson();
  if (!events.empty()) doc["events"] = events;
  return doc;
}

// Each frame's events in the order the fit applied them: the hitch, the
// host's events as recorded, then the fitted ones.
Json Fitter::EventsJson() const {
  std::map<std::int64_t, std::vector<Json>> byFrame;
  for (const auto& [frame, ms] : outline_.hitches) {
    byFrame[frame].push_back(Json{{"frame", frame}, {"hitchMs", ms}});
  }
  for (const RecordedHostEvent& e : outline_.hostEvents)
    byFrame[e.frame].push_back(HostEventJson(e));
  for (const auto& [frame, events] : fixEvents_) {
    for (const Json& event : events) byFrame[frame].push_back(event);
  }
  MergeTaps(byFrame);
  Json events = Json::array();
  for (const auto& [frame, list] : byFrame) {
    for (const Json& event : list) events.push_back(event);
  }
  return events;
}

// The outline's timing and host events alone, as a scenario: the fit's
// starting point.
Scenario BaseScenario(const RecordingOutline& outline) {
  Json doc = ClockJson(outline);
  Json events = Json::array();
  for (const auto& [frame, ms] : outline.hitches) {
    events.push_back(Json{{"frame", frame}, {"hitchMs", ms}});
  }
  for (const RecordedHostEvent& e : outline.hostEvents) {
    if (e.kind == RecordedHostEvent::Kind::Restart) {
      events.push_back(Json{{"frame", e.frame}, {"restartScript", true}});
    } else if (e.kind == RecordedHostEvent::Kind::Unload) {
      events.push_back(Json{{"frame", e.frame}, {"unload", true}});
    }
  }
  doc["events"] = events;
  return Scenario::Parse("(the recording's timing)", doc.dump());
}

// A value on one line, a space after each comma and colon.
std::string Inline(const Json& value) {
  if (value.is_object()) {
    std::string out = "{";
    for (const auto& [key, member] : value.items()) {
      if (out.size() > 1) out += ", ";
      out += Json(key).dump() + ": " + Inline(member);
    }
    return out + "}";
  }
  if (value.is_array()) {
    std::string out = "[";
    for (const Json& item : value) out += (out.size() > 1 ? ", " : "") + Inline(item);
    return out + "]";
  }
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Writes `value` as people read a scenario: objects one member to a line,
// short arrays (a point, a colour, a list of names) and each event on one.
void WriteReadable(std::string& out, const Json& value, int indent) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  if (value.is_object() && !value.empty()) {
    out += "{";
    bool first = true;
    for (const auto& [key, member] : value.items()) {
      out += (first ? "\n" : ",\n") + pad + "  " + Json(key).dump() + ": ";
      first = false;
      WriteReadable(out, member, indent + 2);
    }
    out += "\n" + pad + "}";
    return;
  }
  constexpr std::size_t kShortLine = 60;
  if (value.is_array() && !value.empty()) {
    bool flat = true;
    for (const Json& item : value) flat = flat && !item.is_object();
    if (flat && Inline(value).size() <= kShortLine) {
      out += Inline(value);
      return;
    }
    out += "[";
    for (std::size_t i = 0; i < value.size(); ++i) {
      out += (i > 0 ? ",\n" : "\n") + pad + "  ";
      if (value[i].is_object()) {
        out += Inline(value[i]);
      } else {
        WriteReadable(out, value[i], indent + 2);
      }
    }
    out += "\n" + pad + "]";
    return;
  }
  out += Inline(value);
}

// The scenario's text: settings indented, one event to a line.
std::string WriteScenario(const Json& doc) {
  std::string out;
  WriteReadable(out, doc, 0);
  return out + "\n";
}

}  // namespace

namespace {

Json FitDocument(const RecordingOpener& open, RecordingOutline& outline) {
  {
    std::unique_ptr<RecordingFrames> frames = open();
    outline = OutlineRecording(*frames);
  }
  Fitter fitter(outline, BaseScenario(outline));
  {
    std::unique_ptr<RecordingFrames> frames = open();
    fitter.Run(*frames);
  }
  return fitter.Document("from the recording " + outline.name);
}

}  // namespace

std::string FitScenario(const RecordingOpener& open, RecordingOutline& outline) {
  return WriteScenario(FitDocument(open, outline));
}

ScenarioFromRecording MakeScenarioFromRecording(const RecordingOpener& open) {
  ScenarioFromRecording made;
  Json doc = FitDocument(open, made.outline);
  made.unexpressed = made.outline.unexpressed;
  RecordedRun check(
      Scenario::Parse("(the scenario from " + made.outline.name + ")", WriteScenario(doc)), false);
  std::unique_ptr<RecordingFrames> frames = open();
  check.Run(*frames);
  // A game time the outline found no clock for is listed once, by the
  // outline: the run of the scenario then differs in those frames too.
  bool clockListed = false;
  for (const Unexpressed& item : made.outline.unexpressed.Items()) {
    clockListed = clockListed || item.what == "GET_GAME_TIMER";
  }
  made.unexpressed.Append(check.Differences(), clockListed ? "GET_GAME_TIMER" : "");
  // The name carries the count, so that the scenario says it is not the
  // whole recording wherever it goes; the list is scenario-from's output.
  if (!made.unexpressed.Empty()) {
    doc["name"] = doc["name"].get<std::string>() + " (" + std::to_string(made.unexpressed.Total()) +
                  " recorded answers the scenario format could not express)";
  }
  made.text = WriteScenario(doc);
  return made;
}

std::string DescribeUnexpressed(const UnexpressedList& list) {
  std::string out;
  for (const Unexpressed& item : list.Items()) {
    out += "  " + item.what + ", from frame " + std::to_string(item.firstFrame);
    if (item.count > 1) out += " (" + std::to_string(item.count) + " answers)";
    out += ": " + item.detail + "\n";
  }
  return out;
}

}  // namespace sim
