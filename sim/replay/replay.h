// Replays a recording (or a seeded simulator trace) against a build of the
// plug-in: the module is loaded as the host loads it, its script runs on a
// fibre, and every call it makes is checked against the next one recorded and
// answered with the recorded result. The recording is the truth: whatever the
// game answered, replay answers the same, however unlike our world model it
// is. Used by `rebound-sim replay`.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "sim/host/alternate_host.h"
#include "sim/host/host_life_cycle.h"
#include "sim/host/slot_protocol.h"
#include "sim/recording/trace_reader.h"
#include "sim/replay/model_differences.h"

namespace sim {

struct ReplayOptions {
  std::size_t stackSize = 1 << 20;  // the script fibre's stack
  // Whether the recording holds the plug-in's random draws (randomDraw
  // lines). A simulator trace without them is replayed from its seed line's
  // sequence (SeedOfRun), the places of the draws unchecked.
  bool recordedDraws = true;
};

// The first place where the plug-in did not make the recorded call.
struct ReplayDifference {
  std::int64_t frame = 0;
  std::uint64_t call = 0;           // the call's index among the plug-in's calls, from 0
  std::int64_t line = 0;            // the recording's line of the expected call (0: none)
  std::string expected;             // the recorded line as trace JSON, or what was due
  std::string actual;               // the plug-in's call as trace JSON, or what it did
  std::vector<std::string> before;  // the calls before it that matched, oldest first
  std::string hint;                 // why it likely differs, when that can be told
};

struct ReplayResult {
  enum class Outcome {
    Same,        // every call as recorded (up to a note's end, if any)
    Differs,     // see difference
    Unreadable,  // the recording cannot be read: see error
    CannotLoad,  // the plug-in cannot be loaded or given the draws: see error
  };
  Outcome outcome = Outcome::Same;
  std::string error;
  std::optional<ReplayDifference> difference;
  // Why the check ended before the recording's end: a dropped or capped line,
  // or a recording that ends inside a frame. Empty when it went to the end.
  std::string endNote;
  std::uint64_t callsChecked = 0;  // the plug-in's calls that matched
  std::uint64_t nativeCalls = 0;   // ... of them native calls
  std::int64_t frames = 0;         // the frames the check went through
  std::uint64_t droppedKeys = 0;   // keyboard messages the recorder had no room for
  std::vector<ModelDifferenceReport> modelDifferences;
};

class Replay final : public AlternateHost {
 public:
  // Reads from `reader`, which must outlive the replay.
  explicit Replay(TraceReader& reader, ReplayOptions options = {});
  ~Replay() override;
  Replay(const Replay&) = delete;
  Replay& operator=(const Replay&) = delete;

  // Replays the whole recording against the module at `pluginPath`. One
  // replay at a time, and never while a Simulation is active.
  ReplayResult Run(const std::string& pluginPath);

  // The host functions, each of REBOUND_HOST_FUNCTIONS (host_functions.h) by
  // its Member name, reached through the host exports.
#define REBOUND_REPLAY_HOST_FUNCTION(name, Member, decorated, Return, Params, Args) \
  Return Member Params override;
  REBOUND_HOST_FUNCTIONS(REBOUND_REPLAY_HOST_FUNCTION)
#undef REBOUND_REPLAY_HOST_FUNCTION

 private:
  // What a recorded line asks of replay.
  enum class LineKind {
    Call,         // a call the plug-in makes: checked
    Skipped,      // the recorder's own calls, the seed, dropped keys: read past
    Attach,       // the host loads the plug-in
    Detach,       // ... unloads it
    ScriptStart,  // ... starts the script entry (again)
    Keyboard,     // ... delivers a keyboard message
    End,          // a dropped or capped line: the check ends
  };
  static LineKind Classify(const TraceEntry& entry);

  // The next line in next_; false at the end of the recording.
  bool Peek();
  // The line in next_ is done with: into the history when it was a call.
  void Consume(bool call);
  // Reads up to the next line the plug-in must make, delivering keyboard
  // messages and reading past the skipped lines on the way. Null when the
  // check stopped first (a difference, an end), after stopping.
  const TraceEntry* ExpectCall(const char* host, std::uint64_t hash);
  void SkipLine(const TraceEntry& entry);

  // The host's side, in the main loop.
  void Load(const std::string& pluginPath);
  void StartScript();
  void ResumeScript();
  void DropScript();
  void Unload(bool checked);
  void DeliverKeyboard(const TraceEntry& entry);

  // A plug-in's host call that the recording has: consumed and counted;
  // false (after stopping) when it differs.
  // `value`: the call's one value (scriptWait's ms), compared too.
  bool MatchHostCall(const char* host, std::optional<std::int64_t> value);
  bool MatchNative(const TraceEntry& expected);
  void Answer(const TraceEntry& expected);
  const char* StableText(const std::string& text);
  static std::uint32_t RecordedDraw();
  std::uint32_t Draw();

  // Stops the check; on the script fibre it does not return (the fibre is
  // never resumed, as the simulator stops at a fault).
  void Differ(std::string actual);
  void DifferAtEnd(std::string expected, std::string actual);
  void End(std::string note);
  void Stop();
  std::string ActualHostLine(const char* host, std::optional<std::int64_t> value) const;
  static std::string ReadableHash(std::uint64_t hash);
  std::string ActualNativeLine() const;

  TraceReader& reader_;
  RepeatExpander lines_;
  ReplayOptions options_;
  ReplayResult result_;
  ModelDifferences model_;

  std::unique_ptr<TraceEntry> next_;  // the line read ahead
  bool hasNext_ = false;
  bool atEnd_ = false;
  bool stopped_ = false;
  bool checking_ = true;  // off while the module is unloaded after the check ended
  // The lines read past just before the expected call were the recorder's
  // own: a recording build under test makes the same calls there.
  bool afterRecorderCalls_ = false;
  std::string hint_;  // for the difference about to be made

  // The last calls that matched, for the difference's context.
  static constexpr std::size_t kContext = 10;
  std::array<std::unique_ptr<TraceEntry>, kContext> history_;
  std::size_t historyNext_ = 0;
  std::size_t historySize_ = 0;
  std::int64_t lastFrame_ = -1;
  std::int32_t lastTime_ = 0;

  // The plug-in, what it registered, its script and the keyboard thread.
  HostLifeCycle lifeCycle_{options_.stackSize};
  bool scriptWaiting_ = false;  // the script's fibre is suspended in scriptWait

  NativeCallSlots call_;
  std::unordered_set<std::string> texts_;  // text answers, at stable addresses

  // Random draws: recorded, or from the trace's seed.
  std::optional<std::uint64_t> seed_;
  std::uint64_t seedsDrawn_ = 0;
};

}  // namespace sim
