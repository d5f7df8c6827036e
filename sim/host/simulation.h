// The simulated script host and game: loads the plug-in as the real host
// does, runs its script on a fibre one frame at a time, answers its natives
// from the world model and records everything in the trace.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/base/alloc_counter.h"
#include "sim/game/world.h"
#include "sim/host/host_functions.h"
#include "sim/host/host_life_cycle.h"
#include "sim/host/host_services.h"
#include "sim/host/keyboard_thread.h"
#include "sim/host/native_dispatch.h"
#include "sim/host/run_options.h"
#include "sim/host/run_watcher.h"
#include "sim/host/scenario.h"
#include "sim/host/slot_protocol.h"
#include "sim/observe/flow_observer.h"
#include "sim/observe/trace.h"
#include "sim/platform/fibre.h"

namespace sim {

// The status rebound-sim exits with when a script of the plug-in crashed; the
// crash guard's watchdog ends a report that hangs with it too.
inline constexpr int kCrashExitStatus = 6;

class Simulation {
 public:
  using KeyboardHandler = sim::KeyboardHandler;
  using ScriptEntry = sim::ScriptEntry;

  // Throws HandlerTableError when the world's handlers do not match the
  // natives table (a mistake in the simulator itself, not in the plug-in).
  explicit Simulation(Scenario scenario, SimOptions options = {});
  ~Simulation();
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  // Loads a plug-in module after any loaded before and calls its entry with
  // process attach; false (with Fault() set) if it cannot be loaded.
  bool LoadPlugin(const std::string& path);
  // Calls each entry with process detach and unloads the modules, the last
  // loaded first.
  void UnloadPlugin();
  bool PluginLoaded() const { return lifeCycle_.Loaded(); }
  // How many plug-in modules have been loaded, unloaded ones included.
  std::size_t PluginsLoaded() const { return pluginsLoaded_.size(); }

  // Runs a function of the plug-in's core as the script, as if registered by
  // the host (used by tests linked with the core library).
  void SetScript(std::function<void()> script);

  // Runs up to `count` frames; stops early on a fault, or once the host has
  // unloaded the plug-in (an unload event ends the run). False if faulted.
  bool RunFrames(std::int64_t count);
  // Whether the run has ended before its frames were done: the host unloaded
  // the plug-in.
  bool Ended() const { return ended_; }
  // The first script fibre the host dropped last (a restart or an unload): gone
  // without unwinding, as the real host deletes it. Kept until the next drop
  // or the end of the simulation so that what its stack held can be looked
  // at; never run again. Null when none was dropped.
  const Fibre* DroppedScriptFibre() const { return lifeCycle_.DroppedScript(); }
  // How many times the host has started a script entry, all scripts together.
  std::int32_t ScriptStarts() const { return lifeCycle_.ScriptStarts(); }
  // Runs the rest of the scenario's frames.
  bool Run();

  World& GetWorld() { return world_; }
  const World& GetWorld() const { return world_; }
  const Trace& GetTrace() const { return trace_; }
  Trace& GetTrace() { return trace_; }
  const Scenario& GetScenario() const { return scenario_; }
  bool Faulted() const;
  // The run stopped because a script of the plug-in crashed (a kind of fault).
  bool Crashed() const { return crashed_; }
  std::string Fault() const;
  RunSummary Summary() const;
  // Native calls and heap allocations of the last frame run.
  std::uint32_t CallsInLastFrame() const { return callsInLastFrame_; }
  const AllocationCounts& AllocationsInLastFrame() const { return allocationsInLastFrame_; }
  std::int64_t FramesRun() const { return framesRun_; }
  // What became of the run's seed (set once the plug-in is loaded).
  Seeding SeedingOutcome() const { return seeding_; }
  // The script fibre's stack: the deepest it has been used so far, of its size.
  StackUse ScriptStack() const;
  // The respawn flow as the player sees it, followed with or without a trace.
  const FlowObserver& Flow() const { return flow_; }
  // Told of the run as it goes; null for none. Not owned.
  void SetWatcher(RunWatcher* watcher) {
    watcher_ = watcher;
    slowCalls_ = tracing_ || answering_ || watcher_ != nullptr;
  }

  // The simulation that the host functions reach; one at a time. Inline:
  // every host function the plug-in calls starts here.
  static Simulation* Active() { return active_; }

  // The host functions, Host<Member> for each of REBOUND_HOST_FUNCTIONS
  // (host_functions.h), reached through the platform's host exports; defined
  // in host_functions.cpp.
#define REBOUND_SIMULATION_HOST_FUNCTION(name, Member, decorated, Return, Params, Args) \
  Return Host##Member Params;
  REBOUND_HOST_FUNCTIONS(REBOUND_SIMULATION_HOST_FUNCTION)
#undef REBOUND_SIMULATION_HOST_FUNCTION

