// What the plug-in has registered through the host's functions: its script
// entry and its keyboard handler. The eight functions themselves are
// Simulation's Host* members (host_functions.cpp), so that a native call
// reaches the simulation's state with no pointer to follow on the way.
#pragma once

#include <functional>

#include "sim/host/keyboard_thread.h"

namespace sim {

using ScriptEntry = void (*)();

struct HostRegistration {
  void* module = nullptr;  // the handle the script was registered with
  std::function<void()> script;
  bool scriptRegistered = false;
  KeyboardHandler keyboardHandler = nullptr;
};

}  // namespace sim
