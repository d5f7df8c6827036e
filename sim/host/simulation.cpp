#include "sim/host/simulation.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <sstream>
#include <thread>

#include "sim/base/number_format.h"
#include "sim/base/seed.h"
#include "sim/host/host_exports.h"
#include "sim/platform/module.h"

namespace sim {

// The host calls the keyboard handler on the game window's thread, not on the
// script fibre; this thread plays that part. Each message is handed over and
// waited for, so that runs stay repeatable.
class Simulation::KeyboardThread {
 public:
  KeyboardThread() : thread_([this] { Loop(); }) {}
  ~KeyboardThread() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void Deliver(KeyboardHandler handler, const std::uint32_t (&args)[7]) {
    std::unique_lock<std::mutex> lock(mutex_);
    handler_ = handler;
    for (int i = 0; i < 7; ++i) args_[i] = args[i];
    pending_ = true;
    wake_.notify_all();
    done_.wait(lock, [this] { return !pending_; });
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return pending_ || stop_; });
      if (stop_) return;
      const KeyboardHandler handler = handler_;
      std::uint32_t a[7];
      for (int i = 0; i < 7; ++i) a[i] = args_[i];
      lock.unlock();
      handler(a[0], static_cast<std::uint16_t>(a[1]), static_cast<std::uint8_t>(a[2]),
              static_cast<std::int32_t>(a[3]), static_cast<std::int32_t>(a[4]),
              static_cast<std::int32_t>(a[5]), static_cast<std::int32_t>(a[6]));
      lock.lock();
      pending_ = false;
      done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  KeyboardHandler handler_ = nullptr;
  std::uint32_t args_[7] = {};
  bool pending_ = false;
  bool stop_ = false;
  std::thread thread_;
};

Simulation::Simulation(Scenario scenario, SimOptions options)
    : dispatch_(WorldDispatch()), scenario_(std::move(scenario)), options_(options) {
  if (active_ != nullptr) {
    std::fprintf(stderr, "rebound-sim: only one simulation may run at a time\n");
    std::abort();
  }
  active_ = this;
  world_.SetGameFaultSink([this](const std::string& message) { RaiseFault(message); });
  world_.Configure(ScenarioNode::Root(scenario_.document));
  world_.drawing.keepFrames = options_.keepDrawings;
  world_.clock.frame = -1;  // load time, before the first frame
  world_.clock.nowMs = scenario_.startGameTime;
  world_.clock.gameTimer =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(scenario_.startGameTime));
  nextEventFrame_ = NextEventFrame();
}

Simulation::~Simulation() {
  if (module_ != nullptr) UnloadPlugin();
  // A script that never finished keeps its stack: see Abandon.
  Abandon(std::move(fibre_));
  keyboard_.reset();
  active_ = nullptr;
}

bool Simulation::Faulted() const { return faulted_.load(std::memory_order_acquire); }

std::string Simulation::Fault() const {
  std::lock_guard<std::mutex> lock(faultMutex_);
  return fault_;
}

std::string Simulation::Where() const {
  std::ostringstream out;
  if (world_.clock.frame < 0) {
    out << "at load";
  } else {
    out << "frame " << world_.clock.frame;
  }
  out << " (game time " << world_.clock.gameTimer << ")";
  return out.str();
}

void Simulation::RaiseFault(const std::string& message) {
  {
    std::lock_guard<std::mutex> lock(faultMutex_);
    if (fault_.empty()) {
      fault_ = Where() + ": " + message;
      faulted_.store(true, std::memory_order_release);
    }
  }
  callOpen_ = false;
  if (fibre_ && Fibre::OnFibre()) {
    // The script stops here for good; the frame loop sees the fault.
    for (;;) Fibre::Yield();
  }
}