 private:
  // The frame loop runs these every frame: inlined into it, they share one
  // frame of registers rather than saving and restoring their own each time.
  [[gnu::always_inline]] void StepFrame();
  // Every script of every module, in registration order.
  [[gnu::always_inline]] void RunScripts();
  [[gnu::always_inline]] void StartOrResumeScript(HostedScript& script);
  [[gnu::always_inline]] void ResumeScript(HostedScript& script);
  [[gnu::cold, gnu::noinline]] void StartScript(HostedScript& script);
  void ApplyEvent(const ScheduledEvent& event);
  std::int64_t NextEventFrame() const;
  // Keyboard messages: at the start of the frame, due before the script's
  // `calls`-th native call of the frame, and at the end of the frame those
  // the script never reached.
  void DeliverKeyboard(const ScheduledEvent& event);
  void DeliverKeysDueAt(std::uint32_t calls);
  void DeliverKeysLeftInFrame();
  // What the host does in a frame after the scripts, when anything is due:
  // the keys the script never reached, the services' frame work. One flag
  // says whether any is, so that a frame without them tests it once.
  [[gnu::noinline]] void RunAfterScripts();
  // The host's own events: the scripts dropped where they stand, started
  // afresh; the plug-in stopped and unloaded.
  void DropScript();
  void RestartScript();
  void UnloadByHost();
  // Stops the run with a message naming the frame and the fault. On the
  // script fibre it does not return: the script is never resumed. The trace
  // ends with the fault's line; nothing after it is traced.
  void RaiseFault(const std::string& message);
  // ... a fault about a native call the host refused before counting it.
  void RaiseFault(const std::string& message, RefusedCall refused);
  // ... a fault the game raised in the handler of the call under way.
  void RaiseGameFault(const std::string& message);
  void StopAt(const std::string& message, std::uint32_t call, std::optional<RefusedCall> refused);
  // Where the crash guard sends a script that crashed: on the script's fibre,
  // in ordinary context. Names the crash and stops the run; never returns.
  [[noreturn]] static void LandCrashedScript();
  void RaiseCrash();
  // "GET_GAME_TIMER (0x9CD27B0045628463)", or that no native was called yet.
  std::string LastNativeCalled() const;
  std::string Where() const;
  bool Tracing() const { return tracing_; }
  void RecordHost(const char* name, std::vector<TraceValue> values = {});
  // The seed source a traced run hands the plug-in: the run's next seed,
  // written to the trace where the plug-in draws it. An untraced run hands it
  // NextSeed itself, which costs nothing more.
  static std::uint32_t TracedSeed() noexcept;
  // The seed source of a run given a recording's draws: the next of them.
  static std::uint32_t ListedDraw() noexcept;
  void Record(TraceEntry& entry);
  // Names the plug-in and the script a line comes from, in a run where more
  // than one script runs.
  [[gnu::noinline]] void LabelLine(TraceEntry& entry) const;
  // What the watcher reads of the run.
  RunView View() { return RunView{world_, flow_, callsInLastFrame_}; }
  // Whether the calling code runs on this simulation's script fibre. Set on
  // the simulator's thread while it runs the script fibre, and only there
  // (ScriptRunningScope): the keyboard thread, any thread of the plug-in's
  // own and the frame loop between two resumes all see it false. Reading the
  // thread-local costs an instruction or two, where asking the fibre costs ten.
  static bool OnScriptFibre() { return scriptThread.scriptRunning; }

  // The native functions' ways off their quick path (host_functions.cpp):
  // out of line, so that the quick path keeps no frame for them. The Refuse*
  // ones name what is wrong and stop the run.
  [[gnu::cold, gnu::noinline]] void RefuseInit(std::uint64_t hash);
  // nativeInit off its quick way: a refusal, or a keyboard message due first.
  [[gnu::cold, gnu::noinline]] void SlowInit(std::uint64_t hash);
  [[gnu::cold, gnu::noinline]] void RefusePush();
  // The wait's trace line, out of the way of an untraced run's every frame.
  [[gnu::noinline]] void RecordWait(std::uint32_t ms);
  // False when the wait must not go ahead.
  [[gnu::cold, gnu::noinline]] bool RefuseWait(std::uint32_t ms);
  [[gnu::cold, gnu::noinline]] std::uint64_t* RefuseNativeCall(const NativeEntry* native,
                                                               bool opened);
  // A hash the game lacks that the user's catalogue lists (catalogue_natives.cpp).
  [[gnu::noinline]] std::uint64_t* CatalogueCall(const NativeEntry& native);
  // A hash no table knows, in a run told to answer it 0 (unknown_natives.cpp).
  [[gnu::noinline]] std::uint64_t* UnknownNativeCall();
  // A call someone reads: told to the watcher, decoded where the trace or the
  // flow wants it.
  [[gnu::noinline]] std::uint64_t* WatchedCall(const NativeEntry& native);
  // A call the trace or the flow reads: decoded around its handler.
  [[gnu::noinline]] std::uint64_t* DecodedCall(const NativeEntry& native);
  // Runs the native's handler, then puts the scenario's answer for it in this
  // frame, if any, over what the handler left.
  void RunHandler(const NativeEntry& native);
  [[gnu::noinline]] void AnswerFromScenario(const NativeSignature& native);

