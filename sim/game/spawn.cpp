#include "sim/game/spawn.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>

#include "sim/base/number_format.h"
#include "sim/game/world.h"

namespace sim {

double Distance(const Vec3& a, const Vec3& b) {
  const double dx = static_cast<double>(a.x) - b.x;
  const double dy = static_cast<double>(a.y) - b.y;
  const double dz = static_cast<double>(a.z) - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

namespace {

SearchOutcome ParseOutcome(const ScenarioNode& node) {
  const std::string name = node.AsString();
  for (SearchOutcome o : {SearchOutcome::Complete, SearchOutcome::Failed, SearchOutcome::Inactive,
                          SearchOutcome::Never}) {
    if (name == SearchOutcomeName(o)) return o;
  }
  node.Fail("expected \"complete\", \"failed\", \"inactive\" or \"never\", got \"" + name + "\"");
}

}  // namespace

const char* SearchOutcomeName(SearchOutcome outcome) {
  switch (outcome) {
    case SearchOutcome::Complete:
      return "complete";
    case SearchOutcome::Failed:
      return "failed";
    case SearchOutcome::Inactive:
      return "inactive";
    case SearchOutcome::Never:
      return "never";
  }
  return "unknown";
}

// "world": {
//   "spawnSearch": {"frames": 10, "outcome": "complete", "results": [[x, y, z], ...],
//                   "resultCount": 3},
//   "roadNodes": [{"position": [x, y, z], "heading": 45.0, "lanes": 2}, ...]
// }
void SpawnModel::Configure(const ScenarioNode& root) {
  auto world = root.Optional("world");
  if (!world) return;
  world->ExpectObject();
  if (auto search = world->Optional("spawnSearch")) {
    search->ExpectObject();
    searchFrames = search->Int("frames", searchFrames, 0, INT32_MAX);
    if (auto node = search->Optional("outcome")) outcome = ParseOutcome(*node);
    if (auto list = search->Optional("results")) {
      std::vector<Vec3> points;
      for (const ScenarioNode& item : list->Items()) points.push_back(item.AsVec3());
      configuredResults = std::move(points);
    }
    if (auto count = search->Optional("resultCount")) {
      reportedCount = static_cast<std::int32_t>(count->AsInt(INT32_MIN, INT32_MAX));
    }
  }
  if (auto nodes = world->Optional("roadNodes")) {
    for (const ScenarioNode& item : nodes->Items()) {
      item.ExpectObject();
      RoadNode node;
      node.position = item.Child("position").AsVec3();
      node.heading = item.Float("heading", 0.0F);
      node.lanes = static_cast<std::int32_t>(item.Int("lanes", node.lanes, 0, 16));
      roadNodes.push_back(node);
    }
  }
}

void SpawnModel::AdvanceSearch(World& world) {
  if (state != SearchState::Running || outcome == SearchOutcome::Never) return;
  if (framesLeft > 0) --framesLeft;
  if (framesLeft == 0) Settle(world);
}

void SpawnModel::Start(World& world, const Vec3& where) {
  if (state != SearchState::None) {
    ++searchesDropped;
    world.Note("spawn", "spawn search started again before the previous one was cancelled");
  }
  ++searchesStarted;
  if (world.state.gamePaused) {
    ++searchesStartedPaused;
    world.Note("spawn", "spawn search started while the game is paused");
  }
  state = SearchState::Running;
  miscountNoted = false;
  world.NoteWork();
  centre = where;
  framesLeft = searchFrames;
  results = configuredResults ? *configuredResults : std::vector<Vec3>{where};
  if (outcome == SearchOutcome::Never) {
    world.Note("spawn", "spawn search started at " + FormatPosition(where) + ", never ends");
    return;
  }
  world.Note("spawn", "spawn search started at " + FormatPosition(where) + ", " +
                          SearchOutcomeName(outcome) + " after " + std::to_string(searchFrames) +
                          (searchFrames == 1 ? " frame" : " frames"));
  if (framesLeft == 0) Settle(world);
}

void SpawnModel::Settle(World& world) {
  state = SearchState::Settled;
  switch (outcome) {
    case SearchOutcome::Complete:
      world.Note("spawn", "search complete: " + std::to_string(ResultCount()) +
                              (ResultCount() == 1 ? " result" : " results"));
      break;
    case SearchOutcome::Failed:
      world.Note("spawn", "search failed");
      break;
    case SearchOutcome::Inactive:
      world.Note("spawn", "search stopped without a result");
      break;
    case SearchOutcome::Never:
      break;
  }
}

void SpawnModel::NoteMiscount(World& world, std::int32_t index) {
  if (miscountNoted) return;
  miscountNoted = true;
  ++searchesMiscounted;
  world.Note("spawn", "the world contradicts itself: the search reported " +
                          std::to_string(ResultCount()) + " results but holds " +
                          std::to_string(results.size()) + "; result " + std::to_string(index) +
                          " and any other past them leave the out-variables as they were");
}

void SpawnModel::Cancel(World& world) {
  if (state == SearchState::None) return;
  ++searchesCancelled;
  state = SearchState::None;
  results.clear();
  world.Note("spawn", "spawn search cancelled");
}

std::int32_t SpawnModel::ResultCount() const {
  if (!IsComplete()) return 0;
  return reportedCount ? *reportedCount : static_cast<std::int32_t>(results.size());
}

const RoadNode* SpawnModel::NthClosestNode(const Vec3& where, std::int32_t n) const {
  if (n < 1 || static_cast<std::size_t>(n) > roadNodes.size()) return nullptr;
  std::vector<std::size_t> order(roadNodes.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Equally distant nodes keep their configured order.
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return Distance(roadNodes[a].position, where) < Distance(roadNodes[b].position, where);
  });
  return &roadNodes[order[static_cast<std::size_t>(n - 1)]];
}

namespace {

void StartSearch(World& world, CallFrame& call) {
  world.spawn.Start(world, Vec3{call.Float(0), call.Float(1), call.Float(2)});
}

void IsSearchComplete(World& world, CallFrame& call) { call.ReturnBool(world.spawn.IsComplete()); }
void IsSearchFailed(World& world, CallFrame& call) { call.ReturnBool(world.spawn.IsFailed()); }
void IsSearchActive(World& world, CallFrame& call) { call.ReturnBool(world.spawn.IsActive()); }
void GetNumSearchResults(World& world, CallFrame& call) {
  call.ReturnInt(world.spawn.ResultCount());
}

// The count the game gave bounds the indexes the plug-in may ask for. One
// inside that count but past the list is the scenario's world contradicting
// itself (a resultCount above its results): the game answers it as a result
// it does not have, leaving the out-variables as they were.
void GetSearchResult(World& world, CallFrame& call) {
  SpawnModel& spawn = world.spawn;
  const std::int32_t index = call.Int(0);
  const std::int32_t count = spawn.ResultCount();
  const std::size_t held = spawn.IsComplete() ? spawn.results.size() : 0;
  if (index < 0 || index >= count) {
    world.RaiseGameFault("spawn", "SPAWNPOINTS_GET_SEARCH_RESULT(" + std::to_string(index) +
                                      "): index out of range, the search " +
                                      (spawn.reportedCount && spawn.IsComplete()
                                           ? "reported " + std::to_string(count) + " results"
                                           : "holds " + std::to_string(held) + " results"));
    return;
  }
  if (static_cast<std::size_t>(index) >= held) return spawn.NoteMiscount(world, index);
  const Vec3& point = spawn.results[static_cast<std::size_t>(index)];
  *call.FloatPtr(1) = point.x;
  *call.FloatPtr(2) = point.y;
  *call.FloatPtr(3) = point.z;
  world.Note("spawn", "search result " + std::to_string(index) + ": " + FormatPosition(point));
}

void CancelSearch(World& world, CallFrame& /*call*/) { world.spawn.Cancel(world); }

void GetNthClosestVehicleNodeWithHeading(World& world, CallFrame& call) {
  const Vec3 where{call.Float(0), call.Float(1), call.Float(2)};
  ++world.spawn.roadNodeLookups;
  const RoadNode* node = world.spawn.NthClosestNode(where, call.Int(3));
  if (node == nullptr) {
    world.Note("spawn", "road node lookup near " + FormatPosition(where) + ": none");
    call.ReturnBool(false);
    return;
  }
  GameVector* out = call.VectorPtr(4);
  *out = GameVector{node->position.x, 0, node->position.y, 0, node->position.z, 0};
  *call.FloatPtr(5) = node->heading;
  *call.IntPtr(6) = node->lanes;
  world.Note("spawn", "road node lookup near " + FormatPosition(where) + ": found " +
                          FormatPosition(node->position) + " heading " +
                          FormatNumber(node->heading));
  call.ReturnBool(true);
}

// ---- Distances ------------------------------------------------------------------
// The same measure the road-node lookup uses; the respawn checks its spawn
// point with it.

void Vdist(World& /*world*/, CallFrame& call) {
  const Vec3 a{call.Float(0), call.Float(1), call.Float(2)};
  const Vec3 b{call.Float(3), call.Float(4), call.Float(5)};
  call.ReturnFloat(static_cast<float>(Distance(a, b)));
}

}  // namespace

void SpawnModel::RegisterNatives(HandlerRegistry& registry) {
  registry.Add("SPAWNPOINTS_START_SEARCH", StartSearch);
  registry.Add("SPAWNPOINTS_IS_SEARCH_COMPLETE", IsSearchComplete);
  registry.Add("SPAWNPOINTS_IS_SEARCH_FAILED", IsSearchFailed);
  registry.Add("SPAWNPOINTS_IS_SEARCH_ACTIVE", IsSearchActive);
  registry.Add("SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", GetNumSearchResults);
  registry.Add("SPAWNPOINTS_GET_SEARCH_RESULT", GetSearchResult);
  registry.Add("SPAWNPOINTS_CANCEL_SEARCH", CancelSearch);
  registry.Add("GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING", GetNthClosestVehicleNodeWithHeading);
  registry.Add("VDIST", Vdist);
}

}  // namespace sim
