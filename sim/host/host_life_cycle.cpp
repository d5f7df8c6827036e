#include "sim/host/host_life_cycle.h"

#include "sim/host/host_exports.h"
#include "sim/platform/module.h"

namespace sim {

bool HostLifeCycle::Load(const std::string& path,
                         const std::function<void(void* module)>& beforeAttach,
                         std::string& error) {
  if (!ProvideHostFunctions(error)) return false;
  module_ = platform::LoadPluginModule(path, beforeAttach, error);
  return module_ != nullptr;
}

bool HostLifeCycle::Unload(const std::function<void()>& beforeDetach, std::string& error) {
  keyboard_.reset();
  if (beforeDetach) beforeDetach();
  AbandonScript();
  void* module = module_;
  module_ = nullptr;
  return platform::UnloadPluginModule(module, error);
}

// The host takes registrations on its own thread, never from a script: a
// script that registers itself again would run inside itself.
const char* HostLifeCycle::ScriptRegisterRefusal(ScriptEntry entry) const {
  if (Fibre::OnFibre()) return "scriptRegister called from the script fibre";
  if (entry == nullptr) return "scriptRegister with a null script entry";
  return nullptr;
}

const char* HostLifeCycle::ScriptUnregisterRefusal(void* module) const {
  if (Fibre::OnFibre()) return "scriptUnregister called from the script fibre";
  if (!scriptRegistered_) return "scriptUnregister without a registered script";
  if (module != registeredModule_) {
    return "scriptUnregister with another module handle than the one registered";
  }
  return nullptr;
}

const char* HostLifeCycle::KeyboardHandlerRegisterRefusal(KeyboardHandler handler) const {
  return handler == nullptr ? "keyboardHandlerRegister with a null handler" : nullptr;
}

const char* HostLifeCycle::KeyboardHandlerUnregisterRefusal(KeyboardHandler handler) const {
  return handler != keyboardHandler_
             ? "keyboardHandlerUnregister with a handler that is not the registered one"
             : nullptr;
}

void HostLifeCycle::RegisterScript(void* module, ScriptEntry entry) {
  registeredModule_ = module;
  // A null entry registers nothing that could be started.
  script_ = entry != nullptr ? std::function<void()>([entry] { entry(); }) : nullptr;
  scriptRegistered_ = true;
}

void HostLifeCycle::SetScript(std::function<void()> script) {
  script_ = std::move(script);
  scriptRegistered_ = true;
  AbandonScript();
}

void HostLifeCycle::EndOwnScript() {
  keyboard_.reset();
  scriptRegistered_ = false;
  script_ = nullptr;
}

const char* HostLifeCycle::LeftRegistered() const {
  if (scriptRegistered_) return "the script is still registered after process detach";
  if (keyboardHandler_ != nullptr) {
    return "the keyboard handler is still registered after process detach";
  }
  return nullptr;
}

void HostLifeCycle::BeginScript() {
  fibre_ = std::make_unique<Fibre>(script_, stackSize_);
  ++scriptStarts_;
}

bool HostLifeCycle::DropScript() {
  if (!fibre_) return false;
  lastStack_ = fibre_->PeakStackUse();
  dropped_ = std::move(fibre_);
  return true;
}

void HostLifeCycle::AbandonScript() {
  if (fibre_) lastStack_ = fibre_->PeakStackUse();
  Abandon(std::move(fibre_));
}

bool HostLifeCycle::DeliverKey(const std::uint32_t (&args)[7]) {
  if (keyboardHandler_ == nullptr) return false;
  if (!keyboard_) keyboard_ = std::make_unique<KeyboardThread>();
  keyboard_->Deliver(keyboardHandler_, args);
  return true;
}

}  // namespace sim