  // The host's services (host_service_calls.cpp). A call that must come from
  // the script fibre is refused elsewhere: true when refused.
  bool RefusedOffScript(const char* function);
  std::int32_t WorldGetAll(EntityKind kind, const char* function, std::int32_t* arr,
                           std::int32_t arrSize);
  // A warning on the timeline, once per text.
  void WarnOnce(const std::string& text);
  // The frame's work of the services, after the scripts: the textures shown
  // and the present callbacks. Run only once a texture was drawn or a
  // callback registered in a run that calls them.
  [[gnu::noinline]] void RunFrameServices();
  void UpdateFrameServices();

  // Hidden on ELF: the executable reaches it directly rather than through the
  // GOT. (Windows has no such visibility: nothing outside sees it there.)
#if defined(_WIN32)
  static inline Simulation* active_ = nullptr;
#else
  [[gnu::visibility("hidden")]] static inline Simulation* active_ = nullptr;
#endif

  // Built before anything else, so that a mismatch stops the start-up.
  const NativeDispatch& dispatch_;
  Scenario scenario_;
  SimOptions options_;
  // A trace is kept or written: every call is decoded. Fixed for the run.
  const bool tracing_ = options_.recordTrace || options_.traceStream != nullptr;
  // The scenario answers some natives itself: every call goes the long way,
  // where the answers are looked up, so that a run without them pays nothing.
  const bool answering_ = !scenario_.answers.empty();
  World world_;
  Trace trace_;
  FlowObserver flow_;

  Seeding seeding_ = Seeding::OsRandom;

  // The module, what it registered, the script's fibre and the keyboard thread.
  HostLifeCycle lifeCycle_{options_.stackSize};
  bool ended_ = false;  // the host unloaded the plug-in: no frame runs after it
  // The script the frame loop is running, whose waits scriptWait sets; null
  // between two resumes.
  HostedScript* running_ = nullptr;
  // More than one script has been registered: lines name their plug-in and
  // script from then on.
  bool labelLines_ = options_.labelEveryLine;
  std::atomic<std::size_t> drawsTaken_{0};  // of options_.draws

  NativeCallSlots call_;  // the native call being built

  std::int64_t framesRun_ = 0;
  std::int64_t previousFixedMs_ = 0;  // the last frame's time at the fixed step, from the start
  std::size_t nextEvent_ = 0;
  std::int64_t nextEventFrame_ = 0;  // the frame of events_[nextEvent_], or never
  std::uint64_t nativeCalls_ = 0;
  std::uint64_t maxCallsInFrame_ = 0;
  std::uint32_t callsThisFrame_ = 0;
  std::uint32_t callsInLastFrame_ = 0;
  KeysDueInFrame keysInFrame_;
  AllocationCounts allocationsInLastFrame_;
  // The native call being decoded for the trace and the flow; its lists keep
  // their room from call to call.
  TraceEntry callEntry_;
  RunWatcher* watcher_ = nullptr;
  // Someone reads every call (the trace or a watcher): one test on the call
  // path sends the call the long way.
  bool slowCalls_ = tracing_ || answering_;

  // Set once the run has stopped; read every frame without the lock. The
  // message is written under the lock (the keyboard thread may fault too).
  std::atomic<bool> faulted_{false};
  mutable std::mutex faultMutex_;
  std::string fault_;
  std::optional<TraceFault> stoppedAt_;     // the fault's line, for the summary
  bool crashed_ = false;                    // a script crashed: the module is left as it is
  bool crashGuarded_ = false;               // the crash guard is installed for this run
  std::string pluginFile_;                  // the loaded module's file name, for messages
  std::vector<std::string> pluginsLoaded_;  // file names, in load order

  // The host's services beside scripts and natives.
  GlobalSlots globals_{scenario_.services.globals};
  TextureBoard textures_;
  PresentCallbacks presentCallbacks_;
  std::set<std::string> warned_;  // see WarnOnce
  bool frameServices_ = false;    // RunFrameServices has work in every frame
  bool afterScripts_ = false;     // RunAfterScripts has work in this frame
  bool scriptsReloaded_ = false;  // the host has restarted the scripts (not counted per script)
};

}  // namespace sim
