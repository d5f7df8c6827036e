// One native call as the simulated game sees it: the raw argument slots with
// typed readers, and the result writers. Handlers in sim/game/ receive it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/base/native_table.h"

namespace sim {

inline constexpr std::size_t kMaxArgs = 32;
inline constexpr std::size_t kResultSlots = 4;

// The game's 24-byte vector layout, as the simulator writes it through an
// out-pointer (kept separate from the plug-in's own declaration on purpose).
struct GameVector {
  float x;
  std::uint32_t padX;
  float y;
  std::uint32_t padY;
  float z;
  std::uint32_t padZ;
};
static_assert(sizeof(GameVector) == 24);

struct Vec3 {
  float x = 0.0F;
  float y = 0.0F;
  float z = 0.0F;
};

class CallFrame {
 public:
  CallFrame(const NativeSignature& signature, const std::uint64_t* args, std::size_t count,
            std::uint64_t* result)
      : signature_(&signature), args_(args), count_(count), result_(result) {}
  // A frame over slots that stay where they are from call to call (the
  // host's): each call only names its native and its count with Begin.
  CallFrame(const std::uint64_t* args, std::uint64_t* result) : args_(args), result_(result) {}
  void Begin(const NativeSignature& signature, std::size_t count) {
    signature_ = &signature;
    count_ = count;
  }

  const NativeSignature& Signature() const { return *signature_; }
  std::size_t ArgCount() const { return count_; }
  std::uint64_t Raw(std::size_t i) const { return args_[i]; }

  std::int32_t Int(std::size_t i) const {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(args_[i]));
  }
  bool Bool(std::size_t i) const { return static_cast<std::uint32_t>(args_[i]) != 0; }
  float Float(std::size_t i) const {
    return std::bit_cast<float>(static_cast<std::uint32_t>(args_[i]));
  }
  // Never null: the host refuses a null text before the handler runs.
  const char* Text(std::size_t i) const { return reinterpret_cast<const char*>(args_[i]); }
  std::int32_t* IntPtr(std::size_t i) const { return reinterpret_cast<std::int32_t*>(args_[i]); }
  float* FloatPtr(std::size_t i) const { return reinterpret_cast<float*>(args_[i]); }
  GameVector* VectorPtr(std::size_t i) const { return reinterpret_cast<GameVector*>(args_[i]); }

  void ReturnInt(std::int32_t value) { result_[0] = static_cast<std::uint32_t>(value); }
  void ReturnBool(bool value) { result_[0] = value ? 1U : 0U; }
  void ReturnFloat(float value) { result_[0] = std::bit_cast<std::uint32_t>(value); }
  void ReturnVector(const Vec3& v) {
    result_[0] = std::bit_cast<std::uint32_t>(v.x);
    result_[1] = std::bit_cast<std::uint32_t>(v.y);
    result_[2] = std::bit_cast<std::uint32_t>(v.z);
  }
  // The string must outlive the call; the game keeps its texts in its own storage.
  void ReturnText(const char* text) { result_[0] = reinterpret_cast<std::uintptr_t>(text); }

 private:
  const NativeSignature* signature_ = nullptr;
  const std::uint64_t* args_;
  std::size_t count_ = 0;
  std::uint64_t* result_;
};

}  // namespace sim
