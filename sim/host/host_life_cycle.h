// The plug-in's life under a host, kept once for both hosts that load it
// (Simulation, which answers from the world; Replay, which answers from a
// recording): the module loaded and its entry told of attach and detach, what
// it registered, its script run on a fibre, dropped and started again, and its
// keyboard handler called on the game window's thread. The owner decides what
// each step means to it (a trace line, a fault, a difference from the
// recording); this holds the state and takes the steps in the host's order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/host/host_functions.h"
#include "sim/host/keyboard_thread.h"
#include "sim/platform/fibre.h"

namespace sim {

// One script function the host runs: the main one a module registers, or an
// additional thread of the same module. Each has its own fibre and its own
// waits; the host resumes them in registration order every frame.
struct HostedScript {
  void* module = nullptr;       // the handle it was registered with
  std::string plugin;           // the module's file name
  ScriptEntry entry = nullptr;  // null for a function of the program's own
  std::function<void()> body;
  std::int32_t index = 0;          // in registration order across the run, 0 first
  bool registered = true;          // false once unregistered: never run again
  bool runnable = false;           // registered with a body: what the frame loop reads every frame
  std::unique_ptr<Fibre> fibre;    // null before its first start and after a drop
  std::unique_ptr<Fibre> dropped;  // the fibre the host dropped last, never run again
  std::int64_t wakeFrame = 0;      // resumed no earlier than this frame
  std::int64_t wakeAtMs = 0;       // ... and no earlier than this game time
  int hostDepth = 0;               // host calls the suspended fibre is inside
  std::int32_t starts = 0;         // times begun
  std::uint64_t nativeCalls = 0;   // counted only where several scripts run
  StackUse lastStack;              // of the last fibre let go

  bool Runnable() const { return runnable; }
  void Unregister() {
    registered = false;
    runnable = false;
  }
};

class HostLifeCycle {
 public:
  explicit HostLifeCycle(std::size_t stackSize) : stackSize_(stackSize) {}
  // A script that never finished keeps its stack: see Abandon.
  ~HostLifeCycle() { AbandonScripts(); }
  HostLifeCycle(const HostLifeCycle&) = delete;
  HostLifeCycle& operator=(const HostLifeCycle&) = delete;

  // Makes the host functions reachable, then loads the module at `path` after
  // those loaded before it and lets its entry see process attach,
  // `beforeAttach` running just before (see platform::LoadPluginModule).
  // False, with `error` set, when either fails; that module is not loaded then.
  bool Load(const std::string& path, const std::function<void(void* module)>& beforeAttach,
            std::string& error);
  // Stops the keyboard thread (it ends while the modules are still loaded, so
  // they see it leave), lets the scripts go for good (their fibres run the
  // modules' code), then, in reverse load order, runs `beforeDetach`, lets
  // each module's entry see process detach, unloads it and notes whether it
  // left a script registered (see LeftRegistered). False, with `error` set to
  // the first failure, when an entry refused or a module would not unload;
  // every module counts as unloaded either way.
  bool Unload(const std::function<void()>& beforeDetach, std::string& error);
  bool Loaded() const { return !modules_.empty(); }
  // The file name of the module whose entry runs now (process attach or
  // detach), or else of the module loaded last; empty for none.
  const std::string& PluginName() const { return pluginName_; }
  // The file names of the modules loaded, in load order.
  std::vector<std::string> PluginNames() const;

  // What the plug-in registers and unregisters through the host functions.
  // Each refusal is null for a call the host accepts, else what is wrong with
  // it; a host that checks them refuses before it registers.
  const char* ScriptRegisterRefusal(ScriptEntry entry) const;
  const char* AdditionalThreadRefusal(ScriptEntry entry) const;
  const char* ScriptUnregisterRefusal(void* module) const;
  const char* ScriptFunctionUnregisterRefusal(ScriptEntry entry) const;
  const char* KeyboardHandlerRegisterRefusal(KeyboardHandler handler) const;
  const char* KeyboardHandlerUnregisterRefusal(KeyboardHandler handler) const;
  // Adds a script of `module` after those registered before it: the main
  // script (scriptRegister) and an additional thread are kept alike.
  void RegisterScript(void* module, ScriptEntry entry);
  // Every script of `module` (scriptUnregister with a module handle).
  void UnregisterModule(void* module);
  // The scripts registered with `entry` (scriptUnregister's older form).
  void UnregisterScriptFunction(ScriptEntry entry);
  // Every script.
  void UnregisterScript();
  // `handler` after those registered before it, on behalf of the module
  // named `plugin` (by default the one whose entry runs now, or else the
  // one loaded last), which a handler left at detach is named by.
  void RegisterKeyboardHandler(KeyboardHandler handler, const std::string& plugin);
  void RegisterKeyboardHandler(KeyboardHandler handler) {
    RegisterKeyboardHandler(handler, pluginName_);
  }
  // The first registration of `handler`.
  void UnregisterKeyboardHandler(KeyboardHandler handler);
  // Every handler.
  void UnregisterKeyboardHandler() { keyboardHandlers_.clear(); }
  // A function of the program's own as the registered script (tests linked
  // with the plug-in's core), in place of any script and its fibre.
  void SetScript(std::function<void()> script);
  // That script stopped by the host: the keyboard thread ends and the script
  // is forgotten; there is no module to unload.
  void EndOwnScript();
  // What the plug-ins left registered once their entries saw process detach:
  // null when nothing, else the first thing one should have unregistered
  // (naming the module, script or keyboard handler alike, when several were
  // loaded).
  const char* LeftRegistered() const;

