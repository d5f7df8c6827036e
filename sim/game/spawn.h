// The game's asynchronous spawn-point search and its road nodes; also the
// distance native the respawn measures the chosen point with. (The game
// clock is the world's own: see World::clock.) Its settings
// (world.spawnSearch, world.roadNodes) are in docs/scenarios.md.
//
// The search, as this world runs it:
// - One search at a time. SPAWNPOINTS_START_SEARCH starts it; its outcome
//   shows `frames` frames later (at the start of that frame, before the
//   script runs; with 0 frames at once, within the start call).
// - Until then it is active: not complete, not failed, no results.
// - Then, by the configured outcome: "complete" (complete, not active, with
//   the configured results), "failed" (failed, not active), "inactive"
//   (neither complete nor failed nor active), or "never" (active for ever).
// - SPAWNPOINTS_CANCEL_SEARCH ends it; afterwards every query reads false or 0.
// - A start while a search is still held (running or settled, not cancelled)
//   drops that search and starts afresh; the timeline says so.
// - SPAWNPOINTS_GET_SEARCH_RESULT outside 0..count-1 of a complete search
//   stops the run: in the game it reads past the results. Inside the count
//   but past the results (a resultCount above the list) it leaves the
//   out-variables as they were, and the timeline says so once a search.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/game/handlers.h"

namespace sim {

// The distance the game measures between two points: what VDIST answers (as
// a float), and the order of the road nodes.
double Distance(const Vec3& a, const Vec3& b);

enum class SearchOutcome { Complete, Failed, Inactive, Never };
const char* SearchOutcomeName(SearchOutcome outcome);

struct RoadNode {
  Vec3 position;
  float heading = 0.0F;
  std::int32_t lanes = 1;
};

enum class SearchState {
  None,     // no search held
  Running,  // started, outcome not shown yet
  Settled,  // the outcome shows until the search is cancelled
};

struct SpawnModel : QuietArea {
  // Settings (world.spawnSearch, world.roadNodes).
  std::int64_t searchFrames = 10;  // frames from a start until the outcome shows
  SearchOutcome outcome = SearchOutcome::Complete;
  // The points a complete search finds; when not configured, the one point
  // the search was centred on.
  std::optional<std::vector<Vec3>> configuredResults;
  // What SPAWNPOINTS_GET_NUM_SEARCH_RESULTS answers for a complete search
  // instead of the number of results (to play a game giving a bad count).
  std::optional<std::int32_t> reportedCount;
  std::vector<RoadNode> roadNodes;

  // The search held now.
  SearchState state = SearchState::None;
  std::int64_t framesLeft = 0;
  Vec3 centre;
  std::vector<Vec3> results;

  // For the report and tests.
  std::int32_t searchesStarted = 0;
  std::int32_t searchesCancelled = 0;
  std::int32_t searchesDropped = 0;  // restarted without a cancel
  // Started while the game was paused, where it may not move on in the game.
  std::int32_t searchesStartedPaused = 0;
  std::int32_t roadNodeLookups = 0;
  // Searches in which the plug-in asked for a result inside the count but
  // past the list: the scenario's world contradicting itself.
  std::int32_t searchesMiscounted = 0;
  bool miscountNoted = false;  // for the search held now

  static constexpr const char* kName = "spawn";  // the area's name in notes and checks
  // The area's natives' handlers, by the natives' names.
  static void RegisterNatives(HandlerRegistry& registry);
  void Configure(const ScenarioNode& root);
  // Most frames nothing moves: the checks are inline, the work is not.
  void BeginFrame(World& world) {
    if (HasFrameWork(world)) AdvanceSearch(world);
  }
  bool HasFrameWork(const World& /*world*/) const {
    return state == SearchState::Running && outcome != SearchOutcome::Never;
  }
  void AdvanceSearch(World& world);

  void Start(World& world, const Vec3& where);
  void Cancel(World& world);
  bool IsComplete() const {
    return state == SearchState::Settled && outcome == SearchOutcome::Complete;
  }
  bool IsFailed() const {
    return state == SearchState::Settled && outcome == SearchOutcome::Failed;
  }
  bool IsActive() const { return state == SearchState::Running; }
  std::int32_t ResultCount() const;
  // An index inside the count the game gave but past its results: noted once
  // a search.
  void NoteMiscount(World& world, std::int32_t index);
  // The n-th closest road node to the point (1 = closest); none when there
  // are fewer than n, or n is below 1.
  const RoadNode* NthClosestNode(const Vec3& where, std::int32_t n) const;

 private:
  void Settle(World& world);
};

}  // namespace sim