void Simulation::RecordHost(const char* name, std::vector<TraceValue> values) {
  if (watcher_ != nullptr) watcher_->OnHostEvent(*this, name);
  if (!Tracing()) return;
  TraceEntry e;
  e.frame = world_.clock.frame;
  e.time = world_.clock.gameTimer;
  e.host = name;
  e.args = std::move(values);
  Record(e);
}

void Simulation::Record(TraceEntry& entry) {
  if (options_.traceStream != nullptr) *options_.traceStream << Trace::ToJson(entry) << '\n';
  if (options_.recordTrace) trace_.Add(std::move(entry));
}

bool Simulation::LoadPlugin(const std::string& path) {
  std::string error;
  if (!ProvideHostFunctions(error)) {
    RaiseFault(error);
    return false;
  }
  module_ = platform::LoadPluginModule(
      path,
      [&](void* module) {
        // Seeded before its entry runs, so that no seed of the module's
        // comes from elsewhere.
        if (options_.seed) {
          StartSeedSequence(*options_.seed);
          if (module != nullptr && platform::SetModuleSeedSource(module, &NextSeed)) {
            seeding_ = Seeding::kSeeded;
            RecordHost("seed", {TraceValue::Int(static_cast<std::int64_t>(*options_.seed))});
          } else {
            seeding_ = Seeding::kNoExport;
          }
        }
        RecordHost("attach");
        world_.Note("host", "plug-in loaded: " + path);
      },
      error);
  if (module_ == nullptr) {
    RaiseFault(error);
    return false;
  }
  return !Faulted();
}

void Simulation::UnloadPlugin() {
  if (module_ == nullptr) return;
  // The game's window thread stops delivering first; it ends while the plug-in
  // is still loaded, so the module sees the thread leave (thread detach).
  keyboard_.reset();
  RecordHost("detach");
  // The fibre runs code of the module: it must never run again once unloaded.
  if (fibre_) lastStack_ = fibre_->PeakStackUse();
  Abandon(std::move(fibre_));
  std::string error;
  if (!platform::UnloadPluginModule(module_, error)) RaiseFault(error);
  module_ = nullptr;
  if (scriptRegistered_) RaiseFault("the script is still registered after process detach");
  if (keyboardHandler_ != nullptr) {
    RaiseFault("the keyboard handler is still registered after process detach");
  }
  world_.Note("host", "plug-in unloaded");
}

void Simulation::SetScript(std::function<void()> script) {
  script_ = std::move(script);
  scriptRegistered_ = true;
  if (fibre_) lastStack_ = fibre_->PeakStackUse();
  Abandon(std::move(fibre_));
}

StackUse Simulation::ScriptStack() const { return fibre_ ? fibre_->PeakStackUse() : lastStack_; }

void Simulation::HostScriptRegister(void* module, ScriptEntry entry) {
  const InsideHostScope inside;  // what the host allocates is not the plug-in's
  RecordHost("scriptRegister");
  if (Fibre::OnFibre()) RaiseFault("scriptRegister called from the script fibre");
  if (entry == nullptr) RaiseFault("scriptRegister with a null script entry");
  registeredModule_ = module;
  script_ = [entry] { entry(); };
  scriptRegistered_ = true;
  world_.Note("host", "script registered");
}

void Simulation::HostScriptUnregister(void* module) {
  const InsideHostScope inside;  // what the host allocates is not the plug-in's
  RecordHost("scriptUnregister");
  if (Fibre::OnFibre()) RaiseFault("scriptUnregister called from the script fibre");
  if (!scriptRegistered_) {
    RaiseFault("scriptUnregister without a registered script");
  } else if (module != registeredModule_) {
    RaiseFault("scriptUnregister with another module handle than the one registered");
  }
  scriptRegistered_ = false;
  world_.Note("host", "script unregistered");
}

void Simulation::HostKeyboardHandlerRegister(KeyboardHandler handler) {
  const InsideHostScope inside;  // what the host allocates is not the plug-in's
  RecordHost("keyboardHandlerRegister");
  if (handler == nullptr) RaiseFault("keyboardHandlerRegister with a null handler");
  keyboardHandler_ = handler;
  world_.Note("host", "keyboard handler registered");
}

