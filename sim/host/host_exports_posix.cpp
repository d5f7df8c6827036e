// The host functions of the Linux simulator, one for each entry of
// REBOUND_HOST_FUNCTIONS: plain C symbols exported from the executable, to
// which the plug-in module's undefined references bind when it is loaded.
#include <cstdio>
#include <cstdlib>

#include "sim/host/alternate_host.h"
#include "sim/host/host_exports.h"
#include "sim/host/simulation.h"

namespace {

[[noreturn, gnu::cold, gnu::noinline]] void NoSimulation() {
  std::fprintf(stderr, "rebound-sim: a host function was called with no simulation running\n");
  std::abort();
}

// With no simulation active: the alternate host (replay), or a stop. Out of
// line and cold, each reached by a tail call, so that the exports' quick way
// through (a simulation is active) is one test, as it was before.
sim::AlternateHost* Alternate() {
  sim::AlternateHost* host = sim::AlternateHost::Active();
  if (host == nullptr) NoSimulation();
  return host;
}

#define REBOUND_ALTERNATE_CALL(name, Member, decorated, Return, Params, Args) \
  [[gnu::cold, gnu::noinline]] Return Other##Member Params { return Alternate()->Member Args; }
REBOUND_HOST_FUNCTIONS(REBOUND_ALTERNATE_CALL)
#undef REBOUND_ALTERNATE_CALL

}  // namespace

namespace sim {

// The symbols below are in the executable from the start.
bool ProvideHostFunctions(std::string& /*error*/) { return true; }

}  // namespace sim

#define REBOUND_SIM_EXPORT extern "C" __attribute__((visibility("default")))

// Each asks for the active simulation once; with none, it goes the cold way.
#define REBOUND_SIM_EXPORT_FUNCTION(name, Member, decorated, Return, Params, Args) \
  REBOUND_SIM_EXPORT Return name Params {                                          \
    sim::Simulation* s = sim::Simulation::Active();                                \
    if (s == nullptr) [[unlikely]]                                                 \
      return Other##Member Args;                                                   \
    return s->Host##Member Args;                                                   \
  }
REBOUND_HOST_FUNCTIONS(REBOUND_SIM_EXPORT_FUNCTION)
#undef REBOUND_SIM_EXPORT_FUNCTION
