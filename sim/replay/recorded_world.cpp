#include "sim/replay/recorded_world.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "sim/base/number_format.h"
#include "sim/host/call_decoding.h"
#include "sim/host/native_dispatch.h"

namespace sim {

namespace {

// The natives whose first argument is a movie handle the game gave out.
bool TakesMovieHandle(std::string_view native) {
  return native == "HAS_SCALEFORM_MOVIE_LOADED" || native == "BEGIN_SCALEFORM_MOVIE_METHOD" ||
         native == "DRAW_SCALEFORM_MOVIE_FULLSCREEN";
}

bool SameFloat(double a, double b) {
  const auto x = static_cast<float>(a);
  const auto y = static_cast<float>(b);
  return x == y || (std::isnan(x) && std::isnan(y));
}

}  // namespace

std::string TraceValueText(const TraceValue& value) {
  switch (value.kind) {
    case TraceValue::Kind::Int:
      return std::to_string(value.integer);
    case TraceValue::Kind::Bool:
      return value.integer != 0 ? "true" : "false";
    case TraceValue::Kind::Float:
      return std::isnan(value.number)   ? "NaN"
             : std::isinf(value.number) ? (value.number > 0 ? "Infinity" : "-Infinity")
                                        : FloatDigits(value.number);
    case TraceValue::Kind::Text:
      return "\"" + value.text + "\"";
    case TraceValue::Kind::Null:
      return "null";
    case TraceValue::Kind::Out:
      return "out";
    case TraceValue::Kind::Vector: {
      TraceValue x = TraceValue::Float(static_cast<float>(value.vector[0]));
      TraceValue y = TraceValue::Float(static_cast<float>(value.vector[1]));
      TraceValue z = TraceValue::Float(static_cast<float>(value.vector[2]));
      return "[" + TraceValueText(x) + ", " + TraceValueText(y) + ", " + TraceValueText(z) + "]";
    }
  }
  return "?";
}

bool SameTraceValue(const TraceValue& a, const TraceValue& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case TraceValue::Kind::Int:
    case TraceValue::Kind::Bool:
      return a.integer == b.integer;
    case TraceValue::Kind::Float:
      return SameFloat(a.number, b.number);
    case TraceValue::Kind::Text:
      return a.text == b.text;
    case TraceValue::Kind::Null:
    case TraceValue::Kind::Out:
      return true;
    case TraceValue::Kind::Vector:
      return SameFloat(a.vector[0], b.vector[0]) && SameFloat(a.vector[1], b.vector[1]) &&
             SameFloat(a.vector[2], b.vector[2]);
  }
  return false;
}

AnswerDifference CompareAnswer(const TraceEntry& recorded, const WorldAnswer& answer) {
  if (!answer.refusal.empty()) {
    return {"refused", "the simulated game refuses the call: " + answer.refusal};
  }
  if (recorded.result && answer.result && !SameTraceValue(*recorded.result, *answer.result)) {
    return {"result", "the game answered " + TraceValueText(*recorded.result) +
                          ", the simulated game answers " + TraceValueText(*answer.result)};
  }
  for (std::size_t i = 0; i < recorded.outs.size() && i < answer.outs.size(); ++i) {
    if (!SameTraceValue(recorded.outs[i], answer.outs[i])) {
      return {"out " + std::to_string(i), "the game wrote " + TraceValueText(recorded.outs[i]) +
                                              " through out-variable " + std::to_string(i + 1) +
                                              ", the simulated game writes " +
                                              TraceValueText(answer.outs[i])};
    }
  }
  return {};
}

// ---- The world and its clock ------------------------------------------------------

RecordedWorld::RecordedWorld(const Scenario& scenario)
    : fps(scenario.fps),
      startGameTime(scenario.startGameTime),
      startFrameCount(scenario.startFrameCount) {
  world.Configure(ScenarioNode::Root(scenario.document));
  world.clock.frame = -1;  // load time, before the first frame
  world.clock.nowMs = scenario.startGameTime;
  world.clock.gameTimer =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(scenario.startGameTime));
}

