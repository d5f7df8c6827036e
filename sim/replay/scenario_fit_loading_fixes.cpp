// The fixes scenario-from tries for what the game loads or searches for over
// frames: movie requests and loads, texture dictionaries, the spawn search
// (when it settles, how, and the points it found) and road nodes. Each is a
// setting of its own, written in the scenario's "world".
#include <string>

#include "sim/replay/scenario_fitter.h"

namespace sim::fit {

std::vector<Fix> Fitter::FixMovieRequest(std::int64_t /*frame*/, const TraceEntry& line) {
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

// HAS_SCALEFORM_MOVIE_LOADED, or a method begun on the movie.
std::vector<Fix> Fitter::FixMovieLoaded(std::int64_t frame, const TraceEntry& line) {
  const auto recorded = static_cast<std::int32_t>(line.args[0].integer);
  const auto mapped = state_.movieHandles.find(recorded);
  const std::int32_t handle = mapped != state_.movieHandles.end() ? mapped->second : recorded;
  const ScaleformMovie* movie = state_.world.scaleform.Find(handle);
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

std::vector<Fix> Fitter::FixTexture(std::int64_t frame, const TraceEntry& line) {
  const std::string dictionary = line.args[0].text;
  if (seen_.Has("texture:" + dictionary)) return {};
  const DrawingModel& drawing = state_.world.drawing;
  const auto it = drawing.dictionaries.find(dictionary);
  const std::int64_t requested = it != drawing.dictionaries.end() ? it->second.requestedFrame : -1;
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

// When the search under way showed its outcome: frames from its start, and
// which outcome, from what the game answered.
std::vector<Fix> Fitter::FixSearchComplete(std::int64_t frame, const TraceEntry& line) {
  if (seen_.Has("search")) return {};
  return {line.result->IsTrue() ? SettleSearch(frame, SearchOutcome::Complete)
                                : KeepSearchRunning()};
}

std::vector<Fix> Fitter::FixSearchFailed(std::int64_t frame, const TraceEntry& line) {
  if (seen_.Has("search")) return {};
  return {line.result->IsTrue() ? SettleSearch(frame, SearchOutcome::Failed) : KeepSearchRunning()};
}

std::vector<Fix> Fitter::FixSearchActive(std::int64_t frame, const TraceEntry& line) {
  if (seen_.Has("search")) return {};
  if (line.result->IsTrue()) return {KeepSearchRunning()};
  return {SettleSearch(frame, SearchOutcome::Inactive),
          SettleSearch(frame, SearchOutcome::Complete), SettleSearch(frame, SearchOutcome::Failed)};
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

std::vector<Fix> Fitter::FixResultCount(std::int64_t /*frame*/, const TraceEntry& line) {
  const SpawnModel& spawn = state_.world.spawn;
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

std::vector<Fix> Fitter::FixSearchResult(std::int64_t /*frame*/, const TraceEntry& line) {
  const SpawnModel& spawn = state_.world.spawn;
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

std::vector<Fix> Fitter::FixRoadNode(std::int64_t /*frame*/, const TraceEntry& line) {
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

}  // namespace sim::fit
