#include "sim/host/simulation.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>

#include "sim/base/seed.h"
#include "sim/host/catalogue_natives.h"
#include "sim/platform/crash_guard.h"
#include "sim/platform/module.h"

namespace sim {

namespace {

// The scenario with its answers for natives of the user's catalogue read
// against it (rebound-sim run reads them before it opens any output); one
// that names a native neither the game nor the catalogue lists is refused.
Scenario WithCatalogueAnswers(Scenario scenario, const CatalogueNatives* catalogue) {
  ResolveCatalogueAnswers(scenario.answers, scenario.catalogueAnswers, catalogue);
  return scenario;
}

}  // namespace

Simulation::Simulation(Scenario scenario, SimOptions options)
    : dispatch_(WorldDispatch()),
      scenario_(WithCatalogueAnswers(std::move(scenario), options.catalogue)),
      options_(options) {
  if (active_ != nullptr) {
    std::fprintf(stderr, "rebound-sim: only one simulation may run at a time\n");
    std::abort();
  }
  active_ = this;
  world_.SetGameFaultSink([this](const std::string& message) { RaiseGameFault(message); });
  world_.Configure(ScenarioNode::Root(scenario_.document));
  world_.drawing.keepFrames = options_.keepDrawings;
  world_.clock.frame = -1;  // load time, before the first frame
  world_.clock.nowMs = scenario_.startGameTime;
  world_.clock.gameTimer =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(scenario_.startGameTime));
  nextEventFrame_ = NextEventFrame();
}