void RecordedWorld::StartFrame(std::int64_t frame) {
  // As Simulation::StepFrame: the fixed step from the start, and what the
  // hitches so far added to it.
  Clock& clock = world.clock;
  clock.frame = frame;
  const std::int64_t fixedMs = (frame * 1000) / fps;
  clock.stepMs = fixedMs - previousFixedMs;
  previousFixedMs = fixedMs;
  clock.nowMs = startGameTime + fixedMs + clock.hitchesMs;
  clock.gameTimer = static_cast<std::int32_t>(static_cast<std::uint32_t>(clock.nowMs));
  clock.frameCount = static_cast<std::int32_t>(static_cast<std::uint32_t>(startFrameCount) +
                                               static_cast<std::uint32_t>(frame));
}

void RecordedWorld::Apply(const ScheduledEvent& event) {
  // Keyboard messages reach the plug-in, not the world: the recording has
  // them where they arrived.
  if (event.kind == EventKind::Keyboard) return;
  world.Note("event", event.description);
  if (event.kind == EventKind::World) event.apply(world);
}

// ---- Calls ----------------------------------------------------------------------

void CallReplayer::Attach(World& world) {
  world.SetGameFaultSink([this](const std::string& message) {
    if (fault_.empty()) fault_ = message;
  });
}

namespace {

// The slots a call hands the world's handler, and the variables its out and
// in-out arguments point at; they live for the call.
struct CallSlots {
  std::uint64_t slots[kMaxArgs] = {};
  std::uint64_t result[kResultSlots] = {};
  std::int32_t scalars[kMaxArgs] = {};
  GameVector vectors[kMaxArgs] = {};
};

// An integer argument; a movie handle the game gave is put as the handle the
// world gave for the same request.
std::uint64_t IntSlot(const RecordedWorld& state, const NativeSignature& sig, std::size_t i,
                      const TraceValue& v) {
  auto value = static_cast<std::int32_t>(v.integer);
  if (i == 0 && TakesMovieHandle(sig.name)) {
    const auto mapped = state.movieHandles.find(value);
    if (mapped != state.movieHandles.end()) value = mapped->second;
  }
  return static_cast<std::uint32_t>(value);
}

// The recording has what the game wrote back, not what the plug-in handed
// in: the one such native takes the movie the plug-in was given last.
std::int32_t InOutStart(const RecordedWorld& state, const NativeSignature& sig) {
  if (sig.name != "SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED") return 0;
  const auto mapped = state.movieHandles.find(state.lastMovieHandle);
  return mapped != state.movieHandles.end() ? mapped->second : state.lastMovieHandle;
}

// Puts argument `i` in its slot; a text is kept in `texts` for as long as the
// world may read it. Answers why the game refuses the argument (a null where
// a text must be), or nothing.
std::string PutArgument(const RecordedWorld& state, const NativeSignature& sig, std::size_t i,
                        const TraceValue& v, CallSlots& call, std::deque<std::string>& texts) {
  std::uint64_t& slot = call.slots[i];
  switch (sig.args[i]) {
    case ArgKind::Int:
      slot = IntSlot(state, sig, i, v);
      break;
    case ArgKind::Bool:
      slot = v.integer != 0 ? 1 : 0;
      break;
    case ArgKind::Float:
      slot = std::bit_cast<std::uint32_t>(static_cast<float>(v.number));
      break;
    case ArgKind::Text:
    case ArgKind::TextOrNull:
      if (v.kind == TraceValue::Kind::Null) {
        if (sig.args[i] == ArgKind::Text) return "a null text as argument " + std::to_string(i + 1);
        slot = 0;
      } else {
        texts.push_back(v.text);
        slot = reinterpret_cast<std::uintptr_t>(texts.back().c_str());
      }
      break;
    case ArgKind::InOutInt:
      call.scalars[i] = InOutStart(state, sig);
      slot = reinterpret_cast<std::uintptr_t>(&call.scalars[i]);
      break;
    case ArgKind::OutInt:
    case ArgKind::OutFloat:
      slot = reinterpret_cast<std::uintptr_t>(&call.scalars[i]);
      break;
    case ArgKind::OutVector:
      slot = reinterpret_cast<std::uintptr_t>(&call.vectors[i]);
      break;
  }
  return {};
}

// The plug-in goes on with the handle the game gave; where the world gave
// another, later calls are put with the world's.
void NoteMovieHandle(RecordedWorld& state, const TraceEntry& recorded, const WorldAnswer& answer) {
  if (!recorded.result || !answer.result) return;
  const auto given = static_cast<std::int32_t>(recorded.result->integer);
  state.lastMovieHandle = given;
  if (given != static_cast<std::int32_t>(answer.result->integer)) {
    state.movieHandles[given] = static_cast<std::int32_t>(answer.result->integer);
  } else {
    state.movieHandles.erase(given);
  }
}

}  // namespace

