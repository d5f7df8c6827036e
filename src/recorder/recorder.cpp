#include "src/recorder/recorder.h"

#include <algorithm>
#include <string>

#include "src/host/natives.h"
#include "src/recorder/format.h"
#include "src/recorder/system.h"

namespace rebound::recorder {

namespace {

constexpr std::size_t kMinRingBytes = std::size_t{4} << 10;
constexpr std::size_t kMaxRingBytes = std::size_t{8} << 20;
constexpr std::uint64_t kDefaultMaxFileBytes = std::uint64_t{256} << 20;
constexpr std::uint64_t kMinFileBytes = std::uint64_t{4} << 10;
// One frame's records: a death frame stages a few kilobytes.
constexpr std::size_t kStagingWords = std::size_t{16} << 10;
// Past the frame's end, room for the fixed part of the longest record (its
// head, hash, kinds and up to 15 three-word values), so that a record that
// starts before the end needs no check of its own but for its texts.
constexpr std::size_t kSlackWords = 64;
constexpr std::size_t kHeadWords = sizeof(ChunkHead) / sizeof(Word);
// The longest line a frame's records can make: every byte of text escaped
// to six characters.
constexpr std::size_t kLineBytes = 6 * kStagingWords * sizeof(Word) + 4096;
constexpr std::size_t kOutBytes = std::size_t{64} << 10;
// Room kept under the cap for the line that says the cap was reached.
constexpr std::uint64_t kCappedLineReserve = 128;
// What the writer formats in one turn on the file before it lets the
// detaching thread have the file.
constexpr std::size_t kRingBytesPerTurn = std::size_t{1} << 20;
constexpr unsigned kPollMs = 100;
// How long an unload waits for the writer to finish the chunk it is writing.
constexpr unsigned kTurnWaitMs = 2000;

using natives::kFrameCountHash;
using natives::kGameTimerHash;

// Who may touch the file, the ring's read side and the formatting: the writer
// takes the turn for each batch it writes; the detaching thread takes it for
// good.
enum Turn : int { kFree = 0, kWriterTurn = 1, kDetachTurn = 2 };

struct Staging {
  // A chunk head, then the frame's records.
  alignas(64) Word words[kHeadWords + kStagingWords + kSlackWords];
  Word* Body() { return words + kHeadWords; }
};

// The fibre's side between records: the frame being staged, the last one
// written (the other staging buffer) and the idle stretch that repeats it.
struct FrameState {
  bool attached = false;
  bool processExit = false;        // the coming detach is the process's exit
  int current = 0;                 // the staging buffer being filled
  std::size_t referenceWords = 0;  // the last frame written (the other buffer)
  bool frameKnown = false;         // the frame being staged asked for its frame and time
  bool eventful = false;           // ... and holds an event that never repeats: a
                                   // keyboard message, a random draw, a start
  std::int64_t frame = 0;
  std::int32_t time = 0;
  bool haveFrameBase = false;
  std::int32_t frameBase = 0;
  bool haveLast = false;  // the last frame written or repeated
  std::int64_t lastFrame = 0;
  std::int32_t lastTime = 0;
  bool repeatable = false;    // the next frame may repeat the last written one...
  std::int64_t stepLow = 0;   // ... when its time step from the last lies in
  std::int64_t stepHigh = 0;  //     stepLow..stepHigh
  std::int64_t repeats = 0;   // the stretch of repeats not yet written
  std::int64_t firstFrame = 0;
  std::int32_t firstTime = 0;
  std::uint64_t drops = 0;     // frames dropped since the last one written
  bool dropKnown = false;      // the last of them asked for its frame and time:
  std::int64_t dropFrame = 0;  // these
  std::int32_t dropTime = 0;
  std::uint32_t keysReported = 0;  // dropped keyboard messages already written
  bool threadless = false;         // tests: no writer thread, detach writes all
};

// Where the writer stood after its last batch, everything before it written:
// an unload that had to stop the writer mid-batch goes back to it.
struct Checkpoint {
  std::uint64_t fileBytes = 0;
  std::uint64_t readPosition = 0;
  FormatState format;
  bool capped = false;
};

struct WriterState {
  std::atomic<int> turn{kFree};
  std::atomic<bool> stop{false};
  bool started = false;  // set by the fibre in its first frame
  bool fileOpen = false;
  bool fileFailed = false;  // no folder took the file: nothing is recorded
  bool capped = false;
  std::uint64_t maxFileBytes = kDefaultMaxFileBytes;
  std::uint64_t fileBytes = 0;  // handed to the system
  std::size_t outLength = 0;    // in outBuffer, not yet handed over
  std::uint64_t readPosition = 0;
  FormatState format;
  Checkpoint checkpoint;
  platform::HostFiles hostFiles;
};

}  // namespace

// ==== The recorder's process-wide state ================================================
// The fibre's cursor and the keyboard queue (read by the inline hooks), and
// behind them the ring, the two staging buffers, the frame and stretch state,
// and the writer's file state and buffers. All static: nothing is allocated.
FibreCursor fibre;
KeyQueue<kKeyQueueLength> keyQueue;

namespace {

alignas(64) std::uint8_t ringStorage[kMaxRingBytes];
ByteRing ring;
Staging staging[2];
FrameState frames;
WriterState writer;
char lineBuffer[kLineBytes];
char cappedBuffer[256];
char outBuffer[kOutBytes];

// ==== The fibre's records ================================================================

std::int32_t SlotInt(std::uint64_t slot) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(slot));
}