void Simulation::HostKeyboardHandlerUnregister(KeyboardHandler handler) {
  const InsideHostScope inside;  // what the host allocates is not the plug-in's
  RecordHost("keyboardHandlerUnregister");
  if (handler != keyboardHandler_) {
    RaiseFault("keyboardHandlerUnregister with a handler that is not the registered one");
  }
  keyboardHandler_ = nullptr;
  world_.Note("host", "keyboard handler unregistered");
}

// scriptWait, nativeInit and nativePush64 allocate nothing on their way
// through: only what refuses a call or records it holds InsideHostScope.
void Simulation::HostScriptWait(std::uint32_t ms) {
  if (!OnScriptFibre() || callOpen_) [[unlikely]] {
    if (!RefuseWait(ms)) return;
  }
  if (Tracing()) [[unlikely]]
    RecordWait(ms);
  wakeFrame_ = world_.clock.frame + 1;
  wakeAtMs_ = world_.clock.nowMs + ms;
  Fibre::Yield();
}

void Simulation::RecordWait(std::uint32_t ms) {
  const InsideHostScope inside;  // what the host allocates is not the plug-in's
  RecordHost("scriptWait", {TraceValue::Int(ms)});
}

bool Simulation::RefuseWait(std::uint32_t ms) {
  const InsideHostScope inside;
  if (!OnScriptFibre()) {
    RaiseFault("scriptWait(" + std::to_string(ms) + ") called outside the script fibre");
    return false;
  }
  RaiseFault("scriptWait between nativeInit and nativeCall");
  return true;
}

// Set on the simulator's thread while it runs the script fibre, and only
// there (ScriptRunningScope): the keyboard thread, any thread of the plug-in's
// own and the frame loop between two resumes all see it false. Reading the
// thread-local costs an instruction or two, where asking the fibre costs ten.
bool Simulation::OnScriptFibre() const { return scriptThread.scriptRunning; }

inline void Simulation::ResumeScript() {
  const ScriptRunningScope running(scriptHostDepth_);
  fibre_->Resume();
}

// The three native functions run for every native call the script makes: on
// the way through they do integer checks only. A message is built once a
// check fails.

void Simulation::HostNativeInit(std::uint64_t hash) {
  if (!OnScriptFibre() || callOpen_ || callsThisFrame_ == keyboardAtCall_) [[unlikely]]
    return SlowInit(hash);
  callOpen_ = true;
  callHash_ = hash;
  argCount_ = 0;
}

void Simulation::SlowInit(std::uint64_t hash) {
  if (!OnScriptFibre() || callOpen_) return RefuseInit(hash);
  // The game's window thread may deliver a message at any moment, also while
  // the script is in the middle of its frame.
  DeliverKeysDueAt(callsThisFrame_);
  if (Faulted()) return;
  callOpen_ = true;
  callHash_ = hash;
  argCount_ = 0;
}

std::string Simulation::NativeName(std::uint64_t hash) const {
  const NativeEntry* native = dispatch_.Find(hash);
  return native != nullptr ? ReadableNativeName(*native->signature) : HexHash(hash);
}

void Simulation::RefuseInit(std::uint64_t hash) {
  const InsideHostScope inside;
  if (!OnScriptFibre()) {
    RaiseFault("native " + NativeName(hash) + " called outside the script fibre");
    return;
  }
  RaiseFault("nativeInit(" + NativeName(hash) + ") before the call of " + NativeName(callHash_) +
             " was run");
}

void Simulation::HostNativePush(std::uint64_t value) {
  if (!OnScriptFibre() || !callOpen_) [[unlikely]]
    return RefusePush();
  if (argCount_ >= kMaxArgs) [[unlikely]] {
    argCount_ = kTooManyArgs;
    return;
  }
  args_[argCount_++] = value;
}