WorldAnswer CallReplayer::Call(RecordedWorld& state, const TraceEntry& recorded) {
  WorldAnswer answer;
  const NativeSignature& sig = *recorded.native;
  const NativeEntry* native = WorldDispatch().Find(sig.hash);
  CallSlots slots;
  const std::size_t count = std::min(sig.args.size(), recorded.args.size());
  for (std::size_t i = 0; i < count; ++i) {
    answer.refusal = PutArgument(state, sig, i, recorded.args[i], slots, texts_);
    if (!answer.refusal.empty()) return answer;
  }
  fault_.clear();
  CallFrame call(sig, slots.slots, count, slots.result);
  native->handler(state.world, call);
  answer.refusal = fault_;
  if (sig.result != ResultKind::None) answer.result = DecodeResult(sig, slots.result);
  TraceEntry outs;
  DecodeOuts(sig, slots.slots, count, outs);
  answer.outs = std::move(outs.outs);
  if (sig.name == "REQUEST_SCALEFORM_MOVIE") NoteMovieHandle(state, recorded, answer);
  return answer;
}

void CallReplayer::EndFrame(const World& world) {
  if (!world.drawing.textCommandOpen) texts_.clear();
}

// ---- The run --------------------------------------------------------------------

RecordedRun::RecordedRun(Scenario scenario, bool keepDrawings)
    : scenario_(std::move(scenario)), state_(scenario_) {
  replayer_.Attach(state_.world);
  state_.world.drawing.keepFrames = keepDrawings;
}

void RecordedRun::Run(RecordingFrames& frames) {
  std::int64_t frame = 0;
  const std::vector<TraceEntry>* lines = nullptr;
  const std::vector<TraceEntry> none;
  while (!ended_ && frames.Next(frame, lines)) {
    if (frame < 0) {
      for (const TraceEntry& line : *lines) {
        if (line.native == nullptr) HostLine(line);
      }
      continue;
    }
    if (frame >= scenario_.frames) break;
    while (!ended_ && framesRun_ < frame) RunFrame(framesRun_, none);
    if (!ended_) RunFrame(frame, *lines);
  }
  while (!ended_ && framesRun_ < scenario_.frames) RunFrame(framesRun_, none);
}