Simulation::~Simulation() {
  if (lifeCycle_.Loaded()) UnloadPlugin();
  lifeCycle_.StopKeyboard();
  if (crashGuarded_) platform::RemoveCrashGuard();
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

// The host's refusals go on the timeline as the game's faults do (World::
// RaiseGameFault), so that the report's events show where the run stopped.
void Simulation::RaiseFault(const std::string& message) {
  if (!Faulted()) world_.Note("host", "run stopped: " + message);
  StopAt(message, callsThisFrame_, std::nullopt);
}

void Simulation::RaiseFault(const std::string& message, RefusedCall refused) {
  if (!Faulted()) world_.Note("host", "run stopped: " + message);
  StopAt(message, callsThisFrame_, std::move(refused));
}

void Simulation::RaiseGameFault(const std::string& message) {
  // Only handlers raise game faults, and their call is counted already.
  StopAt(message, callsThisFrame_ > 0 ? callsThisFrame_ - 1 : 0,
         RefusedCallOf(dispatch_, call_.hash, call_.args, call_.argCount));
}

void Simulation::StopAt(const std::string& message, std::uint32_t call,
                        std::optional<RefusedCall> refused) {
  {
    const InsideHostScope inside;
    std::lock_guard<std::mutex> lock(faultMutex_);
    if (fault_.empty()) {
      fault_ = Where() + ": " + message;
      // The fault's line goes out before the flag is set; from then on
      // Record writes nothing, so that it stays the trace's last.
      TraceFault fault{world_.clock.frame, world_.clock.gameTimer, call, message,
                       std::move(refused)};
      if (watcher_ != nullptr) watcher_->OnFault(View(), fault);
      if (options_.traceStream != nullptr) *options_.traceStream << Trace::ToJson(fault) << '\n';
      if (options_.recordTrace) trace_.SetFault(fault);
      stoppedAt_ = std::move(fault);
      faulted_.store(true, std::memory_order_release);
    }
  }
  call_.open = false;
  if (crashed_) platform::DisarmCrashWatchdog();
  if (running_ != nullptr && Fibre::OnFibre()) {
    // The script stops here for good; the frame loop sees the fault.
    for (;;) Fibre::Yield();
  }
}

// The real host's error box names the plug-in, the fault and the last native
// called. The guard has moved the script off the crashed instruction; its
// state may be anything, so it is never resumed: the run stops as at a
// refusal, its trace ending with the fault's line, and the module is left
// loaded (its detach would run the crashed plug-in's code again). A report
// that hangs on what the crash left held (the allocator's lock) is ended by
// the watchdog.
void Simulation::LandCrashedScript() {
  platform::ArmCrashWatchdog(kCrashExitStatus);
  if (active_ != nullptr) active_->RaiseCrash();
  std::_Exit(kCrashExitStatus);  // no simulation to stop: nothing else to do
}

void Simulation::RaiseCrash() {
  const InsideHostScope inside;
  const platform::ScriptCrash& crash = platform::LastScriptCrash();
  std::ostringstream message;
  message << "the plug-in crashed: ";
  if (crash.exception[0] != '\0') {
    message << "a C++ exception escaped the script (" << crash.exception << ")";
  } else {
    message << crash.what;
    if (crash.hasAddress) message << " at address 0x" << std::hex << crash.address << std::dec;
  }
  message << ", in the script of "
          << (running_ != nullptr && !running_->plugin.empty() ? running_->plugin : pluginFile_)
          << "; the last native it called: " << LastNativeCalled();
  crashed_ = true;
  if (!Faulted()) world_.Note("host", "run stopped: " + message.str());
  StopAt(message.str(), callsThisFrame_, std::nullopt);
  std::_Exit(kCrashExitStatus);  // StopAt does not return on the script's fibre
}

std::string Simulation::LastNativeCalled() const {
  if (call_.hash == 0 && nativeCalls_ + callsThisFrame_ == 0) return "none yet";
  const NativeEntry* native = dispatch_.Find(call_.hash);
  if (native == nullptr && options_.catalogue != nullptr) {
    native = options_.catalogue->Find(call_.hash);
  }
  char hash[24];
  std::snprintf(hash, sizeof hash, "0x%016llX", static_cast<unsigned long long>(call_.hash));
  if (native == nullptr) return hash;
  return native->signature->name == hash ? std::string(hash)
                                         : native->signature->name + " (" + hash + ")";
}

void Simulation::RecordHost(const char* name, std::vector<TraceValue> values) {
  if (watcher_ != nullptr) watcher_->OnHostEvent(View(), name);
  if (!Tracing()) return;
  TraceEntry e;
  e.frame = world_.clock.frame;
  e.time = world_.clock.gameTimer;
  e.host = name;
  e.args = std::move(values);
  if (labelLines_) LabelLine(e);
  Record(e);
}

void Simulation::LabelLine(TraceEntry& entry) const {
  if (running_ != nullptr) {
    entry.plugin = TracePlugin(running_->plugin);
    entry.script = running_->index;
  } else {
    entry.plugin = lifeCycle_.PluginName().empty() ? 0 : TracePlugin(lifeCycle_.PluginName());
    entry.script = -1;
  }
}

void Simulation::Record(TraceEntry& entry) {
  // The fault's line ends the trace: the host's unloading of a stopped run,
  // or a key still due in its frame, is not the plug-in's run.
  if (Faulted()) [[unlikely]]
    return;
  if (options_.traceStream != nullptr) *options_.traceStream << Trace::ToJson(entry) << '\n';
  if (options_.recordTrace) trace_.Add(std::move(entry));
}

bool Simulation::LoadPlugin(const std::string& path) {
  pluginFile_ = std::filesystem::path(path).filename().string();
  // A crash of the plug-in's script is caught from here on.
  crashGuarded_ = platform::InstallCrashGuard([] { return OnScriptFibre(); }, &LandCrashedScript);
  std::string error;
  const bool loaded = lifeCycle_.Load(
      path,
      [&](void* module) {
        // Seeded before its entry runs, so that no seed of the module's
        // comes from elsewhere.
        if (options_.seed) {
          // One sequence for the run: the modules loaded after the first draw
          // from where it stands. The run is seeded once any module takes it.
          if (pluginsLoaded_.empty()) StartSeedSequence(*options_.seed);
          if (module != nullptr &&
              platform::SetModuleSeedSource(module, tracing_ ? &TracedSeed : &NextSeed)) {
            seeding_ = Seeding::Seeded;
            RecordHost("seed", {TraceValue::Int(static_cast<std::int64_t>(*options_.seed))});
          } else if (seeding_ != Seeding::Seeded) {
            seeding_ = Seeding::NoExport;
          }
        } else if (options_.draws) {
          seeding_ = module != nullptr && platform::SetModuleSeedSource(module, &ListedDraw)
                         ? Seeding::RecordedDraws
                         : Seeding::NoExport;
        }
        RecordHost("attach");
        world_.Note("host", "plug-in loaded: " + path);
      },
      error);
  if (!loaded) {
    RaiseFault(error);
    return false;
  }
  pluginsLoaded_.push_back(pluginFile_);
  return !Faulted();
}

std::uint32_t Simulation::TracedSeed() noexcept {
  const std::uint32_t seed = NextSeed();
  Simulation* simulation = active_;
  if (simulation == nullptr) return seed;
  // Called inside the plug-in, on the script fibre: nothing may escape it.
  try {
    const InsideHostScope inside;
    simulation->RecordHost("randomDraw", {TraceValue::Int(seed)});
  } catch (...) {
    simulation->RaiseFault("the trace could not take a random draw's line");
  }
  return seed;
}

std::uint32_t Simulation::ListedDraw() noexcept {
  Simulation* simulation = active_;
  if (simulation == nullptr || !simulation->options_.draws) return 0;
  const std::vector<std::uint32_t>& draws = *simulation->options_.draws;
  const std::size_t index = simulation->drawsTaken_.fetch_add(1, std::memory_order_relaxed);
  // Called inside the plug-in, on the script fibre: nothing may escape it.
  try {
    const InsideHostScope inside;
    if (index >= draws.size()) {
      simulation->RaiseFault("the plug-in drew a random value more than the " +
                             std::to_string(draws.size()) + " it was given");
      return 0;
    }
    if (simulation->Tracing())
      simulation->RecordHost("randomDraw", {TraceValue::Int(draws[index])});
  } catch (...) {
    simulation->RaiseFault("the trace could not take a random draw's line");
  }
  return index < draws.size() ? draws[index] : 0;
}

void Simulation::UnloadPlugin() {
  if (!lifeCycle_.Loaded()) return;
  if (crashed_) {
    world_.Note("host", "plug-in left loaded: its script crashed");
    return;
  }
  std::string error;
  if (!lifeCycle_.Unload([this] { RecordHost("detach"); }, error)) RaiseFault(error);
  // The first of what the plug-in left registered: a fault stops the run at once.
  if (const char* left = lifeCycle_.LeftRegistered()) RaiseFault(left);
  if (presentCallbacks_.Any()) {
    RaiseFault("a present callback is still registered after process detach");
  }
  world_.Note("host", "plug-in unloaded");
}

void Simulation::SetScript(std::function<void()> script) {
  lifeCycle_.SetScript(std::move(script));
}

StackUse Simulation::ScriptStack() const { return lifeCycle_.ScriptStack(); }

inline void Simulation::ResumeScript(HostedScript& script) {
  const ScriptRunningScope running(script.hostDepth);
  running_ = &script;
  script.fibre->Resume();
  running_ = nullptr;
}

void Simulation::ApplyEvent(const ScheduledEvent& event) {
  switch (event.kind) {
    case EventKind::World:
      world_.Note("event", event.description);
      event.apply(world_);
      return;
    case EventKind::Keyboard:
      if (event.atCall == kAtFrameStart) return DeliverKeyboard(event);
      keysInFrame_.Add(event);
      afterScripts_ = true;
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
  const InsideHostScope inside;
  // Taken off the list before delivery: a fault inside may leave the fibre.
  const std::vector<const ScheduledEvent*> now = keysInFrame_.TakeDueAt(calls);
  for (const ScheduledEvent* event : now) DeliverKeyboard(*event);
}

void Simulation::RunAfterScripts() {
  if (!keysInFrame_.Empty()) DeliverKeysLeftInFrame();
  if (frameServices_) RunFrameServices();
  afterScripts_ = frameServices_;
}

void Simulation::DeliverKeysLeftInFrame() {
  if (keysInFrame_.Empty()) return;
  DeliverKeysDueAt(UINT32_MAX);
}

void Simulation::DeliverKeyboard(const ScheduledEvent& event) {
  std::vector<TraceValue> values;
  values.reserve(7);
  for (std::uint32_t v : event.keyArgs)
    values.push_back(TraceValue::Int(static_cast<std::int32_t>(v)));
  values[0] = TraceValue::Int(event.keyArgs[0]);
  RecordHost("keyboard", std::move(values));
  if (!lifeCycle_.KeyboardHandlerRegistered()) {
    world_.Note("keyboard", event.description + " (no handler registered)");
    return;
  }
  world_.Note("keyboard", event.description + " delivered to the keyboard handler");
  lifeCycle_.DeliverKey(event.keyArgs);
}

inline void Simulation::RunScripts() {
  const std::vector<std::unique_ptr<HostedScript>>& scripts = lifeCycle_.Scripts();
  // A plug-in with one script, the usual run, pays for no loop.
  if (scripts.size() == 1) [[likely]]
    return StartOrResumeScript(*scripts.front());
  // Registrations come from the host's thread only, never from a script, so
  // the list does not change while it is walked. Each script's calls are
  // counted here, off the one script's way, for the summary per plug-in.
  for (const std::unique_ptr<HostedScript>& script : scripts) {
    const std::uint32_t before = callsThisFrame_;
    StartOrResumeScript(*script);
    script->nativeCalls += callsThisFrame_ - before;
    if (Faulted() || ended_) [[unlikely]]
      return;
  }
}

inline void Simulation::StartOrResumeScript(HostedScript& script) {
  if (!script.Runnable()) [[unlikely]]
    return;
  const Fibre* fibre = script.fibre.get();
  if (fibre == nullptr) [[unlikely]] {
    StartScript(script);
  } else if (world_.clock.frame < script.wakeFrame || world_.clock.nowMs < script.wakeAtMs ||
             fibre->Finished()) {
    return;
  } else {
    ResumeScript(script);
  }
  if (script.fibre->Finished()) [[unlikely]] {
    if (!Faulted()) RaiseFault("the script entry returned; it must loop for ever");
  }
}

void Simulation::StartScript(HostedScript& script) {
  // Started in the first frame after registration, and again after the host
  // dropped the scripts.
  lifeCycle_.BeginScript(script);
  // The start is the script's own line, though the host writes it.
  running_ = &script;
  RecordHost("scriptStart");
  running_ = nullptr;
  world_.Note("host", script.starts == 1 ? "script started" : "script started again");
  ResumeScript(script);
}

void Simulation::DropScript() {
  if (!lifeCycle_.DropScript()) return;
  call_.open = false;
}

void Simulation::RestartScript() {
  if (!lifeCycle_.ScriptRegistered()) {
    world_.Note("host", "no script registered to restart");
    return;
  }
  DropScript();
  scriptsReloaded_ = true;
  if (textures_.Count() > 0) {
    textures_.FreeAll();
    UpdateFrameServices();
  }
  // StartOrResumeScript starts it on a new fibre in this frame.
}

void Simulation::UnloadByHost() {
  DropScript();
  if (lifeCycle_.Loaded()) {
    UnloadPlugin();
  } else {
    // A script of the test's own: stopped, and nothing to unload.
    lifeCycle_.EndOwnScript();
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
  // The game's count wraps as a 32-bit integer does.
  clock.frameCount = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(scenario_.startFrameCount) + static_cast<std::uint32_t>(f));
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
    RunScripts();
    if (afterScripts_) [[unlikely]]
      RunAfterScripts();
    world_.EndFrame();
  }
  callsInLastFrame_ = callsThisFrame_;
  nativeCalls_ += callsThisFrame_;
  if (callsThisFrame_ > maxCallsInFrame_) maxCallsInFrame_ = callsThisFrame_;
  allocationsInLastFrame_ = CountedAllocations() - atStart;
  flow_.OnFrameEnd(callsThisFrame_, allocationsInLastFrame_);
  if (watcher_ != nullptr) [[unlikely]]
    watcher_->OnFrameEnd(View());
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
  {
    std::lock_guard<std::mutex> lock(faultMutex_);
    if (stoppedAt_ && stoppedAt_->refused) {
      s.faultCall = RefusedCallText(*stoppedAt_->refused);
      s.faultCallIndex = stoppedAt_->call;
    }
  }
  s.searchesMiscounted = world_.spawn.searchesMiscounted;
  s.globals = globals_.Values();
  s.texturesCreated = textures_.Count();
  if (pluginsLoaded_.size() > 1) {
    for (const std::string& plugin : pluginsLoaded_) {
      PluginFigures figures;
      figures.file = plugin;
      for (const auto& script : lifeCycle_.Scripts()) {
        if (script->plugin != plugin) continue;
        ++figures.scripts;
        figures.nativeCalls += script->nativeCalls;
      }
      figures.keyboardHandlers = lifeCycle_.KeyboardHandlersRegisteredBy(plugin);
      s.plugins.push_back(std::move(figures));
    }
  }
  return s;
}

}  // namespace sim