void BeginFrame() noexcept {
  Word* body = staging[frames.current].Body();
  fibre.cursor = body;
  fibre.end = body + kStagingWords;
  fibre.overflowed = false;
  frames.frameKnown = false;
  frames.eventful = false;
}

void PutKey(const KeyMessage& m) noexcept {
  Word* cur = fibre.cursor;
  if (cur > fibre.end) return;
  cur[0] = RecordHead(kKeyRecord, 0, 4);
  cur[1] = Word{m.key} | (Word{m.repeats} << 32) | (Word{m.scanCode} << 48);
  cur[2] = Word{static_cast<std::uint32_t>(m.extended)} |
           (Word{static_cast<std::uint32_t>(m.alt)} << 32);
  cur[3] = Word{static_cast<std::uint32_t>(m.wasDownBefore)} |
           (Word{static_cast<std::uint32_t>(m.isUp)} << 32);
  fibre.cursor = cur + 4;
  frames.eventful = true;
}

void PutHost(HostEvent event) noexcept {
  if (keyQueue.Pending()) TakeKeys();
  if (fibre.cursor > fibre.end) return;
  *fibre.cursor++ = RecordHead(kHostRecord, event, 1);
  if (event != kScriptWait) frames.eventful = true;
}

void PutHost(HostEvent event, std::uint32_t value) noexcept {
  if (keyQueue.Pending()) TakeKeys();
  Word* cur = fibre.cursor;
  if (cur > fibre.end) return;
  cur[0] = RecordHead(kHostRecord, event, 2);
  cur[1] = value;
  fibre.cursor = cur + 2;
  if (event != kScriptWait) frames.eventful = true;
}

void PutOwnCall(bool gameTimer) noexcept {
  if (keyQueue.Pending()) TakeKeys();
  if (fibre.cursor > fibre.end) return;
  *fibre.cursor++ = RecordHead(kOwnCallsRecord, gameTimer ? 1 : 0, 1);
}

// The recorder's own two calls, at the start of each frame the script runs:
// they give the frame and the time of every line after them. Each is
// recorded after it returns, like the plug-in's, so that a keyboard message
// that arrives during one lands before it.
void AskFrameAndTime() noexcept {
  nativeInit(kFrameCountHash);
  const std::int32_t count = SlotInt(nativeCall()[0]);
  PutOwnCall(false);
  nativeInit(kGameTimerHash);
  const std::int32_t time = SlotInt(nativeCall()[0]);
  PutOwnCall(true);
  if (!frames.haveFrameBase) {
    frames.haveFrameBase = true;
    frames.frameBase = count;
  }
  frames.frame = std::int64_t{count} - frames.frameBase;
  frames.time = time;
  frames.frameKnown = true;
}

