#include "src/recorder/format.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include <nlohmann/detail/conversions/to_chars.hpp>

#include "src/host/natives.h"
#include "src/recorder/records.h"

namespace rebound::recorder {

// ---- Numbers and text ------------------------------------------------------------

bool LineText::Room(std::size_t bytes) noexcept {
  if (overflowed_ || capacity_ - length_ < bytes) {
    overflowed_ = true;
    return false;
  }
  return true;
}

void LineText::Raw(std::string_view text) noexcept {
  if (!Room(text.size())) return;
  std::memcpy(data_ + length_, text.data(), text.size());
  length_ += text.size();
}

void LineText::Int(std::int64_t value) noexcept {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  Raw({digits, static_cast<std::size_t>(end - digits)});
}

void LineText::Unsigned(std::uint64_t value) noexcept {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  Raw({digits, static_cast<std::size_t>(end - digits)});
}

void LineText::Float(float value) noexcept {
  if (std::isnan(value)) return Raw("\"NaN\"");
  if (std::isinf(value)) return Raw(value > 0 ? "\"Infinity\"" : "\"-Infinity\"");
  // The trace takes the fewest significant digits, from 6 up to 9, whose
  // correct rounding reads back as the same float, reads them as a double
  // and has its JSON library write that double. The same steps here, with
  // that library's own conversion: its digits are not always the fewest (it
  // writes -138.80762 as -138.80761999999999), and the two files should say
  // the same thing in the same characters.
  char digits[32];
  char* digitsEnd = digits;
  for (int count = 6; count <= 9; ++count) {
    digitsEnd = std::to_chars(digits, digits + sizeof digits, static_cast<double>(value),
                              std::chars_format::scientific, count - 1)
                    .ptr;
    float back = 0.0F;
    std::from_chars(digits, digitsEnd, back, std::chars_format::scientific);
    if (back == value) break;
  }
  double spelled = 0.0;
  std::from_chars(digits, digitsEnd, spelled, std::chars_format::scientific);
  char text[64];
  const char* end = nlohmann::detail::to_chars(text, text + sizeof text, spelled);
  Raw({text, static_cast<std::size_t>(end - text)});
}

namespace {

// The length of the valid UTF-8 sequence that starts at `bytes`, or 0 when
// none does. Valid means the shortest form of a code point up to U+10FFFF
// that is not a surrogate, as the JSON library accepts. When 0, `consumed`
// says how many bytes the library gives up on: the lead byte alone when it
// cannot start a sequence, else the lead and the continuation bytes that
// were still acceptable (the byte that broke the sequence is read again).
std::size_t ValidSequence(const unsigned char* bytes, std::size_t left,
                          std::size_t& consumed) noexcept {
  const unsigned char lead = bytes[0];
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    consumed = 1;
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= left) {
      consumed = i;
      return 0;
    }
    const unsigned char c = bytes[i];
    const unsigned char min = i == 1 ? low : 0x80;
    const unsigned char max = i == 1 ? high : 0xBF;
    if (c < min || c > max) {
      consumed = i;
      return 0;
    }
  }
  return length;
}

}  // namespace

void LineText::Text(const char* text, std::size_t length) noexcept {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  Raw("\"");
  std::size_t i = 0;
  while (i < length) {
    const unsigned char c = bytes[i];
    if (c < 0x80) {
      switch (c) {
        case '"':
          Raw("\\\"");
          break;
        case '\\':
          Raw("\\\\");
          break;
        case '\b':
          Raw("\\b");
          break;
        case '\f':
          Raw("\\f");
          break;
        case '\n':
          Raw("\\n");
          break;
        case '\r':
          Raw("\\r");
          break;
        case '\t':
          Raw("\\t");
          break;
        default:
          if (c < 0x20) {
            const char escaped[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            Raw({escaped, sizeof escaped});
          } else {
            Raw({text + i, 1});
          }
      }
      ++i;
      continue;
    }
    std::size_t consumed = 0;
    const std::size_t valid = ValidSequence(bytes + i, length - i, consumed);
    if (valid != 0) {
      Raw({text + i, valid});
      i += valid;
    } else {
      Raw("\xEF\xBF\xBD");
      i += consumed;
    }
  }
  Raw("\"");
}

void LineText::Hash(std::uint64_t hash) noexcept {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char text[20] = {'"', '0', 'x'};
  for (int i = 0; i < 16; ++i) text[3 + i] = kHex[(hash >> (60 - 4 * i)) & 0xF];
  text[19] = '"';
  Raw({text, sizeof text});
}

// ---- Lines -------------------------------------------------------------------------

namespace {

using natives::kFrameCountHash;
using natives::kGameTimerHash;

float FloatOf(Word w) { return std::bit_cast<float>(static_cast<std::uint32_t>(w)); }
std::int32_t IntOf(Word w) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(w)); }