void Simulation::RefusePush() {
  const InsideHostScope inside;
  RaiseFault(OnScriptFibre() ? "nativePush64 without nativeInit"
                             : "nativePush64 called outside the script fibre");
}

void Simulation::RefuseCall(const NativeEntry& native) {
  const NativeSignature& sig = *native.signature;
  const std::string who = HasPublicName(sig) ? "native " + sig.name + " (" + HexHash(sig.hash) + ")"
                                             : ReadableNativeName(sig);
  if (argCount_ != sig.args.size()) {
    RaiseFault(who + ": " +
               (argCount_ == kTooManyArgs ? "more than 32" : std::to_string(argCount_)) +
               " arguments pushed, it takes " + std::to_string(sig.args.size()));
    return;
  }
  for (std::size_t i = 0; i < argCount_; ++i) {
    const std::uint64_t slot = args_[i];
    const std::string arg = who + ": argument " + std::to_string(i + 1) + " (" +
                            std::string(ArgKindName(sig.args[i])) + ")";
    switch (sig.args[i]) {
      case ArgKind::Int:
      case ArgKind::Float:
      case ArgKind::Bool:
        if ((slot >> 32) != 0) {
          return RaiseFault(arg + " has its upper 32 bits set: " + HexHash(slot));
        }
        if (sig.args[i] == ArgKind::Bool && slot > 1) {
          return RaiseFault(arg + " is " + std::to_string(slot) + ", not 0 or 1");
        }
        break;
      case ArgKind::Text:
        if (slot == 0) return RaiseFault(arg + " is a null text pointer");
        break;
      case ArgKind::TextOrNull:
        break;
      case ArgKind::OutInt:
      case ArgKind::OutFloat:
      case ArgKind::OutVector:
      case ArgKind::InOutInt:
        if (slot == 0) return RaiseFault(arg + " is a null pointer");
        break;
    }
  }
  // The quick check and this one disagree: a fault of the simulator itself.
  RaiseFault(who + ": refused by the slot check, but no argument is wrong");
}

TraceValue Simulation::DecodeResult(const NativeSignature& sig) const {
  const auto low = [this](std::size_t i) { return static_cast<std::uint32_t>(result_[i]); };
  switch (sig.result) {
    case ResultKind::Int:
      return TraceValue::Int(static_cast<std::int32_t>(low(0)));
    case ResultKind::Bool:
      return TraceValue::Bool(low(0) != 0);
    case ResultKind::Float:
      return TraceValue::Float(std::bit_cast<float>(low(0)));
    case ResultKind::Vector:
      return TraceValue::Vector(std::bit_cast<float>(low(0)), std::bit_cast<float>(low(1)),
                                std::bit_cast<float>(low(2)));
    case ResultKind::Text: {
      const char* text = reinterpret_cast<const char*>(result_[0]);
      return text != nullptr ? TraceValue::Text(text) : TraceValue::Null();
    }
    case ResultKind::None:
      break;
  }
  return TraceValue::Null();
}

std::uint64_t* Simulation::HostNativeCall() {
  if (!OnScriptFibre() || !callOpen_) [[unlikely]]
    return RefuseNativeCall(nullptr, false);
  callOpen_ = false;
  const NativeEntry* native = dispatch_.Find(callHash_);
  // More than kMaxArgs pushes leave a count no native takes.
  if (native == nullptr || argCount_ != native->argCount || !native->Accepts(args_)) [[unlikely]]
    return RefuseNativeCall(native, true);

  result_[0] = result_[1] = result_[2] = result_[3] = 0;
  ++callsThisFrame_;  // added to the run's count at the end of the frame
  // Decoded only when someone reads it: the trace, or the flow for the natives
  // it follows; and a watcher is told of every call.
  if (slowCalls_ || native->followedByFlow) [[unlikely]]
    return WatchedCall(*native);

  const InsideHostScope inside;  // what the host allocates is not the plug-in's
  callFrame_.Begin(*native->signature, argCount_);
  native->handler(world_, callFrame_);
  return result_;
}