void ReportDroppedKeys() noexcept {
  const std::uint32_t dropped = keyQueue.Dropped();
  if (dropped == frames.keysReported) return;
  PutHost(kDroppedKeys, dropped - frames.keysReported);
  frames.keysReported = dropped;
}

ChunkHead HeadOf(ChunkKind kind, std::size_t bytes, bool known, std::int64_t frame,
                 std::int32_t time) {
  ChunkHead head;
  head.bytes = static_cast<std::uint32_t>(bytes);
  head.kind = kind;
  head.frame = frame;
  head.time = time;
  head.frameKnown = known ? 1 : 0;
  return head;
}

// A frame was written: the next one may repeat it when it is the next by
// number and its time step is like this one's, so that the times read back
// by linear interpolation stay close and a hitch (a long, short or backward
// step, the timer's wrap) is written where it happened.
void NoteWrittenFrame() noexcept {
  frames.repeatable = false;
  if (!frames.frameKnown) return;
  if (frames.haveLast) {
    const std::int64_t step = std::int64_t{frames.time} - frames.lastTime;
    const std::int64_t tolerance = std::max<std::int64_t>(2, step / 4);
    frames.stepLow = std::max<std::int64_t>(0, step - tolerance);
    frames.stepHigh = step + tolerance;
    frames.repeatable = step >= 0;
  }
  frames.haveLast = true;
  frames.lastFrame = frames.frame;
  frames.lastTime = frames.time;
}

// The frame being staged is lost: counted, for the line that says so.
void DropFrame() noexcept {
  ++frames.drops;
  frames.repeatable = false;
  if (frames.frameKnown) {
    frames.dropKnown = true;
    frames.dropFrame = frames.frame;
    frames.dropTime = frames.time;
  }
}

// Whether the frame staged in `body` repeats the last one written: the next
// by number, its time step like the last one's, nothing in it that never
// repeats, and the same records.
bool RepeatsLastFrame(const Word* body, std::size_t words) noexcept {
  const std::int64_t step = std::int64_t{frames.time} - frames.lastTime;
  return frames.repeatable && !frames.eventful && frames.frameKnown &&
         words == frames.referenceWords && frames.frame == frames.lastFrame + 1 &&
         step >= frames.stepLow && step <= frames.stepHigh &&
         std::memcmp(body, staging[frames.current ^ 1].Body(), words * sizeof(Word)) == 0;
}

void CountRepeat() noexcept {
  if (frames.repeats++ == 0) {
    frames.firstFrame = frames.frame;
    frames.firstTime = frames.time;
  }
  frames.lastFrame = frames.frame;
  frames.lastTime = frames.time;
}

// The line for the stretch of repeats not yet written, if any; false when the
// ring has no room for it.
constexpr std::size_t kRepeatChunkBytes = sizeof(ChunkHead) + sizeof(RepeatBody);

// The repeat chunk of the idle stretch counted so far, into `p`.
void PutRepeatChunk(std::uint8_t* p) noexcept {
  const ChunkHead head =
      HeadOf(kRepeatChunk, kRepeatChunkBytes, true, frames.lastFrame, frames.lastTime);
  RepeatBody repeat;
  repeat.frames = frames.repeats;
  repeat.firstFrame = frames.firstFrame;
  repeat.firstTime = frames.firstTime;
  std::memcpy(p, &head, sizeof head);
  std::memcpy(p + sizeof head, &repeat, sizeof repeat);
}

bool PutRepeatLine() noexcept {
  if (frames.repeats == 0) return true;
  std::uint8_t* p = ring.Reserve(kRepeatChunkBytes);
  if (p == nullptr) return false;
  PutRepeatChunk(p);
  return true;
}

// The line for the frames dropped since the last one written, if any; false
// when the ring has no room for it.
bool PutDroppedLine() noexcept {
  if (frames.drops == 0) return true;
  std::uint8_t* p = ring.Reserve(sizeof(ChunkHead) + sizeof(DroppedBody));
  if (p == nullptr) return false;
  const ChunkHead head = HeadOf(kDroppedChunk, sizeof(ChunkHead) + sizeof(DroppedBody),
                                frames.frameKnown, frames.frame, frames.time);
  DroppedBody dropped;
  dropped.frames = frames.drops;
  std::memcpy(p, &head, sizeof head);
  std::memcpy(p + sizeof head, &dropped, sizeof dropped);
  return true;
}

