// The recording build's binary records: what the script fibre stages for each
// native call and host event, and the chunks it commits to the ring for the
// writer thread. Shared by the fibre's hooks (recorder.h) and the formatter
// (format.cpp); nothing here is written to the file as it is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rebound::recorder {

// Everything is laid out in 8-byte words, so that a frame compares with the
// one before it by plain memory comparison and a record is written with a
// few word stores.
using Word = std::uint64_t;

// ---- Records (the body of a chunk) ---------------------------------------------
// A record opens with one head word: its type in the low byte, a type-specific
// byte above it, and its length in words (head included) in the high half.
enum RecordType : std::uint8_t {
  kNativeRecord = 1,    // byte 1: argument count; then hash, kinds, values
  kHostRecord = 2,      // byte 1: HostEvent; then its value words
  kKeyRecord = 3,       // the keyboard handler's seven arguments in three words
  kOwnCallsRecord = 4,  // where the recorder asked for the frame count and game time
};

enum HostEvent : std::uint8_t {
  kAttach = 1,  // the three lines of process attach, frame -1
  kScriptRegister = 2,
  kKeyboardHandlerRegister = 3,
  kDetach = 4,  // the three lines of process detach, no frame or time
  kScriptUnregister = 5,
  kKeyboardHandlerUnregister = 6,
  kScriptStart = 7,
  kScriptWait = 8,    // value: the milliseconds
  kRandomDraw = 9,    // value: the seed drawn
  kDroppedKeys = 10,  // value: keyboard messages with no room in the queue
};

constexpr Word RecordHead(RecordType type, unsigned sub, std::size_t words) {
  return Word{type} | (Word{sub & 0xFFU} << 8) | (static_cast<Word>(words) << 32);
}
constexpr RecordType TypeOf(Word head) { return static_cast<RecordType>(head & 0xFF); }
constexpr unsigned SubOf(Word head) { return static_cast<unsigned>((head >> 8) & 0xFF); }
constexpr std::size_t WordsOf(Word head) { return static_cast<std::size_t>(head >> 32); }

// A native record: [head][hash][kinds][values...]. The kinds word holds a
// 4-bit ValueKind per argument (argument i in bits 4i..4i+3) and the result's
// kind in the top four bits. Values follow in argument order, then the
// result's:
//   kInt, kBool, kFloat   one word: the 32-bit value (bool as 0 or 1)
//   kText                 one word: the length, or kNullText; then the bytes,
//                         zero-padded to whole words
//   kOut*                 the value the game wrote, read after the call
//                         (kOutVector: three words, x, y, z)
//   result kVector        three words; result kText as an argument text
enum ValueKind : std::uint8_t {
  kNone = 0,
  kInt = 1,
  kBool = 2,
  kFloat = 3,
  kText = 4,
  kOutInt = 5,
  kOutFloat = 6,
  kOutBool = 7,
  kOutVector = 8,
  kVector = 9,  // results only
};
inline constexpr std::size_t kMaxNativeArgs = 15;
inline constexpr Word kNullText = ~Word{0};

constexpr unsigned ArgKindAt(Word kinds, std::size_t i) {
  return static_cast<unsigned>((kinds >> (4 * i)) & 0xF);
}
constexpr unsigned ResultKindOf(Word kinds) { return static_cast<unsigned>(kinds >> 60); }
constexpr std::size_t TextWords(std::size_t length) { return (length + 7) / 8; }

// ---- Chunks (what the ring holds) --------------------------------------------------
// Every chunk opens with this head; its length counts the head and is a
// multiple of 8.
enum ChunkKind : std::uint32_t {
  kFrameChunk = 1,    // records of one frame (or of attach, or of detach)
  kRepeatChunk = 2,   // frames that repeated the last written one
  kDroppedChunk = 3,  // frames the ring had no room for
  kWrapChunk = 4,     // the rest of the ring is unused: go on at its start
};

struct ChunkHead {
  std::uint32_t bytes = 0;      // the whole chunk, head included
  std::uint32_t kind = 0;       // ChunkKind
  std::int64_t frame = 0;       // the script's frame: frame count minus the first one
  std::int32_t time = 0;        // the game timer in that frame
  std::int32_t frameKnown = 0;  // frame chunk: frame and time were asked for
};
static_assert(sizeof(ChunkHead) == 24);

// Follows the head of a repeat chunk, whose own frame and time are the last
// repeated frame's.
struct RepeatBody {
  std::int64_t frames = 0;
  std::int64_t firstFrame = 0;
  std::int32_t firstTime = 0;
  std::int32_t unused = 0;
};
static_assert(sizeof(RepeatBody) == 24);

// Follows the head of a dropped chunk, whose own frame and time are those of
// the frame written after the gap.
struct DroppedBody {
  std::uint64_t frames = 0;
};

}  // namespace rebound::recorder
