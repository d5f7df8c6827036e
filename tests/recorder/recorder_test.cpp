// The recording build's pieces: the ring and the keyboard queue, its JSON
// against the simulator trace's own writing of the same values, and the
// frames as the recorder commits them (repeats, drops, the end at detach),
// with the recording double of the host answering the natives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/base/native_table.h"
#include "sim/observe/trace.h"
#include "src/host/host_api.h"
#include "src/host/library_entry.h"
#include "src/host/natives.h"
#include "src/recorder/format.h"
#include "src/recorder/recorder.h"
#include "tests/support/recording_host.h"

#if defined(_WIN32)
// The recording DLL finds the host's module from its import of scriptWait:
// in this program the double's scriptWait stands in, reached through the
// import slot the loader would fill.
extern "C" void* const hostScriptWaitImport REBOUND_HOST_NAME("__imp_?scriptWait@@YAXK@Z") =
    reinterpret_cast<void*>(&scriptWait);
#endif

namespace {

using namespace rebound;
using namespace rebound::recorder;
using nlohmann::ordered_json;

void* const kModule = reinterpret_cast<void*>(0x7FF612340000ULL);

void SetEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}
void UnsetEnv(const char* name) {
#if defined(_WIN32)
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}

std::vector<ordered_json> ParseLines(const std::string& text) {
  std::vector<ordered_json> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(ordered_json::parse(text.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

// ---- The ring and the keyboard queue -------------------------------------------------

void PutChunk(std::uint8_t* p, std::size_t bytes, std::int64_t tag) {
  ChunkHead head;
  head.bytes = static_cast<std::uint32_t>(bytes);
  head.kind = kFrameChunk;
  head.frame = tag;
  std::memcpy(p, &head, sizeof head);
  std::memset(p + sizeof head, static_cast<int>(tag & 0x7F), bytes - sizeof head);
}

std::int64_t TagOf(const std::uint8_t* chunk, std::size_t& bytes) {
  ChunkHead head;
  std::memcpy(&head, chunk, sizeof head);
  bytes = head.bytes;
  for (std::size_t i = sizeof head; i < head.bytes; ++i) {
    if (chunk[i] != (head.frame & 0x7F)) return -1;  // torn
  }
  return head.frame;
}

TEST(RecorderRing, ChunksOfEverySizeComeBackWholeAndInOrderAcrossManyWraps) {
  alignas(8) static std::uint8_t storage[256];
  ByteRing ring;
  ring.Reset(storage, sizeof storage);
  std::uint64_t at = 0;
  std::int64_t expected = 0;
  // The reader lags a chunk or two behind, so chunks meet the end at every offset.
  for (std::int64_t tag = 0; tag < 400; ++tag) {
    const std::size_t bytes = 24 + 8 * static_cast<std::size_t>(tag % 9);
    std::uint8_t* p = ring.Reserve(bytes);
    ASSERT_NE(p, nullptr) << "chunk " << tag;
    PutChunk(p, bytes, tag);
    ring.Publish();
    while (ring.WritePosition() - at > 100) {
      const std::uint8_t* chunk = ring.ChunkAt(at, ring.WritePosition());
      ASSERT_NE(chunk, nullptr);
      std::size_t size = 0;
      ASSERT_EQ(TagOf(chunk, size), expected++);
      at += size;
      ring.Release(at);
    }
  }
  while (const std::uint8_t* chunk = ring.ChunkAt(at, ring.WritePosition())) {
    std::size_t size = 0;
    ASSERT_EQ(TagOf(chunk, size), expected++);
    at += size;
  }
  EXPECT_EQ(expected, 400);
  EXPECT_GT(ring.WritePosition(), 40 * sizeof storage);
}

TEST(RecorderRing, AGroupThatDoesNotFitIsAbandonedWhole) {
  alignas(8) static std::uint8_t storage[128];
  ByteRing ring;
  ring.Reset(storage, sizeof storage);
  PutChunk(ring.Reserve(48), 48, 1);
  PutChunk(ring.Reserve(48), 48, 2);
  ring.Publish();
  // A two-chunk group: the first fits in the 32 bytes left, the second not.
  std::uint8_t* first = ring.Reserve(24);
  ASSERT_NE(first, nullptr);
  PutChunk(first, 24, 3);
  EXPECT_EQ(ring.Reserve(24), nullptr);
  ring.Abandon();
  std::uint64_t at = 0;
  std::vector<std::int64_t> seen;
  while (const std::uint8_t* chunk = ring.ChunkAt(at, ring.WritePosition())) {
    std::size_t size = 0;
    seen.push_back(TagOf(chunk, size));
    at += size;
  }
  EXPECT_EQ(seen, (std::vector<std::int64_t>{1, 2}));
  // Once the reader gives room back, the same group fits (across the end).
  ring.Release(48);
  ASSERT_NE(first = ring.Reserve(24), nullptr);
  PutChunk(first, 24, 3);
  std::uint8_t* second = ring.Reserve(48);
  ASSERT_NE(second, nullptr);
  PutChunk(second, 48, 4);
  ring.Publish();
  seen.clear();
  while (const std::uint8_t* chunk = ring.ChunkAt(at, ring.WritePosition())) {
    std::size_t size = 0;
    seen.push_back(TagOf(chunk, size));
    at += size;
  }
  EXPECT_EQ(seen, (std::vector<std::int64_t>{3, 4}));
}

TEST(RecorderKeyQueue, KeepsOrderAndCountsWhatAFullQueueDrops) {
  static KeyQueue<4> queue;
  queue.Reset();
  KeyMessage m;
  for (std::uint32_t key = 1; key <= 6; ++key) {
    m.key = key;
    queue.Push(m);
  }
  EXPECT_EQ(queue.Dropped(), 2U);
  for (std::uint32_t key = 1; key <= 4; ++key) {
    ASSERT_TRUE(queue.Pop(m));
    EXPECT_EQ(m.key, key);
  }
  EXPECT_FALSE(queue.Pending());
  EXPECT_FALSE(queue.Pop(m));
  // Room again, and the positions go on past the slots' count.
  for (std::uint32_t key = 7; key <= 9; ++key) {
    m.key = key;
    queue.Push(m);
  }
  EXPECT_TRUE(queue.Pending());
  for (std::uint32_t key = 7; key <= 9; ++key) {
    ASSERT_TRUE(queue.Pop(m));
    EXPECT_EQ(m.key, key);
  }
  EXPECT_EQ(queue.Dropped(), 2U);
}

// ---- The JSON, against the trace's ---------------------------------------------------------

std::string OurFloat(float value) {
  char buffer[64];
  LineText line(buffer, sizeof buffer);
  line.Float(value);
  return std::string(line.View());
}

std::string TraceFloat(float value) { return sim::TraceNumber(value).dump(); }

TEST(RecorderFormat, FloatsAreWrittenAsTheTraceWritesThem) {
  const float cases[] = {0.0F,
                         -0.0F,
                         1.0F,
                         -2.5F,
                         0.923F,
                         0.1F,
                         100.0F,
                         1e-4F,
                         1e-5F,
                         123456789.0F,
                         1e15F,
                         1e16F,
                         1e20F,
                         3.4028235e38F,
                         std::numeric_limits<float>::denorm_min(),
                         std::numeric_limits<float>::min(),
                         std::nanf(""),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
  for (float value : cases) EXPECT_EQ(OurFloat(value), TraceFloat(value)) << value;
  // Any bit pattern at all, and coordinates as the game gives them.
  std::mt19937 bits(20240611);
  for (int i = 0; i < 60000; ++i) {
    const float value = std::bit_cast<float>(static_cast<std::uint32_t>(bits()));
    ASSERT_EQ(OurFloat(value), TraceFloat(value)) << std::bit_cast<std::uint32_t>(value);
  }
  std::uniform_real_distribution<float> coordinate(-10000.0F, 10000.0F);
  for (int i = 0; i < 20000; ++i) {
    const float value = coordinate(bits);
    ASSERT_EQ(OurFloat(value), TraceFloat(value)) << std::bit_cast<std::uint32_t>(value);
  }
}

std::string OurText(const std::string& text) {
  std::vector<char> buffer(text.size() * 6 + 8);
  LineText line(buffer.data(), buffer.size());
  line.Text(text.data(), text.size());
  return std::string(line.View());
}

std::string TraceText(const std::string& text) {
  return ordered_json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

TEST(RecorderFormat, TextIsEscapedAndRepairedAsTheTraceDoesIt) {
  const std::string cases[] = {
      "",
      "KS_RESPAWN_B",
      "quote \" backslash \\ slash /",
      "\b\f\n\r\t\x01\x1F\x7F",
      "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
      "\x80",              // a continuation byte alone
      "\xC0\x80",          // overlong
      "\xE0\x80\x80",      // overlong, three bytes
      "\xED\xA0\x80",      // a surrogate
      "\xF4\x90\x80\x80",  // past U+10FFFF
      "\xF5\xFF",          // bytes that never start a sequence
      "a\xE2\x82",         // cut short at the end
      "a\xE2\x82z\xF0\x9F\x98",
      "\xE2\x28\xA1",  // broken by an ASCII byte
  };
  for (const std::string& text : cases) EXPECT_EQ(OurText(text), TraceText(text)) << text;
  // Short strings of any bytes, mostly high ones.
  std::mt19937 bytes(7);
  for (int i = 0; i < 20000; ++i) {
    std::string text(bytes() % 9, ' ');
    for (char& c : text) {
      const auto r = static_cast<std::uint32_t>(bytes());
      c = static_cast<char>(r % 4 == 0 ? 1 + (r >> 8) % 127 : 0x80 + (r >> 8) % 128);
    }
    ASSERT_EQ(OurText(text), TraceText(text)) << i;
  }
}

// A native line as the recorder writes it: the call recorded into a chunk
// of frame 7 at game time 100133, after the recorder's own calls.
class LineOf final : public LineSink {
 public:
  bool Line(std::string_view line) noexcept override {
    lines.emplace_back(line);
    return true;
  }
  std::vector<std::string> lines;
};

template <typename R, typename... Args>
std::string RecordedLine(std::uint64_t hash, std::vector<std::uint64_t> result, Args... args) {
  alignas(8) static Word chunk[4096];
  const bool wasActive = fibre.active.load();
  Word* const savedCursor = fibre.cursor;
  Word* const savedEnd = fibre.end;
  fibre.active.store(true);
  Word* body = chunk + sizeof(ChunkHead) / sizeof(Word);
  body[0] = RecordHead(kOwnCallsRecord, 0, 1);
  fibre.cursor = body + 1;
  fibre.end = chunk + 3000;
  result.resize(4);
  RecordNative<R>(hash, result.data(), args...);
  ChunkHead head;
  head.bytes = static_cast<std::uint32_t>((fibre.cursor - chunk) * sizeof(Word));
  head.kind = kFrameChunk;
  head.frame = 7;
  head.time = 100133;
  head.frameKnown = 1;
  std::memcpy(chunk, &head, sizeof head);
  fibre.cursor = savedCursor;
  fibre.end = savedEnd;
  fibre.active.store(wasActive);
  static char text[65536];
  LineText line(text, sizeof text);
  LineOf sink;
  FormatState state;
  FormatChunk(reinterpret_cast<const std::uint8_t*>(chunk), state, line, sink);
  return sink.lines.size() == 2 ? sink.lines[1] : std::string("(no line)");
}

std::string TraceLine(std::uint64_t hash, std::vector<sim::TraceValue> args,
                      std::vector<sim::TraceValue> outs, std::optional<sim::TraceValue> result) {
  sim::TraceEntry entry;
  entry.frame = 7;
  entry.time = 100133;
  entry.native = sim::FindNative(hash);
  entry.args = std::move(args);
  entry.outs = std::move(outs);
  entry.result = std::move(result);
  ordered_json j = ordered_json::parse(sim::Trace::ToJson(entry));
  j.erase("name");  // the recorder leaves names to the catalogue
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

TEST(RecorderFormat, NumberVectorAndOutLinesMatchTheTracesWithoutTheName) {
  using sim::TraceValue;
  const std::uint32_t nanBits = 0x7FC00000;
  const float nan = std::bit_cast<float>(nanBits);
  // Ints, floats and booleans; no result.
  EXPECT_EQ(
      RecordedLine<void>(0x06843DA7060A026B, {}, -3, 1.5F, -0.0F, 1e20F, true, false, true, false),
      TraceLine(0x06843DA7060A026B,
                {TraceValue::Int(-3), TraceValue::Float(1.5F), TraceValue::Float(-0.0F),
                 TraceValue::Float(1e20F), TraceValue::Bool(true), TraceValue::Bool(false),
                 TraceValue::Bool(true), TraceValue::Bool(false)},
                {}, std::nullopt));
  // A vector result, with a NaN and an infinity in it.
  EXPECT_EQ(RecordedLine<NativeVector3>(
                0x3FEF770D40960D5A,
                {std::bit_cast<std::uint32_t>(12.25F), nanBits,
                 std::bit_cast<std::uint32_t>(-std::numeric_limits<float>::infinity())},
                7, true),
            TraceLine(0x3FEF770D40960D5A, {TraceValue::Int(7), TraceValue::Bool(true)}, {},
                      TraceValue::Vector(12.25F, nan, -std::numeric_limits<float>::infinity())));
  // Integer out-variables, as the game wrote them.
  std::int32_t red = 255, green = -1, blue = 0, alpha = 200;
  EXPECT_EQ(RecordedLine<void>(0x7C9C91AB74A0360F, {}, 116, &red, &green, &blue, &alpha),
            TraceLine(0x7C9C91AB74A0360F,
                      {TraceValue::Int(116), TraceValue::Out(), TraceValue::Out(),
                       TraceValue::Out(), TraceValue::Out()},
                      {TraceValue::Int(255), TraceValue::Int(-1), TraceValue::Int(0),
                       TraceValue::Int(200)},
                      std::nullopt));
  // A vector, a float and an integer out-variable among floats, a bool result.
  NativeVector3 node;
  node.x = 1.5F;
  node.y = -2.0F;
  node.z = 30.25F;
  float heading = 45.5F;
  std::int32_t lanes = 2;
  EXPECT_EQ(RecordedLine<bool>(0x80CA6A8B6C094CC4, {0x100000001ULL}, 1.0F, 2.0F, 3.0F, 1, &node,
                               &heading, &lanes, 1, 3.0F, 0.0F),
            TraceLine(0x80CA6A8B6C094CC4,
                      {TraceValue::Float(1.0F), TraceValue::Float(2.0F), TraceValue::Float(3.0F),
                       TraceValue::Int(1), TraceValue::Out(), TraceValue::Out(), TraceValue::Out(),
                       TraceValue::Int(1), TraceValue::Float(3.0F), TraceValue::Float(0.0F)},
                      {TraceValue::Vector(1.5F, -2.0F, 30.25F), TraceValue::Float(45.5F),
                       TraceValue::Int(2)},
                      TraceValue::Bool(true)));
}

TEST(RecorderFormat, TextAndNarrowResultLinesMatchTheTracesWithoutTheName) {
  using sim::TraceValue;
  const float nan = std::bit_cast<float>(std::uint32_t{0x7FC00000});
  // Texts by content, escaped, among other kinds.
  EXPECT_EQ(RecordedLine<void>(0xE7FFAE5EBF23D890, {}, "commonmenu", "gradient \"bg\"\n", 0.5F,
                               0.25F, 0.1F, 0.2F, 0.0F, 255, 128, 0, 255, 0, 0),
            TraceLine(0xE7FFAE5EBF23D890,
                      {TraceValue::Text("commonmenu"), TraceValue::Text("gradient \"bg\"\n"),
                       TraceValue::Float(0.5F), TraceValue::Float(0.25F), TraceValue::Float(0.1F),
                       TraceValue::Float(0.2F), TraceValue::Float(0.0F), TraceValue::Int(255),
                       TraceValue::Int(128), TraceValue::Int(0), TraceValue::Int(255),
                       TraceValue::Int(0), TraceValue::Int(0)},
                      {}, std::nullopt));
  // A null text argument.
  const char* const none = nullptr;
  EXPECT_EQ(RecordedLine<void>(0x25FBB336DF1804CB, {}, none),
            TraceLine(0x25FBB336DF1804CB, {TraceValue::Null()}, {}, std::nullopt));
  // A text result by content, and a null one.
  static const char label[] = "Respawn \xE2\x80\x94 \xFF";
  EXPECT_EQ(RecordedLine<std::string>(0x7B5280EBA9840C72, {reinterpret_cast<std::uintptr_t>(label)},
                                      "KS_RESPAWN_B"),
            TraceLine(0x7B5280EBA9840C72, {TraceValue::Text("KS_RESPAWN_B")}, {},
                      TraceValue::Text(label)));
  EXPECT_EQ(RecordedLine<std::string>(0x7B5280EBA9840C72, {0}, "KS_NONE"),
            TraceLine(0x7B5280EBA9840C72, {TraceValue::Text("KS_NONE")}, {}, TraceValue::Null()));
  // Integer and float results read from the low half of the slot.
  EXPECT_EQ(RecordedLine<std::int32_t>(0xEEF059FAD016D209, {0xFFFFFFFF00000096ULL}, 1),
            TraceLine(0xEEF059FAD016D209, {TraceValue::Int(1)}, {}, TraceValue::Int(150)));
  EXPECT_EQ(RecordedLine<float>(0x2A488C176D52CCA5, {std::bit_cast<std::uint32_t>(99.5F)}, 0.0F,
                                0.0F, 0.0F, 3.0F, 4.0F, nan),
            TraceLine(0x2A488C176D52CCA5,
                      {TraceValue::Float(0.0F), TraceValue::Float(0.0F), TraceValue::Float(0.0F),
                       TraceValue::Float(3.0F), TraceValue::Float(4.0F), TraceValue::Float(nan)},
                      {}, TraceValue::Float(99.5F)));
}

// ---- Frames, with the recording double of the host ------------------------------------

class RecorderFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder::testing_seam::ResetRecorderForTesting();
    test::Host().Reset();
  }
  void TearDown() override {
    recorder::testing_seam::ResetRecorderForTesting();
    UnsetEnv("REBOUND_RECORDER_RING_BYTES");
    UnsetEnv("REBOUND_RECORDER_MAX_BYTES");
    UnsetEnv("REBOUND_RECORDING_DIR");
  }

  // Attaches, and starts the script in the game's frame 1000.
  void Start() {
    LibraryEntry(kModule, kProcessAttach);
    Answer(1000, TimeOf(0));
    recorder::OnScriptStart();
  }
  static std::int32_t TimeOf(std::int64_t frame) {
    return static_cast<std::int32_t>(50000 + frame * 1000 / 60);
  }
  static void Answer(std::int64_t count, std::int32_t time) {
    test::Host().results.push_back({static_cast<std::uint64_t>(count)});
    test::Host().results.push_back({static_cast<std::uint32_t>(time)});
  }
  // One frame of the script: the plug-in's idle check, then its wait, which
  // returns in the next frame (`frame` counts from the script's first).
  void Frame(std::int64_t frame, std::int32_t health = 200) {
    test::Host().results.push_back({1});
    test::Host().results.push_back({static_cast<std::uint32_t>(health)});
    const natives::Ped ped = natives::PLAYER_PED_ID();
    natives::GET_ENTITY_HEALTH(ped);
    Answer(1000 + frame + 1, TimeOf(frame + 1));
    rebound::scriptWait(0);
  }
  static std::vector<ordered_json> Committed() {
    std::string text;
    recorder::testing_seam::TakeCommittedLinesForTesting(text);
    return ParseLines(text);
  }
  static std::vector<ordered_json> Of(const std::vector<ordered_json>& lines,
                                      const std::string& host) {
    std::vector<ordered_json> found;
    for (const auto& line : lines) {
      if (line.value("host", "") == host) found.push_back(line);
    }
    return found;
  }
};

TEST_F(RecorderFrames, IdleFramesCollapseIntoOneRepeatLineThatADifferentFrameEnds) {
  Start();
  for (std::int64_t f = 0; f <= 10; ++f) Frame(f);
  EXPECT_EQ(recorder::testing_seam::PendingRepeatsForTesting(), 9);
  Frame(11, 150);  // the health changed: the stretch ends
  const auto lines = Committed();
  // Load time, frame 0 (with the start), frame 1 (the first like the next),
  // the repeat of frames 2..10, and frame 11.
  ASSERT_EQ(lines.size(), 3 + 6 + 5 + 1 + 5U);
  EXPECT_EQ(lines[0], ordered_json::parse(R"({"frame":-1,"host":"attach"})"));
  EXPECT_EQ(lines[3], ordered_json::parse(R"({"host":"scriptStart"})"));
  EXPECT_EQ(lines[4], ordered_json::parse(R"({"frame":0,"time":50000,"native":"0xFC8202EFC642E6F2",
                                             "args":[],"result":1000,"by":"recorder"})"));
  EXPECT_EQ(lines[9], ordered_json::parse(R"({"frame":1,"time":50016,"native":"0xFC8202EFC642E6F2",
                                             "args":[],"result":1001,"by":"recorder"})"));
  const ordered_json repeat = ordered_json::object({{"frame", 10},
                                                    {"time", TimeOf(10)},
                                                    {"host", "repeat"},
                                                    {"frames", 9},
                                                    {"firstFrame", 2},
                                                    {"firstTime", TimeOf(2)}});
  EXPECT_EQ(lines[14], repeat);
  EXPECT_EQ(lines[15]["frame"], 11);
  EXPECT_EQ(lines[18]["result"], 150);
  EXPECT_EQ(lines[19],
            ordered_json::parse(R"({"frame":11,"time":50183,"host":"scriptWait","ms":0})"));
}

TEST_F(RecorderFrames, AStretchEndsAtAHitchAndAtAKeyboardMessage) {
  Start();
  for (std::int64_t f = 0; f <= 4; ++f) Frame(f);
  // Frame 6 comes 200 ms late: written whole, and so is frame 7, whose step
  // is back to normal.
  test::Host().results.push_back({1});
  test::Host().results.push_back({200});
  natives::GET_ENTITY_HEALTH(natives::PLAYER_PED_ID());
  Answer(1000 + 6, TimeOf(6) + 200);
  rebound::scriptWait(0);
  for (std::int64_t f = 6; f <= 7; ++f) Frame(f);
  // A keyboard message: it lands before the next call, and its frame is
  // written whole although its calls are those of the frame before.
  recorder::OnKeyboardMessage(87, 1, 17, 0, 0, 0, 0);
  Frame(8);
  Frame(9);
  const auto lines = Committed();
  std::vector<std::pair<std::int64_t, std::int64_t>> repeats;
  for (const auto& r : Of(lines, "repeat")) repeats.emplace_back(r["firstFrame"], r["frame"]);
  EXPECT_EQ(repeats, (std::vector<std::pair<std::int64_t, std::int64_t>>{{2, 5}}));
  std::vector<std::int64_t> waits;
  for (const auto& w : Of(lines, "scriptWait")) waits.push_back(w["frame"]);
  EXPECT_EQ(waits, (std::vector<std::int64_t>{0, 1, 6, 7, 8, 9}));
  std::size_t key = 0;
  while (key < lines.size() && lines[key].value("host", "") != "keyboard") ++key;
  ASSERT_LT(key + 1, lines.size());
  EXPECT_EQ(lines[key - 1].value("native", ""), "0x9CD27B0045628463");  // the recorder's own
  EXPECT_EQ(lines[key + 1].value("native", ""), "0xD80958FC74E988A6");  // PLAYER_PED_ID
  EXPECT_EQ(lines[key]["frame"], 8);
  EXPECT_EQ(lines[key]["key"], 87);
  EXPECT_EQ(lines[key]["scanCode"], 17);
  // Frame 9 repeats frame 8's calls, but frame 8 had a message: written whole.
  EXPECT_EQ(lines.back(),
            ordered_json::parse(R"({"frame":9,"time":50150,"host":"scriptWait","ms":0})"));
}

TEST_F(RecorderFrames, AFullKeyboardQueueIsCountedBeforeTheWait) {
  Start();
  for (std::uint32_t i = 0; i < kKeyQueueLength + 5; ++i)
    recorder::OnKeyboardMessage(65 + i % 26, 1, 30, 0, 0, 0, i % 2);
  Frame(0);
  const auto lines = Committed();
  EXPECT_EQ(Of(lines, "keyboard").size(), kKeyQueueLength);
  const auto dropped = Of(lines, "droppedKeys");
  ASSERT_EQ(dropped.size(), 1U);
  EXPECT_EQ(dropped[0], ordered_json::parse(R"({"host":"droppedKeys","count":5})"));
  EXPECT_EQ(lines[lines.size() - 2], dropped[0]) << "just before the wait";
}

TEST_F(RecorderFrames, AFullRingDropsWholeFramesAndTheNextFrameThatFitsSaysHowMany) {
  SetEnv("REBOUND_RECORDER_RING_BYTES", "4096");
  Start();
  // Every frame differs, and nobody reads the ring.
  std::int64_t f = 0;
  for (; f < 60; ++f) Frame(f, static_cast<std::int32_t>(100 + f));
  auto lines = Committed();
  std::vector<std::int64_t> written;
  for (const auto& line : lines) {
    if (line.value("host", "") == "scriptWait") written.push_back(line["frame"]);
  }
  ASSERT_FALSE(written.empty());
  const std::int64_t lastWritten = written.back();
  EXPECT_LT(lastWritten, 59) << "the ring is too small for 60 frames";
  for (std::size_t i = 0; i < written.size(); ++i)
    EXPECT_EQ(written[i], static_cast<std::int64_t>(i));
  EXPECT_TRUE(Of(lines, "dropped").empty()) << "said only before the next frame that fits";
  EXPECT_EQ(recorder::testing_seam::PendingDropsForTesting(),
            static_cast<std::uint64_t>(59 - lastWritten));
  // With room again, the next frame comes after a line counting the gap.
  Frame(f, 7);
  lines = Committed();
  ASSERT_GE(lines.size(), 2U);
  EXPECT_EQ(
      lines[0],
      ordered_json::object(
          {{"frame", f}, {"time", TimeOf(f)}, {"host", "dropped"}, {"frames", 59 - lastWritten}}));
  EXPECT_EQ(lines.back()["frame"], f);
  // The dropped frames' calls are lost, whole: none of their lines is here.
  for (const auto& line : lines) EXPECT_EQ(line["frame"], f);
  // The frame after the gap is not repeated (its lines since the last wait
  // hold the dropped line): the next is written whole, and repeated.
  for (std::int64_t g = f + 1; g <= f + 4; ++g) Frame(g, 7);
  Frame(f + 5, 8);
  lines = Committed();
  std::vector<std::int64_t> waits;
  for (const auto& w : Of(lines, "scriptWait")) waits.push_back(w["frame"]);
  EXPECT_EQ(waits, (std::vector<std::int64_t>{f + 1, f + 5}));
  const auto repeats = Of(lines, "repeat");
  ASSERT_EQ(repeats.size(), 1U);
  EXPECT_EQ(repeats[0]["firstFrame"], f + 2);
  EXPECT_EQ(repeats[0]["frame"], f + 4);
}

std::filesystem::path FreshFolder(const char* name) {
  const auto folder = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

std::vector<ordered_json> ReadRecording(const std::filesystem::path& folder, std::uintmax_t* size) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    files.push_back(entry.path());
  if (files.size() != 1) return {};
  const std::string name = files[0].filename().string();
  EXPECT_EQ(name.rfind("Rebound-recording-", 0), 0U) << name;
  EXPECT_EQ(name.substr(name.size() - 6), ".jsonl") << name;
  if (size != nullptr) *size = std::filesystem::file_size(files[0]);
  std::ifstream in(files[0], std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParseLines(text);
}

TEST_F(RecorderFrames, DetachWritesTheStretchTheFrameInProgressAndTheDetachLines) {
  const auto folder = FreshFolder("rebound-recorder-test-detach");
  SetEnv("REBOUND_RECORDING_DIR", folder.string());
  Start();
  for (std::int64_t f = 0; f <= 20; ++f) Frame(f);
  recorder::OnKeyboardMessage(27, 1, 1, 0, 0, 0, 0);  // not yet taken by the fibre
  LibraryEntry(kModule, kProcessDetach);
  const auto lines = ReadRecording(folder, nullptr);
  ASSERT_GE(lines.size(), 10U);
  EXPECT_EQ(lines[0]["format"], "rebound-recording");
  EXPECT_EQ(lines[0]["frameBase"], 1000);
  // frames 2..20 repeated; frame 21 had begun (the recorder's own calls).
  const auto repeats = Of(lines, "repeat");
  ASSERT_EQ(repeats.size(), 1U);
  EXPECT_EQ(repeats[0]["firstFrame"], 2);
  EXPECT_EQ(repeats[0]["frame"], 20);
  const std::size_t n = lines.size();
  EXPECT_EQ(lines[n - 7]["host"], "repeat");
  EXPECT_EQ(lines[n - 6]["result"], 1021);
  EXPECT_EQ(lines[n - 5]["native"], "0x9CD27B0045628463");
  EXPECT_EQ(lines[n - 4],
            ordered_json::parse(R"({"frame":21,"time":50350,"host":"keyboard","key":27,
      "repeats":1,"scanCode":1,"extended":0,"alt":0,"wasDownBefore":0,"isUp":0})"));
  EXPECT_EQ(lines[n - 3], ordered_json::parse(R"({"host":"detach"})"));
  EXPECT_EQ(lines[n - 2], ordered_json::parse(R"({"host":"scriptUnregister"})"));
  EXPECT_EQ(lines[n - 1], ordered_json::parse(R"({"host":"keyboardHandlerUnregister"})"));
  std::filesystem::remove_all(folder);
}

TEST_F(RecorderFrames, FramesDroppedAtTheEndAreCountedBeforeTheDetachLines) {
  const auto folder = FreshFolder("rebound-recorder-test-drops");
  SetEnv("REBOUND_RECORDING_DIR", folder.string());
  SetEnv("REBOUND_RECORDER_RING_BYTES", "4096");
  Start();
  for (std::int64_t f = 0; f < 60; ++f) Frame(f, static_cast<std::int32_t>(100 + f));
  const std::uint64_t drops = recorder::testing_seam::PendingDropsForTesting();
  ASSERT_GT(drops, 0U);
  LibraryEntry(kModule, kProcessDetach);
  const auto lines = ReadRecording(folder, nullptr);
  ASSERT_GE(lines.size(), 6U);
  const std::size_t n = lines.size();
  // Before the frame in progress, whose lines are written at detach.
  EXPECT_EQ(lines[n - 6],
            ordered_json::object(
                {{"frame", 60}, {"time", TimeOf(60)}, {"host", "dropped"}, {"frames", drops}}));
  EXPECT_EQ(lines[n - 5]["result"], 1060);
  EXPECT_EQ(lines[n - 3]["host"], "detach");
  std::filesystem::remove_all(folder);
}

TEST_F(RecorderFrames, TheCapEndsTheFileWithALineSayingSoAndStopsRecording) {
  const auto folder = FreshFolder("rebound-recorder-test-cap");
  SetEnv("REBOUND_RECORDING_DIR", folder.string());
  SetEnv("REBOUND_RECORDER_MAX_BYTES", "4096");
  Start();
  std::int64_t f = 0;
  for (; f < 40; ++f) Frame(f, static_cast<std::int32_t>(100 + f));
  // What the writer thread does on its next poll.
  recorder::testing_seam::RunWriterOnceForTesting();
  EXPECT_FALSE(fibre.active.load()) << "the hooks stop recording";
  Frame(f, 1);
  EXPECT_TRUE(Committed().empty());
  LibraryEntry(kModule, kProcessDetach);
  std::uintmax_t size = 0;
  const auto lines = ReadRecording(folder, &size);
  ASSERT_FALSE(lines.empty());
  EXPECT_LE(size, 4096U);
  EXPECT_GT(size, 4096U - 300) << "filled up to the cap";
  EXPECT_EQ(lines.back()["host"], "capped");
  EXPECT_EQ(lines.back()["bytes"], 4096);
  EXPECT_TRUE(lines.back().contains("frame"));
  EXPECT_TRUE(Of(lines, "detach").empty()) << "nothing follows the capped line";
  std::filesystem::remove_all(folder);
}

// ---- The folder REBOUND_RECORDING_DIR names ------------------------------------------

TEST_F(RecorderFrames, AMissingRecordingFolderIsMadeWithTheFoldersAboveIt) {
  const auto base = FreshFolder("rebound-recorder-test-made");
  const auto folder = base / "missing" / "recordings";
  SetEnv("REBOUND_RECORDING_DIR", folder.string());
  Start();
  for (std::int64_t f = 0; f <= 3; ++f) Frame(f);
  LibraryEntry(kModule, kProcessDetach);
  ASSERT_TRUE(std::filesystem::is_directory(folder));
  const auto lines = ReadRecording(folder, nullptr);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0]["format"], "rebound-recording");
  EXPECT_EQ(Of(lines, "detach").size(), 1U);
  std::filesystem::remove_all(base);
}

#if !defined(_WIN32)
// The Linux module runs under a terminal: a folder that cannot take the
// recording is named there once, with the system's reason.
TEST_F(RecorderFrames, AFolderThatCannotTakeTheRecordingIsNamedOnceOnStandardError) {
  const auto base = FreshFolder("rebound-recorder-test-blocked");
  std::ofstream(base / "file") << "not a folder";
  const auto folder = base / "file" / "recordings";
  SetEnv("REBOUND_RECORDING_DIR", folder.string());
  testing::internal::CaptureStderr();
  Start();
  for (std::int64_t f = 0; f <= 3; ++f) Frame(f);
  recorder::testing_seam::RunWriterOnceForTesting();
  LibraryEntry(kModule, kProcessDetach);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said,
            "Rebound recorder: no recording: cannot write in REBOUND_RECORDING_DIR's folder " +
                folder.string() + ": Not a directory\n");
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(base))
    left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"file"}) << "nothing is made beside the file";
  std::filesystem::remove_all(base);
}
#endif

}  // namespace