std::uint64_t* Simulation::WatchedCall(const NativeEntry& native) {
  if (watcher_ != nullptr) {
    const InsideHostScope inside;  // what the watcher keeps is not the plug-in's
    watcher_->OnNativeCall(*native.signature);
  }
  if (tracing_ || native.followedByFlow) return DecodedCall(native);
  const InsideHostScope inside;  // what the host allocates is not the plug-in's
  callFrame_.Begin(*native.signature, argCount_);
  native.handler(world_, callFrame_);
  return result_;
}

std::uint64_t* Simulation::DecodedCall(const NativeEntry& native) {
  const InsideHostScope inside;  // what the host allocates is not the plug-in's
  // The entry's lists keep their room, so this allocates nothing once they
  // have grown.
  const NativeSignature& sig = *native.signature;
  DecodeArgs(sig);
  callFrame_.Begin(sig, argCount_);
  native.handler(world_, callFrame_);
  DecodeOuts(sig, callFrame_);
  if (sig.result != ResultKind::None) callEntry_.result = DecodeResult(sig);
  flow_.OnNative(world_, callEntry_);
  if (Tracing()) Record(callEntry_);
  return result_;
}

std::uint64_t* Simulation::RefuseNativeCall(const NativeEntry* native, bool opened) {
  const InsideHostScope inside;
  if (!OnScriptFibre()) {
    RaiseFault("nativeCall called outside the script fibre");
  } else if (!opened) {
    RaiseFault("nativeCall without nativeInit");
  } else if (native == nullptr) {
    RaiseFault("native " + HexHash(callHash_) + " is not a native of the game");
  } else {
    RefuseCall(*native);
  }
  return deadResult_;
}

void Simulation::DecodeArgs(const NativeSignature& sig) {
  TraceEntry& entry = callEntry_;
  entry.frame = world_.clock.frame;
  entry.time = world_.clock.gameTimer;
  entry.native = &sig;
  entry.args.clear();
  entry.outs.clear();
  entry.result.reset();
  for (std::size_t i = 0; i < argCount_; ++i) {
    const std::uint64_t slot = args_[i];
    switch (sig.args[i]) {
      case ArgKind::Int:
        entry.args.push_back(TraceValue::Int(static_cast<std::int32_t>(slot)));
        break;
      case ArgKind::Bool:
        entry.args.push_back(TraceValue::Bool(slot != 0));
        break;
      case ArgKind::Float:
        entry.args.push_back(
            TraceValue::Float(std::bit_cast<float>(static_cast<std::uint32_t>(slot))));
        break;
      case ArgKind::Text:
      case ArgKind::TextOrNull:
        entry.args.push_back(slot == 0 ? TraceValue::Null()
                                       : TraceValue::Text(reinterpret_cast<const char*>(slot)));
        break;
      default:
        entry.args.push_back(TraceValue::Out());
        break;
    }
  }
}

void Simulation::DecodeOuts(const NativeSignature& sig, CallFrame& call) {
  for (std::size_t i = 0; i < argCount_; ++i) {
    switch (sig.args[i]) {
      case ArgKind::OutInt:
      case ArgKind::InOutInt:
        callEntry_.outs.push_back(TraceValue::Int(*call.IntPtr(i)));
        break;
      case ArgKind::OutFloat:
        callEntry_.outs.push_back(TraceValue::Float(*call.FloatPtr(i)));
        break;
      case ArgKind::OutVector: {
        const GameVector* v = call.VectorPtr(i);
        callEntry_.outs.push_back(TraceValue::Vector(v->x, v->y, v->z));
        break;
      }
      default:
        break;
    }
  }
}

