// Reads a recording of the plug-in (a field recording, or a simulator trace,
// which is one without a header) back into TraceEntry values, line by line:
// an hour's recording runs to hundreds of megabytes, so nothing but the line
// under way and the few lines still waiting for their frame is held. Used by
// replay, the report of a recording and scenario-from.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/observe/trace.h"

namespace sim {

// The recording format's version this simulator reads; a recording of a
// larger one is refused, one without a header reads as version 0.
inline constexpr std::int64_t kRecordingFormatVersion = 1;

// The header line of a recording. A simulator trace has none: version 0 and
// every other field empty.
struct RecordingHeader {
  std::int64_t version = 0;
  std::string rebound;                  // the plug-in's version
  std::string build;                    // "recorder", ...
  std::string platform;                 // "windows" or "linux"
  std::optional<std::string> hostFile;  // null where the recorder could not read them
  std::optional<std::string> hostVersion;
  std::optional<std::string> gameFile;
  std::optional<std::string> gameVersion;
  std::optional<std::int64_t> frameBase;  // the game's frame count in the script's frame 0
};

// What a reader lets a file stand for, so that what its users hold and do
// (a frame's clock, the frames a report steps through) grows with the file,
// never with a number written in it. A line's frame may lie at most
// `freeFrames` plus `framesPerByte` for each byte read so far past frame 0:
// a long idle stretch is one line of a few dozen bytes.
struct ReadLimits {
  std::int64_t freeFrames = std::int64_t{1} << 20;  // about 4.8 hours at 60 fps
  std::int64_t framesPerByte = 16;
};

// The highest frame a line may name: the game's frame counter is 32 bits.
inline constexpr std::int64_t kMaxRecordedFrame = 4294967295;

// Where a recording is cut inside its last line (a crash or a full disk
// leaves it so): the line's number and the byte it starts at, from 0.
struct CutLine {
  std::int64_t line = 0;
  std::uint64_t offset = 0;
  std::uint64_t bytes = 0;  // of the cut line
};

// A recording that cannot be read. what() names the file, the line and the
// field: `run.jsonl:12: field "args"[2]: expected a number, got "x"`.
class RecordingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One recording, read forward. The header is read when the reader is made;
// Next hands out the lines after it, each with its frame and time filled in
// where the line had none (from the nearest following line that has them, or
// at the end from the last that had). Native lines take their signature from
// the catalogue by hash; host lines keep their named values in args, in the
// order HostValueNames gives. `repeat` lines come out as they are: see
// RepeatExpander. Every method that reads throws RecordingError.
class TraceReader {
 public:
  // Opens and reads the header of the file at `path`. An empty file is
  // refused.
  static std::unique_ptr<TraceReader> Open(const std::string& path, ReadLimits limits = {});
  // Reads `text` as the file `name` (the name only labels messages).
  static std::unique_ptr<TraceReader> FromText(std::string text, std::string name,
                                               ReadLimits limits = {});
  ~TraceReader();
  TraceReader(const TraceReader&) = delete;
  TraceReader& operator=(const TraceReader&) = delete;

  const RecordingHeader& Header() const { return header_; }
  const std::string& Name() const { return name_; }
  // The next line into `entry` (whose lists keep their room, so a reader that
  // passes the same entry each time allocates little); false at the end.
  bool Next(TraceEntry& entry);
  // The line number (from 1) of the entry Next gave last.
  std::int64_t Line() const { return line_; }

  // "file:line: " + what, as a RecordingError.
  [[noreturn]] void Fail(std::int64_t line, const std::string& what) const;

  // The last line, cut short: everything before it was read, it was not.
  // Known once Next has returned false.
  const std::optional<CutLine>& Cut() const { return cut_; }
  // The cut in a sentence naming file, line and byte; empty when not cut.
  std::string CutNote() const;
  // The line of a run's closing fault line, which ends the trace (0: none).
  std::int64_t FaultLine() const { return faultLine_; }
  // A simulator trace of an unseeded run (--os-random): no header and no
  // seed line first. Whether its draws were traced is for the caller to see.
  bool Unseeded() const { return unseeded_; }

  struct Source;  // where the bytes come from: a file, or text

