// The simulated game's catalogue of natives: for every hash the plug-in may
// call, the game's name, the kinds of its argument slots and of its result.
// Written from the game's documentation, independently of the plug-in's own
// declarations, so that the simulator can catch a wrong hash or signature.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// What one 64-bit argument slot carries.
enum class ArgKind {
  Int,         // signed 32-bit integer or handle, low half, upper half zero
  Bool,        // 0 or 1, upper half zero
  Float,       // IEEE single bits in the low half, upper half zero
  Text,        // address of a NUL-terminated string (the game reads it)
  TextOrNull,  // the same, where the game also accepts a null text
  OutInt,      // address of an int32 the native writes
  OutFloat,    // address of a float the native writes
  OutVector,   // address of a 24-byte vector (x, y, z in 8-byte slots)
  InOutInt,    // address of an int32 the native reads and may write
};

// What the native leaves in the result slots.
enum class ResultKind {
  None,
  Int,
  Bool,
  Float,
  Vector,  // x, y, z in slots 0, 1, 2
  Text,    // address of a game-owned string in slot 0
};

struct NativeSignature {
  std::uint64_t hash = 0;
  std::string name;  // the game's name; "0x..." for natives known by hash only
  std::vector<ArgKind> args;
  ResultKind result = ResultKind::None;
  // The simulated game gives this native no behaviour of its own: it accepts
  // the call and answers the neutral default (zero, false, an empty vector).
  // Every other native must have exactly one handler in the world.
  bool answeredByDefault = false;
  // The simulated game models no effect of this native either, but keeps how
  // often it was called and its last arguments, for checks to read (the
  // world's record of unmodelled calls, which registers its one handler).
  bool callsRecorded = false;
  // For a native known by hash only that the simulated game does model: the
  // simulator's own name for what it models, by which its area registers the
  // handler, so that the hash is spelt here alone. Empty for the others.
  std::string_view modelledAs;
};

// Every native the simulated game knows, in no particular order. This is the
// one place in the simulator that spells a native's hash; everything else
// names the native.
const std::vector<NativeSignature>& NativeTable();

// The signature for a hash, or nullptr when the game has no such native. A
// binary search over an index sorted once by hash, for tests and tools: a
// running game finds its natives through the host's dispatch table.
const NativeSignature* FindNative(std::uint64_t hash);
// The signature of a native by the name the table gives it, or by the name it
// is modelled as, or nullptr.
const NativeSignature* FindNativeByName(std::string_view name);

// How messages name a native: its game name, or for one the game documents by
// hash only, "game function 0x... (no public name)".
bool HasPublicName(const NativeSignature& signature);
std::string ReadableNativeName(const NativeSignature& signature);

std::string_view ArgKindName(ArgKind kind);
std::string_view ResultKindName(ResultKind kind);

}  // namespace sim
