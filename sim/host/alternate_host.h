// Another answerer of the host's functions, for a program that loads the
// plug-in without a Simulation (replay answers it from a recording). The host
// exports reach it only when no simulation is active, on a path of their own
// off the simulation's quick one, so a simulation's calls cost nothing more.
#pragma once

#include <cstdint>

#include "sim/host/host_functions.h"

namespace sim {

class AlternateHost {
 public:
  virtual ~AlternateHost() = default;
  // One for each of REBOUND_HOST_FUNCTIONS (host_functions.h), by its Member name.
#define REBOUND_ALTERNATE_HOST_FUNCTION(name, Member, decorated, Return, Params, Args) \
  virtual Return Member Params = 0;
  REBOUND_HOST_FUNCTIONS(REBOUND_ALTERNATE_HOST_FUNCTION)
#undef REBOUND_ALTERNATE_HOST_FUNCTION

  // The host the exports fall back to while no simulation runs; null for
  // none (a call then stops the program, as before). One at a time.
  static AlternateHost* Active() { return active_; }
  static void SetActive(AlternateHost* host) { active_ = host; }

 private:
  static inline AlternateHost* active_ = nullptr;
};

// Sets `host` as the alternate host for the life of the scope.
class AlternateHostScope {
 public:
  explicit AlternateHostScope(AlternateHost& host) { AlternateHost::SetActive(&host); }
  ~AlternateHostScope() { AlternateHost::SetActive(nullptr); }
  AlternateHostScope(const AlternateHostScope&) = delete;
  AlternateHostScope& operator=(const AlternateHostScope&) = delete;
};

}  // namespace sim
