// The host functions for Windows programs that run the plug-in's code as the
// script of a simulation in the program itself (the tests, rebound-sim's panel
// demo). The core binds to the host's decorated names; here they are defined
// in the program and forward to the running simulation, as the Linux
// simulator's plain exports do. Loaded plug-ins still bind through the
// stand-in ScriptHookV.dll. This file joins the plug-in's declarations to the
// simulator, so it lives with the programs, outside sim/, which never
// includes the plug-in.
#include <cstdio>
#include <cstdlib>

#include "sim/host/simulation.h"
#include "src/host/host_api.h"

namespace {

sim::Simulation* Host() {
  sim::Simulation* s = sim::Simulation::Active();
  if (s == nullptr) {
    std::fprintf(stderr, "test host: a host function was called with no simulation running\n");
    std::abort();
  }
  return s;
}

}  // namespace

// The host functions the plug-in imports (sim/host/host_functions.h), as
// host_api.h declares them.
#define REBOUND_IN_PROCESS_HOST_FUNCTION(name, Member, decorated, Return, Params, Args) \
  Return name Params { return Host()->Host##Member Args; }
extern "C" {
REBOUND_PLUGIN_HOST_FUNCTIONS(REBOUND_IN_PROCESS_HOST_FUNCTION)
}
#undef REBOUND_IN_PROCESS_HOST_FUNCTION
