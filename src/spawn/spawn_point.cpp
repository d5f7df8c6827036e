#include "src/spawn/spawn_point.h"

#include <cstdint>

#include "src/host/host_api.h"
#include "src/host/natives.h"
#include "src/spawn/random.h"

namespace rebound {

namespace {

// Heights at or below this are not trusted as a search height.
constexpr float kLowestSearchZ = -200.0F;

// The game's search: radii, interior flags, scale, and how long the game may
// take before it ends the search on its own.
constexpr float kSearchRadius = 50.0F;
constexpr float kSearchRange = 5.0F;
constexpr std::int32_t kSearchInteriorFlags = 2;
constexpr float kSearchScale = 2.0F;
constexpr std::int32_t kSearchDurationMs = 5000;

// Headings of points from the search span half a turn.
constexpr float kHeadingSpan = 180.0F;

// The road-node query: the closest node, of any kind the flags admit.
constexpr std::int32_t kClosestNode = 1;
constexpr std::int32_t kNodeFlags = 1;
constexpr float kNodeP8 = 3.0F;
constexpr float kNodeP9 = 0.0F;

// Polls until the game reports the search complete, failed or no longer
// active. A search already complete costs no frame; otherwise one frame
// passes per round, and the completion test follows each wait.
void WaitForSearchToEnd() {
  if (natives::SPAWNPOINTS_IS_SEARCH_COMPLETE()) return;
  for (;;) {
    if (natives::SPAWNPOINTS_IS_SEARCH_FAILED()) return;
    if (!natives::SPAWNPOINTS_IS_SEARCH_ACTIVE()) return;
    scriptWait(0);
    if (natives::SPAWNPOINTS_IS_SEARCH_COMPLETE()) return;
  }
}

// The search gave nothing usable: end it, then take the closest road node,
// but not its heading.
SpawnPoint FallBackToRoadNode(const Vector3& position) {
  natives::SPAWNPOINTS_CANCEL_SEARCH();
  SpawnPoint point;
  point.position = FindRoadNode(position).position;
  return point;
}

}  // namespace

SpawnPoint FindSpawnPoint(Vector3 position, float searchZ) {
  // Written as "greater than" so that a NaN also falls back to position.z.
  const float z = searchZ > kLowestSearchZ ? searchZ : position.z;
  natives::SPAWNPOINTS_START_SEARCH(position.x, position.y, z, kSearchRadius, kSearchRange,
                                    kSearchInteriorFlags, kSearchScale, kSearchDurationMs);
  WaitForSearchToEnd();

  if (natives::SPAWNPOINTS_IS_SEARCH_FAILED()) return FallBackToRoadNode(position);
  // A count of 0 or less (the game's answer is a plain signed integer) means
  // no results: it must never become an index.
  const std::int32_t count = natives::SPAWNPOINTS_GET_NUM_SEARCH_RESULTS();
  if (count <= 0) return FallBackToRoadNode(position);

  const std::int32_t index = RandomInt(count - 1);
  float found[3] = {0.0F, 0.0F, 0.0F};
  natives::SPAWNPOINTS_GET_SEARCH_RESULT(index, &found[0], &found[1], &found[2]);
  natives::SPAWNPOINTS_CANCEL_SEARCH();

  SpawnPoint point;
  point.position = Vector3(found[0], found[1], found[2]);
  point.rotation = Vector3(0.0F, 0.0F, kHeadingSpan * RandomFloat01());
  return point;
}

SpawnPoint FindRoadNode(Vector3 position) {
  NativeVector3 nodePosition;
  float nodeHeading = 0.0F;
  std::int32_t lanes = 0;  // written by the game, not needed
  const bool found = natives::GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING(
      position.x, position.y, position.z, kClosestNode, &nodePosition, &nodeHeading, &lanes,
      kNodeFlags, kNodeP8, kNodeP9);
  SpawnPoint point;
  if (found) {
    point.position = Vector3(nodePosition.x, nodePosition.y, nodePosition.z);
    point.rotation = Vector3(0.0F, 0.0F, nodeHeading);
  }
  return point;
}

}  // namespace rebound
