// Typed native calls over the host's slot interface: how each kind of argument
// is pushed and each kind of result is read. Only src/host/natives.h uses it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "src/host/host_api.h"
#include "src/recorder/hooks.h"

namespace rebound {

// A three-float vector as the game writes it: each float in the low half of
// its own 8-byte slot. Vector results and vector out-variables use this layout.
struct NativeVector3 {
  float x = 0.0F;
  std::uint32_t padX = 0;
  float y = 0.0F;
  std::uint32_t padY = 0;
  float z = 0.0F;
  std::uint32_t padZ = 0;
};
static_assert(sizeof(NativeVector3) == 24);
static_assert(offsetof(NativeVector3, x) == 0 && offsetof(NativeVector3, y) == 8 &&
              offsetof(NativeVector3, z) == 16);

// 32-bit values travel in the low half of a slot with the upper half zero;
// a negative integer must not be sign-extended into it.
inline std::uint64_t SlotOf(std::int32_t value) noexcept {
  return static_cast<std::uint32_t>(value);
}
inline std::uint64_t SlotOf(bool value) noexcept { return value ? 1U : 0U; }
// A float is its bit pattern, not its numeric value.
inline std::uint64_t SlotOf(float value) noexcept { return std::bit_cast<std::uint32_t>(value); }
inline std::uint64_t SlotOf(const char* text) noexcept {
  return reinterpret_cast<std::uintptr_t>(text);
}
// Out-variables travel as their address.
template <typename T>
inline std::uint64_t SlotOf(T* out) noexcept {
  return reinterpret_cast<std::uintptr_t>(out);
}
// Anything else (a double, a 64-bit integer) would be pushed wrongly: refuse it.
template <typename T>
std::uint64_t SlotOf(T) = delete;

template <typename R>
R ReadResult(const std::uint64_t* slots);

template <>
inline std::int32_t ReadResult<std::int32_t>(const std::uint64_t* slots) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(slots[0]));
}
template <>
inline bool ReadResult<bool>(const std::uint64_t* slots) {
  return static_cast<std::uint32_t>(slots[0]) != 0;
}
template <>
inline float ReadResult<float>(const std::uint64_t* slots) {
  return std::bit_cast<float>(static_cast<std::uint32_t>(slots[0]));
}
template <>
inline NativeVector3 ReadResult<NativeVector3>(const std::uint64_t* slots) {
  NativeVector3 v;
  v.x = std::bit_cast<float>(static_cast<std::uint32_t>(slots[0]));
  v.y = std::bit_cast<float>(static_cast<std::uint32_t>(slots[1]));
  v.z = std::bit_cast<float>(static_cast<std::uint32_t>(slots[2]));
  return v;
}
// The game owns the string and may reuse it with the next call: copy it now.
// A null pointer reads as empty text rather than being dereferenced.
template <>
inline std::string ReadResult<std::string>(const std::uint64_t* slots) {
  const char* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(slots[0]));
  return text != nullptr ? std::string(text) : std::string();
}

// One native call: begin, push every argument left to right, run, and read
// the result at once (the host reuses its result buffer for the next call).
template <typename R = void, typename... Args>
inline R InvokeNative(std::uint64_t hash, Args... args) {
  nativeInit(hash);
  (nativePush64(SlotOf(args)), ...);
  std::uint64_t* result = nativeCall();
  recorder::RecordNative<R>(hash, result, args...);
  if constexpr (std::is_void_v<R>) {
    (void)result;
  } else {
    return ReadResult<R>(result);
  }
}

}  // namespace rebound
