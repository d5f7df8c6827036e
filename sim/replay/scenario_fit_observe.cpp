// What the plug-in relies on: the observers of scenario-from's fit, which
// note from each recorded answer what the plug-in has read, so that a
// setting is changed only while nothing recorded earlier depended on it.
#include <string>

#include "sim/replay/scenario_fitter.h"

namespace sim::fit {

namespace {

bool AnsweredTrue(const TraceEntry& line) { return line.result && line.result->IsTrue(); }

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

void Fitter::ObserveHudColour(std::int64_t /*frame*/, const TraceEntry& line, Observations& seen) {
  seen.keys.insert("hud:" + std::to_string(line.args[0].integer));
}

void Fitter::ObserveLabel(std::int64_t /*frame*/, const TraceEntry& line, Observations& seen) {
  seen.keys.insert(LabelKey(line));
}

std::string Fitter::LabelKey(const TraceEntry& line) const {
  // A label is looked up in the language's own table when the scenario
  // gives one, else in the table for every language.
  const World& world = state_.world;
  const std::int32_t language = world.drawing.language;
  const bool own = world.labels.byLanguage.count(language) != 0;
  return "label:" + (own ? std::to_string(language) : std::string("*")) + ":" + line.args[0].text;
}

void Fitter::ObserveMovieRequest(std::int64_t /*frame*/, const TraceEntry& line,
                                 Observations& seen) {
  ++seen.requests;
  if (!line.result || line.result->integer > 0) seen.requestsAllFailed = false;
  if (line.result) seen.movieAnswers.emplace_back(line.result->integer, false);
}

void Fitter::ObserveMovieLoaded(std::int64_t /*frame*/, const TraceEntry& line,
                                Observations& seen) {
  if (!AnsweredTrue(line)) return;
  const auto handle = static_cast<std::int32_t>(line.args[0].integer);
  seen.movieAnswers.emplace_back(handle, true);
  const auto mapped = state_.movieHandles.find(handle);
  if (const ScaleformMovie* movie = state_.world.scaleform.Find(
          mapped != state_.movieHandles.end() ? mapped->second : handle)) {
    seen.keys.insert("movie:" + movie->name);
  }
}

void Fitter::ObserveTexture(std::int64_t /*frame*/, const TraceEntry& line, Observations& seen) {
  if (AnsweredTrue(line)) seen.keys.insert("texture:" + line.args[0].text);
}

void Fitter::ObserveSearchStart(std::int64_t frame, const TraceEntry& /*line*/,
                                Observations& /*seen*/) {
  searchStart_ = frame;
}

void Fitter::ObserveSearchSettled(std::int64_t /*frame*/, const TraceEntry& line,
                                  Observations& seen) {
  if (AnsweredTrue(line)) seen.keys.insert("search");
}

void Fitter::ObserveSearchInactive(std::int64_t /*frame*/, const TraceEntry& line,
                                   Observations& seen) {
  // Not active, while the world holds a search: it has settled.
  if (line.result && !line.result->IsTrue() && state_.world.spawn.state != SearchState::None) {
    seen.keys.insert("search");
  }
}

void Fitter::ObserveResultCount(std::int64_t /*frame*/, const TraceEntry& line,
                                Observations& /*seen*/) {
  if (line.result) searchCount_ = static_cast<std::int32_t>(line.result->integer);
}

void Fitter::ObserveSearchResult(std::int64_t /*frame*/, const TraceEntry& line,
                                 Observations& seen) {
  seen.keys.insert("result:" + std::to_string(line.args[0].integer));
}

void Fitter::ObserveRoadNode(std::int64_t /*frame*/, const TraceEntry& line, Observations& seen) {
  if (line.result && line.outs.size() == 3) seen.lookups.push_back(LookupOf(line));
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
