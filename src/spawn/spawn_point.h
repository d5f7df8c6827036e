// Where to put the player back: a spawn point near a position, found with the
// game's own spawn-point search and, when that finds nothing, the closest road
// node. Used by the respawn flow once the screen has faded out.
#pragma once

#include "src/spawn/vector3.h"

namespace rebound {

struct SpawnPoint {
  Vector3 position;  // world coordinates
  Vector3 rotation;  // x and y stay 0; z is the heading in degrees
};

// Blocks the script, yielding one frame per poll, until the game's search is
// over. A searchZ of -200 or below (or NaN) means "use position.z". A point
// from the search gets a random heading in 0..180; the road-node fallback
// gets heading 0, and (0, 0, 0) when no road node is found either.
SpawnPoint FindSpawnPoint(Vector3 position, float searchZ);

// The closest road node to the position with its heading, or all zero when
// the game knows none.
SpawnPoint FindRoadNode(Vector3 position);

}  // namespace rebound
