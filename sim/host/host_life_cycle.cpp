#include "sim/host/host_life_cycle.h"

#include <algorithm>

#include "sim/host/host_exports.h"
#include "sim/platform/module.h"

namespace sim {

namespace {

// The last part of a path, after either kind of slash.
std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool HostLifeCycle::Load(const std::string& path,
                         const std::function<void(void* module)>& beforeAttach,
                         std::string& error) {
  if (!ProvideHostFunctions(error)) return false;
  const std::string previous = pluginName_;
  pluginName_ = FileName(path);
  void* module = platform::LoadPluginModule(path, beforeAttach, error);
  if (module == nullptr) {
    pluginName_ = previous;
    return false;
  }
  modules_.push_back({module, pluginName_});
  ++modulesLoaded_;
  return true;
}

std::vector<std::string> HostLifeCycle::PluginNames() const {
  std::vector<std::string> names;
  for (const LoadedModule& m : modules_) names.push_back(m.name);
  return names;
}

// The scripts' fibres go before any module does: a fibre left would run the
// code of a module unloaded under it.
bool HostLifeCycle::Unload(const std::function<void()>& beforeDetach, std::string& error) {
  keyboard_.reset();
  AbandonScripts();
  bool ok = true;
  while (!modules_.empty()) {
    const LoadedModule module = modules_.back();
    modules_.pop_back();
    pluginName_ = module.name;
    if (beforeDetach) beforeDetach();
    std::string unloadError;
    if (!platform::UnloadPluginModule(module.handle, unloadError) && ok) {
      error = unloadError;
      ok = false;
    }
    const bool left = std::any_of(scripts_.begin(), scripts_.end(), [&](const auto& s) {
      return s->Runnable() && s->module == module.handle;
    });
    if (left && leftBy_.empty()) {
      leftBy_ = "the script of " + module.name + " is still registered after its process detach";
    }
    NoteKeyboardHandlerLeft(module.name);
  }
  return ok;
}

void HostLifeCycle::NoteKeyboardHandlerLeft(const std::string& module) {
  const bool left = std::any_of(keyboardHandlers_.begin(), keyboardHandlers_.end(),
                                [&](const KeyboardRegistration& r) { return r.plugin == module; });
  if (left && keyboardLeftBy_.empty()) {
    keyboardLeftBy_ =
        "the keyboard handler of " + module + " is still registered after its process detach";
  }
}

// The host takes registrations on its own thread, never from a script: a
// script that registers itself again would run inside itself.
const char* HostLifeCycle::ScriptRegisterRefusal(ScriptEntry entry) const {
  if (Fibre::OnFibre()) return "scriptRegister called from the script fibre";
  if (entry == nullptr) return "scriptRegister with a null script entry";
  return nullptr;
}

const char* HostLifeCycle::AdditionalThreadRefusal(ScriptEntry entry) const {
  if (Fibre::OnFibre()) return "scriptRegisterAdditionalThread called from the script fibre";
  if (entry == nullptr) return "scriptRegisterAdditionalThread with a null script entry";
  return nullptr;
}

const char* HostLifeCycle::ScriptUnregisterRefusal(void* module) const {
  if (Fibre::OnFibre()) return "scriptUnregister called from the script fibre";
  if (!ScriptRegistered()) return "scriptUnregister without a registered script";
  const bool ofModule = std::any_of(scripts_.begin(), scripts_.end(), [module](const auto& s) {
    return s->registered && s->module == module;
  });
  if (!ofModule) return "scriptUnregister with another module handle than the one registered";
  return nullptr;
}

const char* HostLifeCycle::ScriptFunctionUnregisterRefusal(ScriptEntry entry) const {
  if (Fibre::OnFibre()) return "scriptUnregister called from the script fibre";
  const bool registered = std::any_of(scripts_.begin(), scripts_.end(), [entry](const auto& s) {
    return s->registered && s->entry != nullptr && s->entry == entry;
  });
  if (!registered) return "scriptUnregister with a script function that is not registered";
  return nullptr;
}

const char* HostLifeCycle::KeyboardHandlerRegisterRefusal(KeyboardHandler handler) const {
  return handler == nullptr ? "keyboardHandlerRegister with a null handler" : nullptr;
}

const char* HostLifeCycle::KeyboardHandlerUnregisterRefusal(KeyboardHandler handler) const {
  const bool registered =
      std::any_of(keyboardHandlers_.begin(), keyboardHandlers_.end(),
                  [handler](const KeyboardRegistration& r) { return r.handler == handler; });
  return handler == nullptr || !registered
             ? "keyboardHandlerUnregister with a handler that is not the registered one"
             : nullptr;
}

void HostLifeCycle::RegisterScript(void* module, ScriptEntry entry) {
  auto script = std::make_unique<HostedScript>();
  script->module = module;
  script->entry = entry;
  // Named by its handle: a script may register long after its module loaded.
  script->plugin = pluginName_;
  for (const LoadedModule& m : modules_) {
    if (m.handle == module) script->plugin = m.name;
  }
  // A null entry registers nothing that could be started.
  if (entry != nullptr) script->body = [entry] { entry(); };
  script->runnable = entry != nullptr;
  script->index = static_cast<std::int32_t>(scripts_.size());
  scripts_.push_back(std::move(script));
}

// An unregistered script stays in the list, so that its index and a fibre
// the frame loop may be running stay where they are; it is never run again.
void HostLifeCycle::UnregisterModule(void* module) {
  for (auto& s : scripts_) {
    if (s->module == module) s->Unregister();
  }
}

void HostLifeCycle::UnregisterScriptFunction(ScriptEntry entry) {
  for (auto& s : scripts_) {
    if (s->entry != nullptr && s->entry == entry) s->Unregister();
  }
}

void HostLifeCycle::UnregisterScript() {
  for (auto& s : scripts_) s->Unregister();
}

void HostLifeCycle::RegisterKeyboardHandler(KeyboardHandler handler, const std::string& plugin) {
  keyboardHandlers_.push_back({handler, plugin});
  keyboardRegistrants_.push_back(plugin);
}

void HostLifeCycle::UnregisterKeyboardHandler(KeyboardHandler handler) {
  const auto at =
      std::find_if(keyboardHandlers_.begin(), keyboardHandlers_.end(),
                   [handler](const KeyboardRegistration& r) { return r.handler == handler; });
  if (at != keyboardHandlers_.end()) keyboardHandlers_.erase(at);
}

std::int32_t HostLifeCycle::KeyboardHandlersRegisteredBy(const std::string& plugin) const {
  return static_cast<std::int32_t>(
      std::count(keyboardRegistrants_.begin(), keyboardRegistrants_.end(), plugin));
}

void HostLifeCycle::SetScript(std::function<void()> script) {
  AbandonScripts();
  scripts_.clear();
  auto own = std::make_unique<HostedScript>();
  own->runnable = static_cast<bool>(script);
  own->body = std::move(script);
  scripts_.push_back(std::move(own));
}

// The script stays listed, unregistered, so that a fibre the host dropped
// can still be looked at.
void HostLifeCycle::EndOwnScript() {
  keyboard_.reset();
  AbandonScripts();
  UnregisterScript();
}

const char* HostLifeCycle::LeftRegistered() const {
  // Among several modules, the one that left its script is named.
  if (modulesLoaded_ > 1 && !leftBy_.empty()) return leftBy_.c_str();
  if (ScriptRegistered()) return "the script is still registered after process detach";
  if (!keyboardHandlers_.empty()) {
    if (modulesLoaded_ > 1 && !keyboardLeftBy_.empty()) return keyboardLeftBy_.c_str();
    return "the keyboard handler is still registered after process detach";
  }
  return nullptr;
}

bool HostLifeCycle::ScriptRegistered() const {
  return std::any_of(scripts_.begin(), scripts_.end(), [](const auto& s) { return s->Runnable(); });
}

void HostLifeCycle::BeginScript(HostedScript& script) {
  if (script.fibre) script.lastStack = script.fibre->PeakStackUse();
  Abandon(std::move(script.fibre));
  script.fibre = std::make_unique<Fibre>(script.body, stackSize_);
  script.wakeFrame = 0;
  script.wakeAtMs = 0;
  script.hostDepth = 0;
  ++script.starts;
  ++scriptStarts_;
}

void HostLifeCycle::BeginScript() {
  for (auto& s : scripts_) {
    if (s->Runnable()) return BeginScript(*s);
  }
}

bool HostLifeCycle::DropScript() {
  bool any = false;
  for (auto& s : scripts_) {
    if (!s->fibre) continue;
    s->lastStack = s->fibre->PeakStackUse();
    s->dropped = std::move(s->fibre);
    s->wakeFrame = 0;
    s->wakeAtMs = 0;
    s->hostDepth = 0;
    any = true;
  }
  return any;
}

StackUse HostLifeCycle::ScriptStack() const {
  if (scripts_.empty()) return {};
  const HostedScript& first = *scripts_.front();
  return first.fibre ? first.fibre->PeakStackUse() : first.lastStack;
}

void HostLifeCycle::AbandonScripts() {
  for (auto& s : scripts_) {
    if (s->fibre) s->lastStack = s->fibre->PeakStackUse();
    Abandon(std::move(s->fibre));
  }
}

bool HostLifeCycle::DeliverKey(const std::uint32_t (&args)[7]) {
  if (keyboardHandlers_.empty()) return false;
  if (!keyboard_) keyboard_ = std::make_unique<KeyboardThread>();
  // By index, not over a copy of the list, which a frame would count as the
  // host's allocation. A handler may unregister itself while it runs: the
  // next one then takes its place and is not passed over.
  for (std::size_t i = 0; i < keyboardHandlers_.size();) {
    const KeyboardHandler handler = keyboardHandlers_[i].handler;
    keyboard_->Deliver(handler, args);
    if (i < keyboardHandlers_.size() && keyboardHandlers_[i].handler == handler) ++i;
  }
  return true;
}

}  // namespace sim
