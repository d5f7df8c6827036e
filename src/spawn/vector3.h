// The plug-in's position type: three floats with exact equality tests against
// another position or against a vector as the game writes it. Used by the
// spawn search and the respawn flow.
#pragma once

#include "src/host/native_call.h"

namespace rebound {

// Polymorphic by design (a virtual table, the two equality tests in this
// order) but final: nothing derives from it, so it is never destroyed through
// a base pointer and needs no virtual destructor. Copies are member-wise.
class Vector3 final {
 public:
  float x = 0.0F;
  float y = 0.0F;
  float z = 0.0F;

  Vector3() = default;
  Vector3(float newX, float newY, float newZ) : x(newX), y(newY), z(newZ) {}

  // Exact comparison, no tolerance: a NaN component is never equal.
  virtual bool Equals(const NativeVector3& other) const;
  virtual bool Equals(const Vector3& other) const;
};

}  // namespace rebound