// The staged frame behind its chunk head; false when the ring has no room.
bool PutFrame(Staging& s, std::size_t words) noexcept {
  const std::size_t bytes = (kHeadWords + words) * sizeof(Word);
  std::uint8_t* p = ring.Reserve(bytes);
  if (p == nullptr) return false;
  const ChunkHead head = HeadOf(kFrameChunk, bytes, frames.frameKnown, frames.frame, frames.time);
  std::memcpy(s.words, &head, sizeof head);
  std::memcpy(p, s.words, bytes);
  return true;
}

// The frame is on the ring: it is the one the next may repeat, in the other
// staging buffer.
void NoteFramePut(std::size_t words) noexcept {
  const bool afterGap = frames.drops != 0;
  frames.repeats = 0;
  frames.drops = 0;
  NoteWrittenFrame();
  // A repeat line stands for copies of the lines since the wait before the
  // frame it repeats: the dropped line must not be among them.
  if (afterGap) frames.repeatable = false;
  frames.referenceWords = words;
  frames.current ^= 1;
}

// Ends the frame being staged: counted as a repeat of the last one written
// when it matches it, else put on the ring behind the lines that must come
// first (the stretch it ended, the frames dropped before it), or dropped as
// a whole when the ring has no room for all of that.
void CommitFrame() noexcept {
  Staging& s = staging[frames.current];
  const std::size_t words = static_cast<std::size_t>(fibre.cursor - s.Body());
  if (fibre.overflowed || fibre.cursor > fibre.end) {
    DropFrame();
    return BeginFrame();
  }
  if (RepeatsLastFrame(s.Body(), words)) {
    CountRepeat();
    return BeginFrame();
  }
  if (!PutRepeatLine() || !PutDroppedLine() || !PutFrame(s, words)) {
    ring.Abandon();
    DropFrame();
    return BeginFrame();
  }
  ring.Publish();
  NoteFramePut(words);
  BeginFrame();
}

// ==== The file ================================================================================

void Flush() noexcept {
  if (writer.outLength == 0) return;
  if (platform::WriteToFile(outBuffer, writer.outLength)) writer.fileBytes += writer.outLength;
  writer.outLength = 0;
}

void Append(std::string_view text) noexcept {
  if (writer.outLength + text.size() > kOutBytes) Flush();
  if (text.size() > kOutBytes) {
    if (platform::WriteToFile(text.data(), text.size())) writer.fileBytes += text.size();
    return;
  }
  std::memcpy(outBuffer + writer.outLength, text.data(), text.size());
  writer.outLength += text.size();
}

// Lines to the file, up to the cap: the line that would pass it (with room
// for the capped line) is replaced by the capped line, and nothing follows.
class FileSink final : public LineSink {
 public:
  bool Line(std::string_view line) noexcept override {
    if (writer.capped) return false;
    if (writer.fileBytes + writer.outLength + line.size() + kCappedLineReserve >
        writer.maxFileBytes) {
      LineText capped(cappedBuffer, sizeof cappedBuffer);
      FormatCapped(writer.format, writer.maxFileBytes, capped);
      Append(capped.View());
      Flush();
      writer.capped = true;
      fibre.active.store(false, std::memory_order_relaxed);
      return false;
    }
    Append(line);
    return true;
  }
};

void SaveCheckpoint() noexcept {
  writer.checkpoint.fileBytes = writer.fileBytes;
  writer.checkpoint.readPosition = writer.readPosition;
  writer.checkpoint.format = writer.format;
  writer.checkpoint.capped = writer.capped;
}

