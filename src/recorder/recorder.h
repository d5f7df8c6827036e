// The recording build's hooks at the seam to the host: what the plug-in
// receives and does is staged here as compact binary records, on the script
// fibre, with no allocation and no system call; a writer thread of the
// recorder's own turns them into the recording's JSON lines. Included only
// when REBOUND_RECORDING is set (the recording build, Rebound-recorder.asi).
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "src/host/host_api.h"
#include "src/recorder/records.h"
#include "src/recorder/ring.h"

namespace rebound {
struct NativeVector3;
}

namespace rebound::recorder {

// ---- What every hook on the fibre touches ------------------------------------------
struct FibreCursor {
  std::atomic<bool> active{false};  // recording: from attach until the cap or detach
  Word* cursor = nullptr;           // the next free word of the frame being staged
  Word* end = nullptr;              // a record may start up to here; its texts end by here
  bool overflowed = false;          // a text did not fit: the frame is dropped
};
extern FibreCursor fibre;

inline constexpr std::size_t kKeyQueueLength = 64;
extern KeyQueue<kKeyQueueLength> keyQueue;

// Moves the keyboard messages that have arrived into the frame being staged,
// before the record that is about to be written.
void TakeKeys() noexcept;

// ---- Host events ----------------------------------------------------------------------
// Process attach: reads the settings from the environment and records the
// attach and the two registrations that follow it.
void OnProcessAttach(ModuleHandle module) noexcept;
// Whether the coming process detach is the process's exit (Windows: DllMain's
// reserved argument is non-null) rather than an unload.
void SetDetachIsProcessExit(bool processExit) noexcept;
// Process detach, after the two unregistrations: stops the writer, writes
// everything still held and closes the file.
void OnProcessDetach() noexcept;
// The host started the script entry on a new fibre.
void OnScriptStart() noexcept;
// The host's keyboard handler, on the host's window thread.
void OnKeyboardMessage(std::uint32_t key, std::uint16_t repeats, std::uint8_t scanCode,
                       std::int32_t isExtended, std::int32_t isWithAlt, std::int32_t wasDownBefore,
                       std::int32_t isUpNow) noexcept;
// A seed the random helpers took from their seed source.
void OnRandomDraw(std::uint32_t value) noexcept;

// ---- Native calls -----------------------------------------------------------------------
// How each C++ argument type is recorded: its kind and the words it takes
// (a text takes one more word per 8 bytes of it).
template <typename T>
struct ArgRecord;
template <>
struct ArgRecord<std::int32_t> {
  static constexpr ValueKind kind = kInt;
  static constexpr std::size_t words = 1;
};
template <>
struct ArgRecord<bool> {
  static constexpr ValueKind kind = kBool;
  static constexpr std::size_t words = 1;
};
template <>
struct ArgRecord<float> {
  static constexpr ValueKind kind = kFloat;
  static constexpr std::size_t words = 1;
};
template <>
struct ArgRecord<const char*> {
  static constexpr ValueKind kind = kText;
  static constexpr std::size_t words = 1;
};
template <>
struct ArgRecord<std::int32_t*> {
  static constexpr ValueKind kind = kOutInt;
  static constexpr std::size_t words = 1;
};
template <>
struct ArgRecord<float*> {
  static constexpr ValueKind kind = kOutFloat;
  static constexpr std::size_t words = 1;
};
template <>
struct ArgRecord<bool*> {
  static constexpr ValueKind kind = kOutBool;
  static constexpr std::size_t words = 1;
};
template <>
struct ArgRecord<NativeVector3*> {
  static constexpr ValueKind kind = kOutVector;
  static constexpr std::size_t words = 3;
};

template <typename R>
struct ResultRecord {
  static constexpr ValueKind kind = kNone;
  static constexpr std::size_t words = 0;
};
template <>
struct ResultRecord<std::int32_t> {
  static constexpr ValueKind kind = kInt;
  static constexpr std::size_t words = 1;
};
template <>
struct ResultRecord<bool> {
  static constexpr ValueKind kind = kBool;
  static constexpr std::size_t words = 1;
};
template <>
struct ResultRecord<float> {
  static constexpr ValueKind kind = kFloat;
  static constexpr std::size_t words = 1;
};
template <>
struct ResultRecord<NativeVector3> {
  static constexpr ValueKind kind = kVector;
  static constexpr std::size_t words = 3;
};
template <>
struct ResultRecord<std::string> {
  static constexpr ValueKind kind = kText;
  static constexpr std::size_t words = 1;
};

template <typename R, typename... Args>
constexpr Word KindsOf() {
  Word kinds = Word{ResultRecord<R>::kind} << 60;
  std::size_t i = 0;
  ((kinds |= Word{ArgRecord<Args>::kind} << (4 * i++)), ...);
  return kinds;
}

inline std::uint32_t Low32(std::uint64_t slot) { return static_cast<std::uint32_t>(slot); }

// A text by content: its length, then its bytes zero-padded to whole words.
// One that would end past the frame's room drops the frame.
inline void PutText(Word*& cur, const char* text) noexcept {
  if (text == nullptr) {
    *cur++ = kNullText;
    return;
  }
  const std::size_t length = std::strlen(text);
  const std::size_t words = TextWords(length);
  if (cur + 1 + words > fibre.end) [[unlikely]] {
    fibre.overflowed = true;
    *cur++ = kNullText;
    return;
  }
  *cur = length;
  if (words != 0) cur[words] = 0;
  std::memcpy(cur + 1, text, length);
  cur += 1 + words;
}

inline void Put(Word*& cur, std::int32_t value) noexcept {
  *cur++ = static_cast<std::uint32_t>(value);
}
inline void Put(Word*& cur, bool value) noexcept { *cur++ = value ? 1U : 0U; }
inline void Put(Word*& cur, float value) noexcept { *cur++ = std::bit_cast<std::uint32_t>(value); }
inline void Put(Word*& cur, const char* text) noexcept { PutText(cur, text); }
// Out-variables, read after the call: what the game wrote through them.
inline void Put(Word*& cur, const std::int32_t* out) noexcept {
  *cur++ = out != nullptr ? static_cast<std::uint32_t>(*out) : 0U;
}
inline void Put(Word*& cur, const float* out) noexcept {
  *cur++ = out != nullptr ? std::bit_cast<std::uint32_t>(*out) : 0U;
}
inline void Put(Word*& cur, const bool* out) noexcept { *cur++ = out != nullptr && *out ? 1U : 0U; }
template <typename V>
requires std::is_same_v<V, NativeVector3>
inline void Put(Word*& cur, const V* out) noexcept {
  cur[0] = out != nullptr ? std::bit_cast<std::uint32_t>(out->x) : 0U;
  cur[1] = out != nullptr ? std::bit_cast<std::uint32_t>(out->y) : 0U;
  cur[2] = out != nullptr ? std::bit_cast<std::uint32_t>(out->z) : 0U;
  cur += 3;
}

// The result as the plug-in reads it from the slots.
template <typename R>
inline void PutResult(Word*& cur, const std::uint64_t* result) noexcept {
  if constexpr (std::is_same_v<R, std::int32_t> || std::is_same_v<R, float>) {
    *cur++ = Low32(result[0]);
  } else if constexpr (std::is_same_v<R, bool>) {
    *cur++ = Low32(result[0]) != 0 ? 1U : 0U;
  } else if constexpr (std::is_same_v<R, std::string>) {
    PutText(cur, reinterpret_cast<const char*>(static_cast<std::uintptr_t>(result[0])));
  } else if constexpr (ResultRecord<R>::kind == kVector) {
    cur[0] = Low32(result[0]);
    cur[1] = Low32(result[1]);
    cur[2] = Low32(result[2]);
    cur += 3;
  }
}

// Records a native call that has just returned: its hash, its arguments by
// their C++ types, the out-variables as the game wrote them and the result
// the plug-in reads. Keyboard messages that arrived meanwhile go first.
template <typename R, typename... Args>
inline void RecordNative(std::uint64_t hash, const std::uint64_t* result, Args... args) noexcept {
  static_assert(sizeof...(Args) <= kMaxNativeArgs);
  if (!fibre.active.load(std::memory_order_relaxed)) [[unlikely]]
    return;
  if (keyQueue.Pending()) [[unlikely]]
    TakeKeys();
  Word* cur = fibre.cursor;
  if (cur > fibre.end) [[unlikely]]
    return;
  Word* const start = cur;
  cur[1] = hash;
  cur[2] = KindsOf<R, Args...>();
  cur += 3;
  (Put(cur, args), ...);
  PutResult<R>(cur, result);
  *start = RecordHead(kNativeRecord, sizeof...(Args), static_cast<std::size_t>(cur - start));
  fibre.cursor = cur;
}

// ---- Tests ---------------------------------------------------------------------------
namespace testing_seam {

// Sets the recorder back to before process attach (a fresh load), with the
// writer stopped. Tests only: the recording module starts fresh at each load.
void ResetRecorderForTesting() noexcept;
// Formats everything the writer has not yet taken (committed chunks) into
// `lines`, one string per line, as the writer would write it.
void TakeCommittedLinesForTesting(std::string& lines);
// Does what the writer thread does on each poll (opening the file first if
// it is not open).
void RunWriterOnceForTesting() noexcept;
// The frames counted as repeats so far, and dropped (pending lines).
std::int64_t PendingRepeatsForTesting() noexcept;
std::uint64_t PendingDropsForTesting() noexcept;

}  // namespace testing_seam

}  // namespace rebound::recorder