// How far the frame and time of the lines are known inside a chunk.
struct ChunkPlace {
  bool known = false;
  std::int64_t frame = 0;
  std::int32_t time = 0;
};

void OpenLine(LineText& line, const ChunkPlace& place) {
  line.Clear();
  line.Raw("{");
  if (place.known) {
    line.Raw("\"frame\":");
    line.Int(place.frame);
    line.Raw(",\"time\":");
    line.Int(place.time);
    line.Raw(",");
  }
}

bool CloseLine(LineText& line, FormatState& state, const ChunkPlace& place, LineSink& sink) {
  line.Raw("}\n");
  if (line.Overflowed()) return true;  // a line beyond any real one: left out
  if (place.known) {
    state.lastKnown = true;
    state.lastFrame = place.frame;
    state.lastTime = place.time;
  }
  return sink.Line(line.View());
}

// A text value at `p` (its length word, then its bytes); moves `p` past it.
void TextValue(LineText& line, const Word*& p) {
  const Word length = *p++;
  if (length == kNullText) {
    line.Raw("null");
    return;
  }
  line.Text(reinterpret_cast<const char*>(p), static_cast<std::size_t>(length));
  p += TextWords(static_cast<std::size_t>(length));
}

void VectorValue(LineText& line, const Word*& p) {
  line.Raw("[");
  line.Float(FloatOf(p[0]));
  line.Raw(",");
  line.Float(FloatOf(p[1]));
  line.Raw(",");
  line.Float(FloatOf(p[2]));
  line.Raw("]");
  p += 3;
}

// Writes one value of the given kind at `p` and moves past it.
void Value(LineText& line, unsigned kind, const Word*& p) {
  switch (kind) {
    case kInt:
    case kOutInt:
      line.Int(IntOf(*p++));
      return;
    case kBool:
    case kOutBool:
      line.Raw(*p++ != 0 ? "true" : "false");
      return;
    case kFloat:
    case kOutFloat:
      line.Float(FloatOf(*p++));
      return;
    case kText:
      TextValue(line, p);
      return;
    case kVector:
    case kOutVector:
      VectorValue(line, p);
      return;
    default:
      line.Raw("null");
      return;
  }
}

void NativeLine(LineText& line, const Word* record, std::size_t argCount) {
  const std::uint64_t hash = record[1];
  const Word kinds = record[2];
  const Word* p = record + 3;
  line.Raw("\"native\":");
  line.Hash(hash);
  line.Raw(",\"args\":[");
  const Word* outs[kMaxNativeArgs] = {};
  unsigned outKinds[kMaxNativeArgs] = {};
  std::size_t outCount = 0;
  for (std::size_t i = 0; i < argCount; ++i) {
    if (i != 0) line.Raw(",");
    const unsigned kind = ArgKindAt(kinds, i);
    if (kind >= kOutInt && kind <= kOutVector) {
      line.Raw("\"out\"");
      outs[outCount] = p;
      outKinds[outCount++] = kind;
      p += kind == kOutVector ? 3 : 1;
    } else {
      Value(line, kind, p);
    }
  }
  line.Raw("]");
  if (outCount != 0) {
    line.Raw(",\"outs\":[");
    for (std::size_t i = 0; i < outCount; ++i) {
      if (i != 0) line.Raw(",");
      const Word* out = outs[i];
      Value(line, outKinds[i], out);
    }
    line.Raw("]");
  }
  const unsigned resultKind = ResultKindOf(kinds);
  if (resultKind != kNone) {
    line.Raw(",\"result\":");
    Value(line, resultKind, p);
  }
}

