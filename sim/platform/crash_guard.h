// Catches a crash of the plug-in's script as the real host's exception
// handler does: an access violation, an abort or a C++ exception escaping
// the script, raised while the script's fibre runs, ends in a landing
// function the host gives, on the fibre, in ordinary (not signal) context,
// so that the host can name the crash, end its trace and stop the run
// without ever resuming the script. A crash anywhere else (the simulator's
// own code, another thread) is left to the system as before.
#pragma once

#include <cstdint>

namespace sim::platform {

// What the guard saw of the crash, for the landing function to name.
struct ScriptCrash {
  const char* what = "";       // "an access violation (SIGSEGV)", "an abort (SIGABRT)", ...
  std::uintptr_t address = 0;  // the faulting address, for an access violation; else 0
  bool hasAddress = false;
  char exception[256] = {};  // what() of a C++ exception that escaped, or empty
};

// Whether the crashing code runs on the script fibre; read in the signal
// handler, so it reads a thread-local and nothing more.
using OnScriptFibreTest = bool (*)();
// Never returns: names the crash and stops the script for good.
using CrashLanding = void (*)();

// Installs the guard for the process; false where it cannot be (a build with
// AddressSanitizer or ThreadSanitizer, whose own handlers catch these
// signals, or a processor the landing is not written for). Installing twice
// replaces the landing.
bool InstallCrashGuard(OnScriptFibreTest onScriptFibre, CrashLanding landing);
// Puts back what was there before InstallCrashGuard.
void RemoveCrashGuard();

// The crash the landing function was sent for.
const ScriptCrash& LastScriptCrash();

// A landing that hangs (the crash left a lock of the allocator held) ends the
// process after a few seconds with `status`, saying so on standard error;
// the landing disarms it once its report is out.
void ArmCrashWatchdog(int status);
void DisarmCrashWatchdog();

}  // namespace sim::platform
