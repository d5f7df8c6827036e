// Another answerer of the host's eight functions, for a program that loads the
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
  virtual void ScriptRegister(void* module, ScriptEntry entry) = 0;
  virtual void ScriptUnregister(void* module) = 0;
  virtual void KeyboardHandlerRegister(KeyboardHandler handler) = 0;
  virtual void KeyboardHandlerUnregister(KeyboardHandler handler) = 0;
  virtual void ScriptWait(std::uint32_t ms) = 0;
  virtual void NativeInit(std::uint64_t hash) = 0;
  virtual void NativePush(std::uint64_t value) = 0;
  virtual std::uint64_t* NativeCall() = 0;

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
