// Vector3's two equality tests: exact, component by component, and against
// the game's 24-byte vector reading only bytes 0, 8 and 16.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "src/spawn/vector3.h"

namespace {

using rebound::NativeVector3;
using rebound::Vector3;

static_assert(std::is_polymorphic_v<Vector3>, "the equality tests are virtual");

// A vector as the game writes it: floats at bytes 0, 8 and 16, and whatever
// the game left in the high half of each slot.
NativeVector3 GameWritten(float x, float y, float z, float junk) {
  unsigned char bytes[24];
  for (std::size_t at : {0U, 8U, 16U}) std::memcpy(bytes + at + 4, &junk, sizeof junk);
  std::memcpy(bytes + 0, &x, sizeof x);
  std::memcpy(bytes + 8, &y, sizeof y);
  std::memcpy(bytes + 16, &z, sizeof z);
  NativeVector3 v;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}

struct EqualityCase {
  const char* what;
  Vector3 a;
  float x, y, z;
  bool equal;
};

TEST(Vector3, BothEqualityTestsCompareExactlyComponentByComponent) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const EqualityCase cases[] = {
      {"same", Vector3(1.5F, 2.5F, -3.5F), 1.5F, 2.5F, -3.5F, true},
      {"x differs", Vector3(1.5F, 2.5F, -3.5F), 1.5000001F, 2.5F, -3.5F, false},
      {"y differs", Vector3(1.5F, 2.5F, -3.5F), 1.5F, 2.4F, -3.5F, false},
      {"z differs", Vector3(1.5F, 2.5F, -3.5F), 1.5F, 2.5F, 3.5F, false},
      {"signed zeros", Vector3(0.0F, -0.0F, 0.0F), -0.0F, 0.0F, -0.0F, true},
      {"NaN is never equal", Vector3(nan, 0.0F, 0.0F), nan, 0.0F, 0.0F, false},
      {"x and y swapped", Vector3(1.0F, 2.0F, 3.0F), 2.0F, 1.0F, 3.0F, false},
  };
  for (const EqualityCase& c : cases) {
    const Vector3& a = c.a;  // through the virtual table
    EXPECT_EQ(a.Equals(Vector3(c.x, c.y, c.z)), c.equal) << c.what;
    EXPECT_EQ(a.Equals(GameWritten(c.x, c.y, c.z, 7.0F)), c.equal) << c.what;
  }
}

TEST(Vector3, GameVectorIsReadAtBytesZeroEightAndSixteenOnly) {
  const Vector3 v(10.0F, 20.0F, 30.0F);
  // The padding holds another vector's worth of floats: none of it counts.
  EXPECT_TRUE(v.Equals(GameWritten(10.0F, 20.0F, 30.0F, 99.0F)));
  EXPECT_TRUE(v.Equals(GameWritten(10.0F, 20.0F, 30.0F, std::nanf(""))));
  // Bytes 4, 12 and 20 hold the right values and the slots the wrong ones.
  unsigned char bytes[24] = {};
  const float right[3] = {10.0F, 20.0F, 30.0F};
  for (std::size_t i = 0; i < 3; ++i) std::memcpy(bytes + 8 * i + 4, &right[i], sizeof(float));
  NativeVector3 shifted;
  std::memcpy(&shifted, bytes, sizeof shifted);
  EXPECT_FALSE(v.Equals(shifted));
}

}  // namespace
