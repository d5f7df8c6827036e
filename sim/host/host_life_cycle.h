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

#include "sim/host/host_functions.h"
#include "sim/host/keyboard_thread.h"
#include "sim/platform/fibre.h"

namespace sim {

class HostLifeCycle {
 public:
  explicit HostLifeCycle(std::size_t stackSize) : stackSize_(stackSize) {}
  // A script that never finished keeps its stack: see Abandon.
  ~HostLifeCycle() { Abandon(std::move(fibre_)); }
  HostLifeCycle(const HostLifeCycle&) = delete;
  HostLifeCycle& operator=(const HostLifeCycle&) = delete;

  // Makes the host functions reachable, then loads the module at `path` and
  // lets its entry see process attach, `beforeAttach` running just before
  // (see platform::LoadPluginModule). False, with `error` set, when either
  // fails; nothing is loaded then.
  bool Load(const std::string& path, const std::function<void(void* module)>& beforeAttach,
            std::string& error);
  // Stops the keyboard thread (it ends while the module is still loaded, so
  // the module sees it leave), runs `beforeDetach`, lets the script go for
  // good (its fibre runs the module's code), then lets the entry see process
  // detach and unloads the module. False, with `error` set, when the entry
  // refused or the module would not unload; it counts as unloaded either way.
  bool Unload(const std::function<void()>& beforeDetach, std::string& error);
  bool Loaded() const { return module_ != nullptr; }

  // What the plug-in registers and unregisters through the host functions.
  // Each refusal is null for a call the host accepts, else what is wrong with
  // it; a host that checks them refuses before it registers.
  const char* ScriptRegisterRefusal(ScriptEntry entry) const;
  const char* ScriptUnregisterRefusal(void* module) const;
  const char* KeyboardHandlerRegisterRefusal(KeyboardHandler handler) const;
  const char* KeyboardHandlerUnregisterRefusal(KeyboardHandler handler) const;
  void RegisterScript(void* module, ScriptEntry entry);
  void UnregisterScript() { scriptRegistered_ = false; }
  void RegisterKeyboardHandler(KeyboardHandler handler) { keyboardHandler_ = handler; }
  void UnregisterKeyboardHandler() { keyboardHandler_ = nullptr; }
  // A function of the program's own as the registered script (tests linked
  // with the plug-in's core), in place of any script and its fibre.
  void SetScript(std::function<void()> script);
  // That script stopped by the host: the keyboard thread ends and the script
  // is forgotten; there is no module to unload.
  void EndOwnScript();
  // What the plug-in left registered once its entry saw process detach: null
  // when nothing, else the first thing it should have unregistered.
  const char* LeftRegistered() const;

  // A script registered and not unregistered, which can be started.
  bool ScriptRegistered() const { return scriptRegistered_ && static_cast<bool>(script_); }
  bool KeyboardHandlerRegistered() const { return keyboardHandler_ != nullptr; }

  // The script's fibre: null before the first start and after a drop.
  Fibre* Script() const { return fibre_.get(); }
  // Puts the registered script on a new fibre, not yet run; the caller
  // resumes it. Counted as a start.
  void BeginScript();
  // Runs the script until it waits (or stops for good, or returns).
  void ResumeScript() { fibre_->Resume(); }
  // Drops the script where it stands, as the real host deletes the fiber:
  // nothing on its stack unwinds and it never runs again. It is freed with
  // the next drop or the life cycle. False when there was no script to drop.
  bool DropScript();
  // How many times the script has been begun.
  std::int32_t ScriptStarts() const { return scriptStarts_; }
  // The fibre the host dropped last; null when none was.
  const Fibre* DroppedScript() const { return dropped_.get(); }
  // The script fibre's stack: the deepest it has been used so far, of its
  // size; measured as a fibre is let go, so that the figure outlives it.
  StackUse ScriptStack() const { return fibre_ ? fibre_->PeakStackUse() : lastStack_; }

  // Calls the registered keyboard handler with the message's seven arguments
  // on the game window's thread (started at the first message) and returns
  // once it has returned. False, delivering nothing, when none is registered.
  bool DeliverKey(const std::uint32_t (&args)[7]);
  // Ends the game window's thread, which the next message starts again.
  void StopKeyboard() { keyboard_.reset(); }

 private:
  // Lets a fibre still running go without freeing its stack (see Abandon).
  void AbandonScript();

  std::size_t stackSize_;
  void* module_ = nullptr;            // the loaded module's handle, as the plug-in is given it
  void* registeredModule_ = nullptr;  // the handle the script was registered with
  std::function<void()> script_;
  bool scriptRegistered_ = false;
  KeyboardHandler keyboardHandler_ = nullptr;
  std::unique_ptr<Fibre> fibre_;
  std::unique_ptr<Fibre> dropped_;  // see DroppedScript
  std::int32_t scriptStarts_ = 0;
  StackUse lastStack_;
  std::unique_ptr<KeyboardThread> keyboard_;
};

}  // namespace sim