void OwnCallLine(LineText& line, const FormatState& state, const ChunkPlace& place,
                 bool gameTimer) {
  line.Raw("\"native\":");
  line.Hash(gameTimer ? kGameTimerHash : kFrameCountHash);
  line.Raw(",\"args\":[],\"result\":");
  if (gameTimer) {
    line.Int(place.time);
  } else {
    line.Int(static_cast<std::int32_t>(static_cast<std::uint32_t>(state.frameBase) +
                                       static_cast<std::uint32_t>(place.frame)));
  }
  line.Raw(",\"by\":\"recorder\"");
}

void KeyLine(LineText& line, const Word* record) {
  const Word a = record[1];
  const Word b = record[2];
  const Word c = record[3];
  line.Raw("\"host\":\"keyboard\",\"key\":");
  line.Unsigned(static_cast<std::uint32_t>(a));
  line.Raw(",\"repeats\":");
  line.Unsigned((a >> 32) & 0xFFFF);
  line.Raw(",\"scanCode\":");
  line.Unsigned((a >> 48) & 0xFF);
  line.Raw(",\"extended\":");
  line.Int(IntOf(b));
  line.Raw(",\"alt\":");
  line.Int(IntOf(b >> 32));
  line.Raw(",\"wasDownBefore\":");
  line.Int(IntOf(c));
  line.Raw(",\"isUp\":");
  line.Int(IntOf(c >> 32));
}

struct HostLine {
  const char* name;
  const char* valueKey;  // nullptr for an event without a value
};

HostLine HostLineOf(unsigned event) {
  switch (event) {
    case kAttach:
      return {"attach", nullptr};
    case kScriptRegister:
      return {"scriptRegister", nullptr};
    case kKeyboardHandlerRegister:
      return {"keyboardHandlerRegister", nullptr};
    case kDetach:
      return {"detach", nullptr};
    case kScriptUnregister:
      return {"scriptUnregister", nullptr};
    case kKeyboardHandlerUnregister:
      return {"keyboardHandlerUnregister", nullptr};
    case kScriptStart:
      return {"scriptStart", nullptr};
    case kScriptWait:
      return {"scriptWait", "ms"};
    case kRandomDraw:
      return {"randomDraw", "value"};
    case kDroppedKeys:
      return {"droppedKeys", "count"};
    default:
      return {"unknown", nullptr};
  }
}

// Where a host event's line stands in time: at load (frame -1, no time), at
// unload or with no place of its own (neither), or in the frame.
enum class HostPlace { Load, None, Frame };

HostPlace PlaceOf(unsigned event) {
  switch (event) {
    case kAttach:
    case kScriptRegister:
    case kKeyboardHandlerRegister:
      return HostPlace::Load;
    case kDetach:
    case kScriptUnregister:
    case kKeyboardHandlerUnregister:
    case kDroppedKeys:
      return HostPlace::None;
    default:
      return HostPlace::Frame;
  }
}

void HostEventLine(LineText& line, const Word* record, std::size_t recordWords) {
  const HostLine host = HostLineOf(SubOf(record[0]));
  line.Raw("\"host\":\"");
  line.Raw(host.name);
  line.Raw("\"");
  if (host.valueKey != nullptr && recordWords > 1) {
    line.Raw(",\"");
    line.Raw(host.valueKey);
    line.Raw("\":");
    line.Unsigned(static_cast<std::uint32_t>(record[1]));
  }
}

