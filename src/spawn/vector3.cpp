#include "src/spawn/vector3.h"

namespace rebound {

bool Vector3::Equals(const NativeVector3& other) const {
  return x == other.x && y == other.y && z == other.z;
}

bool Vector3::Equals(const Vector3& other) const {
  return x == other.x && y == other.y && z == other.z;
}

}  // namespace rebound