  // Every script registered so far, unregistered ones included (they never
  // run again), in registration order. Registration happens on the host's
  // thread only, never while the frame loop walks the list.
  const std::vector<std::unique_ptr<HostedScript>>& Scripts() const { return scripts_; }
  // Whether some script is registered and not unregistered, which can be started.
  bool ScriptRegistered() const;
  bool KeyboardHandlerRegistered() const { return !keyboardHandlers_.empty(); }
  // How many keyboard handlers the module named `plugin` registered in the
  // run, unregistered ones included.
  std::int32_t KeyboardHandlersRegisteredBy(const std::string& plugin) const;

  // The first script (the main one of a plug-in with one script), for a
  // host that runs only that one (replay). Its fibre: null before the first
  // start, after a drop and when no script is registered.
  Fibre* Script() const { return scripts_.empty() ? nullptr : scripts_.front()->fibre.get(); }
  // Puts `script` on a new fibre, not yet run; the caller resumes it.
  // Counted as a start. Without an argument, the first runnable script.
  void BeginScript(HostedScript& script);
  void BeginScript();
  // Runs the first script until it waits (or stops for good, or returns).
  void ResumeScript() { scripts_.front()->fibre->Resume(); }
  // Drops every script's fibre where it stands, as the real host deletes the
  // fiber: nothing on its stack unwinds and it never runs again. A dropped
  // fibre is freed with its script's next drop or the life cycle. False when
  // there was no fibre to drop.
  bool DropScript();
  // How many times the scripts have been begun, all together.
  std::int32_t ScriptStarts() const { return scriptStarts_; }
  // The first of the fibres the host dropped last; null when none was.
  const Fibre* DroppedScript() const {
    return scripts_.empty() ? nullptr : scripts_.front()->dropped.get();
  }
  // The first script fibre's stack: the deepest it has been used so far, of
  // its size; measured as a fibre is let go, so that the figure outlives it.
  StackUse ScriptStack() const;

  // Calls every registered keyboard handler in registration order with the
  // message's seven arguments on the game window's thread (started at the
  // first message) and returns once they have returned. False, delivering
  // nothing, when none is registered.
  bool DeliverKey(const std::uint32_t (&args)[7]);
  // Ends the game window's thread, which the next message starts again.
  void StopKeyboard() { keyboard_.reset(); }

 private:
  // Lets the fibres still running go without freeing their stacks (see Abandon).
  void AbandonScripts();
  // Notes, for LeftRegistered, a keyboard handler that `module` (a file name)
  // left registered past its process detach, unless one was noted before.
  void NoteKeyboardHandlerLeft(const std::string& module);

  struct KeyboardRegistration {
    KeyboardHandler handler;
    std::string plugin;  // the file name of the module it was registered for
  };

  struct LoadedModule {
    void* handle;      // as the plug-in is given it
    std::string name;  // its file name
  };

  std::size_t stackSize_;
  std::vector<LoadedModule> modules_;  // in load order
  int modulesLoaded_ = 0;              // all the run has loaded, unloaded ones too
  std::string leftBy_;                 // see LeftRegistered; empty when none left a script
  std::string keyboardLeftBy_;         // likewise for a keyboard handler
  std::string pluginName_;             // see PluginName
  std::vector<std::unique_ptr<HostedScript>> scripts_;
  std::vector<KeyboardRegistration> keyboardHandlers_;  // registered now, in order
  std::vector<std::string> keyboardRegistrants_;        // one name per registration in the run
  std::int32_t scriptStarts_ = 0;
  std::unique_ptr<KeyboardThread> keyboard_;
};

}  // namespace sim
