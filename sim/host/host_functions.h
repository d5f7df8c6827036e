// The types of the host functions' arguments, as the simulator names them. The
// functions themselves are Simulation's Host* members (host_functions.cpp), so
// that a native call reaches the simulation's state with no pointer to follow
// on the way; what the plug-in registers is kept by its HostLifeCycle.
#pragma once

#include "sim/host/keyboard_thread.h"

namespace sim {

using ScriptEntry = void (*)();

}  // namespace sim
