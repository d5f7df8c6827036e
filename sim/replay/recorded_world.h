// A recording run through the simulated game's world without the plug-in:
// each frame's clock set as the simulator sets it, the scenario's events
// applied at the frame's start, and every native call the plug-in made put to
// the world's handler with a call frame built from the recorded arguments, so
// that the world draws, fades, loads and searches as it did for the plug-in.
// The world's answer is compared with the recorded one. scenario-from fits a
// scenario with it (sim/replay/scenario_fit.h); the report of a recording
// watches it as it would watch a live run.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/game/world.h"
#include "sim/host/run_options.h"
#include "sim/host/run_watcher.h"
#include "sim/host/scenario.h"
#include "sim/observe/flow_observer.h"
#include "sim/recording/recording_frames.h"
#include "sim/recording/recording_outline.h"

namespace sim {

// What the world answered a call, in the trace's terms.
struct WorldAnswer {
  std::optional<TraceValue> result;
  std::vector<TraceValue> outs;
  std::string refusal;  // why the simulated game or host would stop a run here; empty if not
};

// How a recorded answer and the world's differ, in a sentence (empty when they
// agree): `key` names the kind of difference, to count repeats as one.
struct AnswerDifference {
  std::string key;
  std::string detail;
  bool Empty() const { return detail.empty(); }
};
AnswerDifference CompareAnswer(const TraceEntry& recorded, const WorldAnswer& answer);
// A value as the trace writes it.
std::string TraceValueText(const TraceValue& value);
bool SameTraceValue(const TraceValue& a, const TraceValue& b);

// The world and what goes with it from frame to frame; a plain value, so that
// scenario-from can keep a frame's start and try the frame again.
struct RecordedWorld {
  World world;
  std::int32_t fps = 60;
  std::int64_t startGameTime = 0;
  std::int32_t startFrameCount = 0;
  std::int64_t previousFixedMs = 0;
  // The game gives out movie handles of its own: the recorded one stands for
  // the world's from the request on.
  std::map<std::int32_t, std::int32_t> movieHandles;
  std::int32_t lastMovieHandle = 0;  // the recorded handle the plug-in was given last

  // The world configured from the scenario's settings, its clock before the
  // first frame.
  explicit RecordedWorld(const Scenario& scenario);
  // The frame's clock, as Simulation::StepFrame sets it.
  void StartFrame(std::int64_t frame);
  // A scenario event due at the frame's start.
  void Apply(const ScheduledEvent& event);
};

// Puts recorded calls to a world. Holds the texts the calls hand the world
// for as long as the world may read them (a display-text command keeps its
// components' addresses until it is closed), and the game's refusals.
class CallReplayer {
 public:
  CallReplayer() = default;
  CallReplayer(const CallReplayer&) = delete;
  CallReplayer& operator=(const CallReplayer&) = delete;

  // Routes the world's game faults here; call once per world (and again for
  // a copy, which keeps the route).
  void Attach(World& world);
  // The call `recorded` (a native line) put to the world's handler.
  WorldAnswer Call(RecordedWorld& state, const TraceEntry& recorded);
  // The frame's end: texts no open command needs are let go.
  void EndFrame(const World& world);

 private:
  std::deque<std::string> texts_;
  std::string fault_;
};

// The whole recording run through a world set up by a scenario (the one
// scenario-from fits), watched as a live run is: the flow observer follows
// the recorded calls and answers, the watcher is told of every call, host
// event and frame's end. Where the world's answer differs from the recorded
// one, the recorded answer is what the flow sees; the difference is listed.
class RecordedRun {
 public:
  RecordedRun(Scenario scenario, bool keepDrawings);
  RecordedRun(const RecordedRun&) = delete;
  RecordedRun& operator=(const RecordedRun&) = delete;

  void SetWatcher(RunWatcher* watcher) { watcher_ = watcher; }
  // Runs the recording's frames, and the scenario's silent frames after them.
  void Run(RecordingFrames& frames);

  World& GetWorld() { return state_.world; }
  const World& GetWorld() const { return state_.world; }
  const FlowObserver& Flow() const { return flow_; }
  // The flow's deaths with the search results the recording shows: the
  // points the plug-in read (a recording knows no others), the count the
  // game answered.
  std::vector<DeathRecord> DeathsAsRecorded() const;
  const Scenario& GetScenario() const { return scenario_; }
  // The recorded answers the world did not give, by native and first frame.
  const UnexpressedList& Differences() const { return differences_; }
  RunSummary Summary() const;
  bool PluginLoaded() const { return attached_; }

 private:
  void RunFrame(std::int64_t frame, const std::vector<TraceEntry>& lines);
  void HostLine(const TraceEntry& line);
  void NoteSearchResult(const TraceEntry& line);
  RunView View() { return RunView{state_.world, flow_, callsInLastFrame_}; }

  Scenario scenario_;
  RecordedWorld state_;
  CallReplayer replayer_;
  FlowObserver flow_;
  RunWatcher* watcher_ = nullptr;
  UnexpressedList differences_;
  std::size_t nextEvent_ = 0;
  std::int64_t framesRun_ = 0;
  std::uint64_t nativeCalls_ = 0;
  std::uint64_t maxCallsInFrame_ = 0;
  std::uint32_t callsInLastFrame_ = 0;
  std::int32_t scriptStarts_ = 0;
  std::map<std::uint64_t, std::vector<std::array<double, 3>>> readResults_;  // by death, from 0
  bool attached_ = false;
  bool ended_ = false;  // the host unloaded the plug-in
};

}  // namespace sim