 private:
  TraceReader(std::unique_ptr<Source> source, std::string name, ReadLimits limits);
  void ReadHeader();
  // Refuses a frame that goes back, or beyond what the file read so far can
  // stand for.
  void CheckFrame(std::int64_t frame);
  // A line that says how a run stopped, `"type":"fault"`: the trace's end.
  bool IsFaultLine() const;
  void EndAtFaultLine();
  // The next line of the file into `line_text_`; false at the end.
  bool ReadLine();
  // Parses `lineText_` into `entry`: whether it gave a frame and a time.
  struct Given {
    bool frame = false;
    bool time = false;
  };
  // Nothing for a run's closing fault line.
  std::optional<Given> ParseBody(TraceEntry& entry);
  // A line that gives a frame or a time hands it to the lines waiting for it.
  void PassToWaiting(const TraceEntry& target, Given given);
  // No line left: the lines still waiting, or the end of the reading.
  bool AtTheEnd(TraceEntry& entry);

  std::unique_ptr<Source> source_;
  std::string name_;
  RecordingHeader header_;
  std::string lineText_;
  std::string keyScratch_;  // a line's keys and names as they are read, room kept
  std::string nameScratch_;
  std::int64_t lineNumber_ = 0;     // of lineText_
  std::int64_t line_ = 0;           // of the entry handed out last
  bool headerLinePending_ = false;  // the first line was a body line: handed out first
  bool unseeded_ = false;           // ... and it was read, and not a seed line
  ReadLimits limits_;
  std::uint64_t bytesRead_ = 0;  // up to the end of lineText_
  std::uint64_t lineStart_ = 0;  // lineText_'s first byte
  std::int64_t bodyLines_ = 0;   // lines read after the header
  std::optional<std::int64_t> lastGivenFrame_;
  std::optional<CutLine> cut_;
  std::int64_t faultLine_ = 0;

  // Lines that still wait for a following line with a frame and a time.
  struct Waiting {
    TraceEntry entry;
    std::int64_t line = 0;
    Given given;
  };
  std::vector<Waiting> waiting_;
  std::size_t waitingReady_ = 0;  // how many of waiting_ have their frame: all or none
  std::size_t waitingNext_ = 0;   // the next of them to hand out
  std::optional<std::int64_t> lastFrame_;
  std::optional<std::int32_t> lastTime_;
};

// Every line of a recording at once, for tests and small files.
struct Recording {
  RecordingHeader header;
  std::vector<TraceEntry> entries;
};
Recording ReadRecordingText(std::string text, std::string name, ReadLimits limits = {});

// Expands `repeat` lines on the fly: a repeat of K frames comes out as the K
// frames it stands for, each a copy of the frame written before it (from the
// line after that frame's previous scriptWait up to its scriptWait), with
// frame F1+i and a time interpolated from F1's to F's (rounded down); the
// recorder's own frame count and game timer answers advance with them. Only
// that one frame is kept, never the stretch.
class RepeatExpander {
 public:
  explicit RepeatExpander(TraceReader& reader) : reader_(reader) {}
  bool Next(TraceEntry& entry);
  // The line the entry given last came from (a repeated line: the repeat's).
  std::int64_t Line() const { return line_; }

 private:
  void StartRepeat(const TraceEntry& repeat);
  static std::int64_t Interpolated(std::int64_t span, std::int64_t index, std::int64_t steps);
  void Remember(const TraceEntry& entry);

  TraceReader& reader_;
  std::vector<TraceEntry> frame_;  // the last frame's lines, room kept
  std::size_t frameSize_ = 0;
  bool frameClosed_ = false;  // the next line starts a new frame
  // The repeat under way.
  std::int64_t repeatLine_ = 0;
  std::int64_t left_ = 0;  // frames still to give
  std::int64_t frames_ = 0;
  std::int64_t index_ = 0;    // of the frame being given
  std::size_t position_ = 0;  // in frame_
  std::int64_t firstFrame_ = 0;
  std::int64_t firstTime_ = 0;
  std::int64_t lastTime_ = 0;
  std::int64_t line_ = 0;
};

}  // namespace sim