bool OpenFileWithHeader() noexcept {
  if (!platform::OpenRecordingFile()) {
    writer.fileFailed = true;
    fibre.active.store(false, std::memory_order_relaxed);
    return false;
  }
  writer.fileOpen = true;
  writer.format.frameBase = frames.frameBase;
  HeaderFields fields;
  fields.platform = platform::PlatformName();
  fields.hostFile = writer.hostFiles.hostFile;
  fields.hostVersion = writer.hostFiles.hostVersion;
  fields.gameFile = writer.hostFiles.gameFile;
  fields.gameVersion = writer.hostFiles.gameVersion;
  fields.frameBaseKnown = frames.haveFrameBase;
  fields.frameBase = frames.frameBase;
  LineText line(lineBuffer, sizeof lineBuffer);
  FormatHeader(fields, line);
  FileSink sink;
  sink.Line(line.View());
  Flush();
  SaveCheckpoint();
  return true;
}

// Formats and writes the committed chunks, up to `budget` bytes of ring,
// then gives their room back to the fibre. True when more are waiting.
bool WriteCommitted(std::size_t budget) noexcept {
  const std::uint64_t head = ring.WritePosition();
  std::uint64_t at = writer.readPosition;
  std::size_t taken = 0;
  LineText line(lineBuffer, sizeof lineBuffer);
  FileSink sink;
  while (taken < budget) {
    const std::uint8_t* chunk = ring.ChunkAt(at, head);
    if (chunk == nullptr) break;
    ChunkHead chunkHead;
    std::memcpy(&chunkHead, chunk, sizeof chunkHead);
    if (!writer.capped) FormatChunk(chunk, writer.format, line, sink);
    at += chunkHead.bytes;
    taken += chunkHead.bytes;
  }
  Flush();
  writer.readPosition = at;
  SaveCheckpoint();
  ring.Release(at);
  return at != ring.WritePosition();
}

// ==== The writer thread ======================================================================

bool TakeWriterTurn() noexcept {
  int expected = kFree;
  return writer.turn.compare_exchange_strong(expected, kWriterTurn, std::memory_order_acq_rel);
}

void ReleaseWriterTurn() noexcept { writer.turn.store(kFree, std::memory_order_release); }

// Polls the ring: no signal from the fibre, which would be a system call on
// every frame. A crash of the game loses at most one poll's lines.
void WriterMain() {
  // Outside the turn: on Windows this asks the loader, whose lock an
  // unloading DllMain holds while it waits for the turn.
  platform::ReadHostFiles(writer.hostFiles);
  if (!TakeWriterTurn()) return;
  const bool open = OpenFileWithHeader();
  ReleaseWriterTurn();
  if (!open) return;
  for (;;) {
    if (writer.stop.load(std::memory_order_acquire)) return;
    if (!TakeWriterTurn()) return;
    const bool more = WriteCommitted(kRingBytesPerTurn);
    const bool capped = writer.capped;
    ReleaseWriterTurn();
    if (capped) return;
    if (!more) platform::SleepMs(kPollMs);
  }
}

// Takes the file from the writer for good and ends the writer thread. On
// an unload the writer finishes the batch it is writing first (it holds no
// lock of the system's meanwhile); at the process's exit it is gone already,
// perhaps in the middle of a batch, which is then written again from its
// start.
void StopWriter() noexcept {
  writer.stop.store(true, std::memory_order_release);
  if (!writer.started) return;
  bool midBatch = false;
  if (frames.processExit) {
    midBatch = writer.turn.exchange(kDetachTurn, std::memory_order_acq_rel) == kWriterTurn;
  } else {
    for (unsigned waited = 0;; ++waited) {
      int expected = kFree;
      if (writer.turn.compare_exchange_strong(expected, kDetachTurn, std::memory_order_acq_rel))
        break;
      if (waited >= kTurnWaitMs) {
        midBatch = writer.turn.exchange(kDetachTurn, std::memory_order_acq_rel) == kWriterTurn;
        break;
      }
      platform::SleepMs(1);
    }
  }
  platform::EndWriterThread(frames.processExit);
  writer.started = false;
  if (midBatch && writer.fileOpen) {
    platform::TruncateFile(writer.checkpoint.fileBytes);
    writer.fileBytes = writer.checkpoint.fileBytes;
    writer.outLength = 0;
    writer.readPosition = writer.checkpoint.readPosition;
    writer.format = writer.checkpoint.format;
    writer.capped = writer.checkpoint.capped;
  }
}