void Simulation::ApplyEvent(const ScheduledEvent& event) {
  switch (event.kind) {
    case EventKind::World:
      world_.Note("event", event.description);
      event.apply(world_);
      return;
    case EventKind::Keyboard:
      if (event.atCall == kAtFrameStart) return DeliverKeyboard(event);
      // Due while the script runs: kept in call order, ties in file order.
      keysInFrame_.insert(std::upper_bound(keysInFrame_.begin(), keysInFrame_.end(), &event,
                                           [](const ScheduledEvent* a, const ScheduledEvent* b) {
                                             return a->atCall < b->atCall;
                                           }),
                          &event);
      keyboardAtCall_ = static_cast<std::uint32_t>(keysInFrame_.front()->atCall);
      return;
    case EventKind::RestartScript:
      world_.Note("event", event.description);
      return RestartScript();
    case EventKind::Unload:
      world_.Note("event", event.description);
      return UnloadByHost();
  }
}

void Simulation::DeliverKeysDueAt(std::uint32_t calls) {
  const InsideHostScope inside;  // what the host allocates is not the plug-in's
  std::size_t due = 0;
  while (due < keysInFrame_.size() &&
         static_cast<std::uint32_t>(keysInFrame_[due]->atCall) <= calls) {
    ++due;
  }
  // Taken off the list before delivery: a fault inside may leave the fibre.
  std::vector<const ScheduledEvent*> now(keysInFrame_.begin(), keysInFrame_.begin() + due);
  keysInFrame_.erase(keysInFrame_.begin(), keysInFrame_.begin() + due);
  keyboardAtCall_ =
      keysInFrame_.empty() ? UINT32_MAX : static_cast<std::uint32_t>(keysInFrame_.front()->atCall);
  for (const ScheduledEvent* event : now) DeliverKeyboard(*event);
}

void Simulation::DeliverKeysLeftInFrame() {
  if (keysInFrame_.empty()) return;
  DeliverKeysDueAt(UINT32_MAX);
}

void Simulation::DeliverKeyboard(const ScheduledEvent& event) {
  std::vector<TraceValue> values;
  values.reserve(7);
  for (std::uint32_t v : event.keyArgs)
    values.push_back(TraceValue::Int(static_cast<std::int32_t>(v)));
  values[0] = TraceValue::Int(event.keyArgs[0]);
  RecordHost("keyboard", std::move(values));
  if (keyboardHandler_ == nullptr) {
    world_.Note("keyboard", event.description + " (no handler registered)");
    return;
  }
  world_.Note("keyboard", event.description + " delivered to the keyboard handler");
  // Started at the first message, so that a loaded module sees it arrive.
  if (!keyboard_) keyboard_ = std::make_unique<KeyboardThread>();
  keyboard_->Deliver(keyboardHandler_, event.keyArgs);
}

inline void Simulation::StartOrResumeScript() {
  if (!scriptRegistered_ || !script_) return;
  if (!fibre_) [[unlikely]] {
    StartScript();
  } else if (world_.clock.frame < wakeFrame_ || world_.clock.nowMs < wakeAtMs_ ||
             fibre_->Finished()) {
    return;
  } else {
    ResumeScript();
  }
  if (fibre_->Finished()) [[unlikely]] {
    if (!Faulted()) RaiseFault("the script entry returned; it must loop for ever");
  }
}

void Simulation::StartScript() {
  // Started in the first frame after registration, and again after the host
  // dropped the script.
  fibre_ = std::make_unique<Fibre>(script_, options_.stackSize);
  scriptHostDepth_ = 0;
  ++scriptStarts_;
  RecordHost("scriptStart");
  world_.Note("host", scriptStarts_ == 1 ? "script started" : "script started again");
  ResumeScript();
}

void Simulation::DropScript() {
  if (!fibre_) return;
  lastStack_ = fibre_->PeakStackUse();
  // As the real host deletes the fiber: the stack goes as it stands, nothing
  // on it unwinds. It is freed with the next drop or the simulation.
  droppedFibre_ = std::move(fibre_);
  callOpen_ = false;
  scriptHostDepth_ = 0;
  wakeFrame_ = 0;
  wakeAtMs_ = 0;
}