// The lines of a frame chunk. Those before the recorder's own calls have no
// frame and time: the reader takes them from the next line that has them.
bool FrameChunk(const ChunkHead& head, const std::uint8_t* chunk, FormatState& state,
                LineText& line, LineSink& sink) {
  const std::size_t words = (head.bytes - sizeof(ChunkHead)) / sizeof(Word);
  const auto* body = reinterpret_cast<const Word*>(chunk + sizeof(ChunkHead));
  const ChunkPlace unknown;
  ChunkPlace place;
  for (std::size_t at = 0; at < words;) {
    const Word* record = body + at;
    const std::size_t recordWords = WordsOf(record[0]);
    if (recordWords == 0 || recordWords > words - at) return true;  // malformed: stop here
    at += recordWords;
    const RecordType type = TypeOf(record[0]);
    if (type == kOwnCallsRecord) {
      place.known = head.frameKnown != 0;
      place.frame = head.frame;
      place.time = head.time;
    }
    const HostPlace hostPlace = type == kHostRecord ? PlaceOf(SubOf(record[0])) : HostPlace::Frame;
    const ChunkPlace& linePlace = hostPlace == HostPlace::Frame ? place : unknown;
    if (hostPlace == HostPlace::Load) {
      line.Clear();
      line.Raw("{\"frame\":-1,");
    } else {
      OpenLine(line, linePlace);
    }
    switch (type) {
      case kNativeRecord:
        NativeLine(line, record, SubOf(record[0]));
        break;
      case kOwnCallsRecord:
        OwnCallLine(line, state, place, SubOf(record[0]) != 0);
        break;
      case kKeyRecord:
        KeyLine(line, record);
        break;
      case kHostRecord:
        HostEventLine(line, record, recordWords);
        break;
      default:
        return true;
    }
    if (!CloseLine(line, state, linePlace, sink)) return false;
  }
  return true;
}

}  // namespace

void FormatHeader(const HeaderFields& fields, LineText& line) noexcept {
  const auto textOrNull = [&line](std::string_view text) {
    if (text.empty()) {
      line.Raw("null");
    } else {
      line.Text(text.data(), text.size());
    }
  };
  line.Clear();
  line.Raw("{\"format\":\"rebound-recording\",\"version\":1,\"rebound\":\"" REBOUND_VERSION_TEXT
           "\",\"build\":\"recorder\",\"platform\":");
  textOrNull(fields.platform);
  line.Raw(",\"hostFile\":");
  textOrNull(fields.hostFile);
  line.Raw(",\"hostVersion\":");
  textOrNull(fields.hostVersion);
  line.Raw(",\"gameFile\":");
  textOrNull(fields.gameFile);
  line.Raw(",\"gameVersion\":");
  textOrNull(fields.gameVersion);
  line.Raw(",\"frameBase\":");
  if (fields.frameBaseKnown) {
    line.Int(fields.frameBase);
  } else {
    line.Raw("null");
  }
  line.Raw("}\n");
}

void FormatCapped(const FormatState& state, std::uint64_t capBytes, LineText& line) noexcept {
  ChunkPlace place;
  place.known = state.lastKnown;
  place.frame = state.lastFrame;
  place.time = state.lastTime;
  OpenLine(line, place);
  line.Raw("\"host\":\"capped\",\"bytes\":");
  line.Unsigned(capBytes);
  line.Raw("}\n");
}

bool FormatChunk(const std::uint8_t* chunk, FormatState& state, LineText& line,
                 LineSink& sink) noexcept {
  ChunkHead head;
  std::memcpy(&head, chunk, sizeof head);
  ChunkPlace place;
  place.known = head.frameKnown != 0;
  place.frame = head.frame;
  place.time = head.time;
  switch (head.kind) {
    case kFrameChunk:
      return FrameChunk(head, chunk, state, line, sink);
    case kRepeatChunk: {
      RepeatBody repeat;
      std::memcpy(&repeat, chunk + sizeof head, sizeof repeat);
      OpenLine(line, place);
      line.Raw("\"host\":\"repeat\",\"frames\":");
      line.Int(repeat.frames);
      line.Raw(",\"firstFrame\":");
      line.Int(repeat.firstFrame);
      line.Raw(",\"firstTime\":");
      line.Int(repeat.firstTime);
      return CloseLine(line, state, place, sink);
    }
    case kDroppedChunk: {
      DroppedBody dropped;
      std::memcpy(&dropped, chunk + sizeof head, sizeof dropped);
      OpenLine(line, place);
      line.Raw("\"host\":\"dropped\",\"frames\":");
      line.Unsigned(dropped.frames);
      return CloseLine(line, state, place, sink);
    }
    default:
      return true;
  }
}

}  // namespace rebound::recorder
