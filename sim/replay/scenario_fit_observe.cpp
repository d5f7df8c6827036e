// What the plug-in relies on: scenario-from's fit notes from each recorded
// answer what the plug-in has read, so that a setting is changed only while
// nothing recorded earlier depended on it.
#include <string>
#include <string_view>

#include "sim/replay/scenario_fitter.h"

namespace sim::fit {

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

}  // namespace sim::fit