void RecordedRun::RunFrame(std::int64_t frame, const std::vector<TraceEntry>& lines) {
  state_.StartFrame(frame);
  World& world = state_.world;
  while (nextEvent_ < scenario_.events.size() && scenario_.events[nextEvent_].frame <= frame) {
    const ScheduledEvent& event = scenario_.events[nextEvent_++];
    state_.Apply(event);
    if (event.kind == EventKind::Unload) ended_ = true;
  }
  // The recording is the truth: a frame the plug-in saw at another time than
  // the scenario's clock gives is moved to that time. Within an idle stretch
  // the recording kept only the stretch's first and last time: the clock
  // stands for the frames between.
  if (!lines.empty() && !lines.front().timeInterpolated &&
      lines.front().time != world.clock.gameTimer) {
    const auto delta = static_cast<std::int32_t>(static_cast<std::uint32_t>(lines.front().time) -
                                                 static_cast<std::uint32_t>(world.clock.gameTimer));
    differences_.Add("GET_GAME_TIMER", "clock", frame,
                     "frame " + std::to_string(frame) + " came at game time " +
                         std::to_string(lines.front().time) + ", the scenario's clock gives " +
                         std::to_string(world.clock.gameTimer));
    world.clock.Hitch(world.clock.stepMs + delta);
  }
  world.BeginFrame();
  std::uint32_t calls = 0;
  for (const TraceEntry& line : lines) {
    if (line.native == nullptr) {
      HostLine(line);
      continue;
    }
    if (line.byRecorder) continue;
    ++calls;
    if (watcher_ != nullptr) watcher_->OnNativeCall(*line.native);
    const WorldAnswer answer = replayer_.Call(state_, line);
    const AnswerDifference difference = CompareAnswer(line, answer);
    if (!difference.Empty()) {
      differences_.Add(ReadableNativeName(*line.native), difference.key, frame, difference.detail);
    }
    if (FlowObserver::Follows(line.native->name)) flow_.OnNative(world, line);
    NoteSearchResult(line);
  }
  world.EndFrame();
  replayer_.EndFrame(world);
  callsInLastFrame_ = calls;
  nativeCalls_ += calls;
  maxCallsInFrame_ = std::max<std::uint64_t>(maxCallsInFrame_, calls);
  flow_.OnFrameEnd(calls, AllocationCounts{});
  if (watcher_ != nullptr) watcher_->OnFrameEnd(View());
  ++framesRun_;
}

void RecordedRun::NoteSearchResult(const TraceEntry& line) {
  if (flow_.DeathCount() == 0) return;
  const std::uint64_t death = flow_.DeathCount() - 1;
  if (line.IsNative("SPAWNPOINTS_GET_NUM_SEARCH_RESULTS")) {
    readResults_[death].clear();
  } else if (line.IsNative("SPAWNPOINTS_GET_SEARCH_RESULT") && line.outs.size() == 3) {
    std::vector<std::array<double, 3>>& read = readResults_[death];
    const std::array<double, 3> point{line.outs[0].number, line.outs[1].number,
                                      line.outs[2].number};
    if (std::find(read.begin(), read.end(), point) == read.end()) read.push_back(point);
  }
}

std::vector<DeathRecord> RecordedRun::DeathsAsRecorded() const {
  std::vector<DeathRecord> deaths = flow_.Deaths();
  for (std::size_t i = 0; i < deaths.size(); ++i) {
    if (!deaths[i].searched) continue;
    const auto read = readResults_.find(i);
    deaths[i].searchResults =
        read != readResults_.end() ? read->second : std::vector<std::array<double, 3>>{};
  }
  return deaths;
}

void RecordedRun::HostLine(const TraceEntry& line) {
  World& world = state_.world;
  if (watcher_ != nullptr) watcher_->OnHostEvent(View(), line.host);
  const std::string& host = line.host;
  if (host == "attach") {
    attached_ = true;
    world.Note("host", "plug-in loaded (recorded)");
  } else if (host == "scriptRegister") {
    world.Note("host", "script registered");
  } else if (host == "keyboardHandlerRegister") {
    world.Note("host", "keyboard handler registered");
  } else if (host == "scriptStart") {
    world.Note("host", ++scriptStarts_ == 1 ? "script started" : "script started again");
  } else if (host == "keyboard") {
    world.Note("keyboard", "key " + std::to_string(line.args[0].integer) +
                               (line.args[6].integer != 0 ? " up" : " down") +
                               " delivered to the keyboard handler");
  } else if (host == "detach") {
    world.Note("host", "plug-in unloaded");
  } else if (host == "scriptUnregister") {
    world.Note("host", "script unregistered");
  } else if (host == "keyboardHandlerUnregister") {
    world.Note("host", "keyboard handler unregistered");
  }
}

RunSummary RecordedRun::Summary() const {
  RunSummary s;
  s.frames = framesRun_;
  s.gameTimeMs = framesRun_ == 0 ? 0 : state_.world.clock.nowMs - scenario_.startGameTime;
  s.nativeCalls = nativeCalls_;
  s.maxCallsInFrame = maxCallsInFrame_;
  return s;
}

}  // namespace sim