void Simulation::RestartScript() {
  if (!scriptRegistered_ || !script_) {
    world_.Note("host", "no script registered to restart");
    return;
  }
  DropScript();
  // StartOrResumeScript starts it on a new fibre in this frame.
}

void Simulation::UnloadByHost() {
  DropScript();
  if (module_ != nullptr) {
    UnloadPlugin();
  } else {
    // A script of the test's own: stopped, and nothing to unload.
    keyboard_.reset();
    scriptRegistered_ = false;
    script_ = nullptr;
    world_.Note("host", "script stopped");
  }
  ended_ = true;
}

inline void Simulation::StepFrame() {
  const std::int64_t f = framesRun_;
  Clock& clock = world_.clock;
  clock.frame = f;
  const std::int64_t fixedMs = (f * 1000) / scenario_.fps;
  clock.stepMs = fixedMs - previousFixedMs_;  // 0 for frame 0
  previousFixedMs_ = fixedMs;
  clock.nowMs = scenario_.startGameTime + fixedMs + clock.hitchesMs;
  clock.gameTimer = static_cast<std::int32_t>(static_cast<std::uint32_t>(clock.nowMs));
  clock.frameCount = static_cast<std::int32_t>(f);
  callsThisFrame_ = 0;
  const AllocationCounts atStart = CountedAllocations();

  // The frame loop runs a frame only while the run has not stopped, so only
  // an event of this frame can have stopped it by now.
  bool stopped = false;
  // The events are in frame order: one comparison tells whether any is due.
  if (f >= nextEventFrame_) [[unlikely]] {
    while (nextEvent_ < scenario_.events.size() && scenario_.events[nextEvent_].frame <= f) {
      ApplyEvent(scenario_.events[nextEvent_++]);
      if (Faulted() || ended_) break;
    }
    nextEventFrame_ = NextEventFrame();
    stopped = Faulted() || ended_;
  }
  if (!stopped) [[likely]] {
    world_.BeginFrame();
    StartOrResumeScript();
    if (!keysInFrame_.empty()) [[unlikely]]
      DeliverKeysLeftInFrame();
    world_.EndFrame();
  }
  callsInLastFrame_ = callsThisFrame_;
  nativeCalls_ += callsThisFrame_;
  if (callsThisFrame_ > maxCallsInFrame_) maxCallsInFrame_ = callsThisFrame_;
  allocationsInLastFrame_ = CountedAllocations() - atStart;
  flow_.OnFrameEnd(callsThisFrame_, allocationsInLastFrame_);
  if (watcher_ != nullptr) [[unlikely]]
    watcher_->OnFrameEnd(*this);
  ++framesRun_;
}

std::int64_t Simulation::NextEventFrame() const {
  return nextEvent_ < scenario_.events.size() ? scenario_.events[nextEvent_].frame
                                              : std::numeric_limits<std::int64_t>::max();
}

bool Simulation::RunFrames(std::int64_t count) {
  for (std::int64_t i = 0; i < count && !Faulted() && !ended_; ++i) StepFrame();
  return !Faulted();
}

bool Simulation::Run() { return RunFrames(scenario_.frames - framesRun_); }

RunSummary Simulation::Summary() const {
  RunSummary s;
  s.frames = framesRun_;
  s.gameTimeMs = framesRun_ == 0 ? 0 : (framesRun_ * 1000) / scenario_.fps + world_.clock.hitchesMs;
  s.nativeCalls = nativeCalls_;
  s.maxCallsInFrame = maxCallsInFrame_;
  s.seeding = seeding_;
  s.seed = options_.seed.value_or(0);
  s.scriptStack = ScriptStack();
  s.fault = Fault();
  return s;
}

}  // namespace sim