// At detach, on the detaching thread holding the file: the committed
// chunks, the stretch and the drops not yet written, then the frame in
// progress with the detach lines.
void WriteEverythingHeld() noexcept {
  if (writer.fileFailed) return;
  if (!writer.fileOpen) {
    platform::ReadHostFiles(writer.hostFiles);
    if (!OpenFileWithHeader()) return;
  }
  while (WriteCommitted(kRingBytesPerTurn)) {
  }
  LineText line(lineBuffer, sizeof lineBuffer);
  FileSink sink;
  if (frames.repeats != 0) {
    alignas(8) std::uint8_t chunk[kRepeatChunkBytes];
    PutRepeatChunk(chunk);
    FormatChunk(chunk, writer.format, line, sink);
  }
  if (frames.drops != 0) {
    alignas(8) std::uint8_t chunk[sizeof(ChunkHead) + sizeof(DroppedBody)];
    // Before the frame in progress, else at the last frame dropped.
    const bool known = frames.frameKnown || frames.dropKnown;
    const ChunkHead head = HeadOf(kDroppedChunk, sizeof chunk, known,
                                  frames.frameKnown ? frames.frame : frames.dropFrame,
                                  frames.frameKnown ? frames.time : frames.dropTime);
    DroppedBody dropped;
    dropped.frames = frames.drops;
    std::memcpy(chunk, &head, sizeof head);
    std::memcpy(chunk + sizeof head, &dropped, sizeof dropped);
    FormatChunk(chunk, writer.format, line, sink);
  }
  Staging& s = staging[frames.current];
  const std::size_t words = static_cast<std::size_t>(fibre.cursor - s.Body());
  const ChunkHead head = HeadOf(kFrameChunk, (kHeadWords + words) * sizeof(Word), frames.frameKnown,
                                frames.frame, frames.time);
  std::memcpy(s.words, &head, sizeof head);
  FormatChunk(reinterpret_cast<const std::uint8_t*>(s.words), writer.format, line, sink);
  Flush();
}

void ResetState() noexcept {
  fibre.active.store(false, std::memory_order_relaxed);
  fibre.cursor = nullptr;
  fibre.end = nullptr;
  fibre.overflowed = false;
  keyQueue.Reset();
  const bool threadless = frames.threadless;
  frames = FrameState{};
  frames.threadless = threadless;
  writer.turn.store(kFree, std::memory_order_relaxed);
  writer.stop.store(false, std::memory_order_relaxed);
  writer.started = false;
  writer.fileOpen = false;
  writer.fileFailed = false;
  writer.capped = false;
  writer.maxFileBytes = kDefaultMaxFileBytes;
  writer.fileBytes = 0;
  writer.outLength = 0;
  writer.readPosition = 0;
  writer.format = FormatState{};
  writer.checkpoint = Checkpoint{};
}

}  // namespace

// ==== Hooks ===================================================================================

void TakeKeys() noexcept {
  KeyMessage message;
  while (keyQueue.Pop(message)) PutKey(message);
}

void OnProcessAttach(ModuleHandle module) noexcept {
  if (frames.attached) return;
  ResetState();
  const platform::Settings settings = platform::ReadSettings(module);
  const std::size_t ringBytes = settings.ringBytes == 0
                                    ? kMaxRingBytes
                                    : std::clamp(settings.ringBytes, kMinRingBytes, kMaxRingBytes);
  ring.Reset(ringStorage, ringBytes);
  writer.maxFileBytes = settings.maxFileBytes == 0 ? kDefaultMaxFileBytes
                                                   : std::max(settings.maxFileBytes, kMinFileBytes);
  frames.attached = true;
  BeginFrame();
  PutHost(kAttach);
  PutHost(kScriptRegister);
  PutHost(kKeyboardHandlerRegister);
  CommitFrame();
  fibre.active.store(true, std::memory_order_relaxed);
}

void SetDetachIsProcessExit(bool processExit) noexcept { frames.processExit = processExit; }

