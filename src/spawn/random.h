// Random helpers: a float in [0, 1], a uniform index, an 8-character id. Each
// call seeds a fresh engine, so no randomness is ever stored.
#pragma once

#include <cstdint>
#include <string>

namespace rebound {

float RandomFloat01();
// Uniform in 0..max (max >= 0).
std::int32_t RandomInt(std::int32_t max);
// Eight characters from 0-9, A-Z, a-z.
std::string RandomId();

}  // namespace rebound