void OnProcessDetach() noexcept {
  if (!frames.attached) return;
  fibre.active.store(false, std::memory_order_relaxed);
  StopWriter();
  if (fibre.overflowed || fibre.cursor > fibre.end) {
    // The frame in progress did not fit: it is lost, and counted.
    DropFrame();
    BeginFrame();
  }
  if (!writer.capped) {
    TakeKeys();
    ReportDroppedKeys();
    PutHost(kDetach);
    PutHost(kScriptUnregister);
    PutHost(kKeyboardHandlerUnregister);
    WriteEverythingHeld();
  }
  if (writer.fileOpen) platform::CloseFile();
  writer.fileOpen = false;
  frames.attached = false;
}

void OnScriptStart() noexcept {
  if (!fibre.active.load(std::memory_order_relaxed)) return;
  PutHost(kScriptStart);
  AskFrameAndTime();
  if (!writer.started && !frames.threadless) {
    // The first frame: the game is running, and the loader's lock is not
    // held, as it is in the library entry.
    writer.started = platform::StartWriterThread(&WriterMain);
  }
}

void OnKeyboardMessage(std::uint32_t key, std::uint16_t repeats, std::uint8_t scanCode,
                       std::int32_t isExtended, std::int32_t isWithAlt, std::int32_t wasDownBefore,
                       std::int32_t isUpNow) noexcept {
  if (!fibre.active.load(std::memory_order_relaxed)) return;
  KeyMessage message;
  message.key = key;
  message.repeats = repeats;
  message.scanCode = scanCode;
  message.extended = isExtended;
  message.alt = isWithAlt;
  message.wasDownBefore = wasDownBefore;
  message.isUp = isUpNow;
  keyQueue.Push(message);
}

void OnRandomDraw(std::uint32_t value) noexcept {
  if (!fibre.active.load(std::memory_order_relaxed)) return;
  PutHost(kRandomDraw, value);
}

namespace {

// Each wait the script makes: the frame ends with it and is committed; when
// the host returns, the next frame begins with the recorder's own calls.
void EndFrame(std::uint32_t ms) noexcept {
  ReportDroppedKeys();
  PutHost(kScriptWait, ms);
  CommitFrame();
}

}  // namespace

// ==== Tests ==================================================================================

namespace testing_seam {

void ResetRecorderForTesting() noexcept {
  if (writer.started) {
    frames.processExit = false;
    StopWriter();
  }
  if (writer.fileOpen) platform::CloseFile();
  frames.threadless = true;
  ResetState();
}

void TakeCommittedLinesForTesting(std::string& lines) {
  class StringSink final : public LineSink {
   public:
    explicit StringSink(std::string& out) : out_(out) {}
    bool Line(std::string_view line) noexcept override {
      out_.append(line);
      return true;
    }

   private:
    std::string& out_;
  };
  StringSink sink(lines);
  LineText line(lineBuffer, sizeof lineBuffer);
  writer.format.frameBase = frames.frameBase;
  const std::uint64_t head = ring.WritePosition();
  std::uint64_t at = writer.readPosition;
  while (const std::uint8_t* chunk = ring.ChunkAt(at, head)) {
    ChunkHead chunkHead;
    std::memcpy(&chunkHead, chunk, sizeof chunkHead);
    FormatChunk(chunk, writer.format, line, sink);
    at += chunkHead.bytes;
  }
  writer.readPosition = at;
  ring.Release(at);
}

void RunWriterOnceForTesting() noexcept {
  if (!writer.fileOpen) {
    platform::ReadHostFiles(writer.hostFiles);
    if (!OpenFileWithHeader()) return;
  }
  while (WriteCommitted(kRingBytesPerTurn)) {
  }
}

std::int64_t PendingRepeatsForTesting() noexcept { return frames.repeats; }
std::uint64_t PendingDropsForTesting() noexcept { return frames.drops; }

}  // namespace testing_seam

}  // namespace rebound::recorder

namespace rebound {

void scriptWait(std::uint32_t ms) noexcept {
  if (!recorder::fibre.active.load(std::memory_order_relaxed)) return ::scriptWait(ms);
  recorder::EndFrame(ms);
  ::scriptWait(ms);
  if (!recorder::fibre.active.load(std::memory_order_relaxed)) return;
  recorder::AskFrameAndTime();
}

}  // namespace rebound
