// The Linux half of the crash guard: sigaction handlers on an alternate
// signal stack. The handler does not report the crash itself (next to
// nothing is safe to call in a signal handler, and the trace and the outputs
// are written through streams and the allocator). Nor does it jump out of
// the handler, which would leave the signal blocked and the kernel's idea of
// the alternate stack in use behind. It rewrites the interrupted context so
// that returning from the handler "calls" the landing function on the
// script's own stack, below the crashed frame: the kernel restores the signal
// mask on the way out, and the landing runs in ordinary context, from where
// it stops the script for good (it never returns into the crashed code).
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "sim/platform/crash_guard.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define REBOUND_SIM_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define REBOUND_SIM_SANITIZED 1
#endif
#endif

namespace sim::platform {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kAltStackSize = 64 * 1024;

// The guard's state: set by InstallCrashGuard on the simulator's thread
// before any script runs, read by the handler.
struct Guard {
  bool installed = false;
  OnScriptFibreTest onScriptFibre = nullptr;
  CrashLanding landing = nullptr;
  struct sigaction previous[sizeof kSignals / sizeof kSignals[0]] = {};
  std::terminate_handler previousTerminate = nullptr;
  stack_t previousAltStack = {};
  unsigned char* altStack = nullptr;
  volatile sig_atomic_t landed = 0;  // a crash was sent to the landing already
  ScriptCrash crash;
  int watchdogStatus = 0;
};
Guard g_guard;

const char* Describe(int signal) {
  switch (signal) {
    case SIGSEGV:
      return "an access violation (SIGSEGV)";
    case SIGBUS:
      return "a bus error (SIGBUS)";
    case SIGFPE:
      return "an arithmetic fault (SIGFPE)";
    case SIGILL:
      return "an illegal instruction (SIGILL)";
    case SIGABRT:
      return "an abort (SIGABRT)";
    default:
      return "a fatal signal";
  }
}

void WriteError(const char* text) {
  // Only write(2): this runs where nothing else is safe.
  const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  static_cast<void>(ignored);
}

// Leaves the signal to what was there before: the system's default kills the
// process as it would have without the guard.
void PassOn(int signal) {
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    if (kSignals[i] == signal) sigaction(signal, &g_guard.previous[i], nullptr);
  }
}

// Unused in a sanitized build, which leaves these signals to the sanitizer.
[[maybe_unused]] void Handler(int signal, siginfo_t* info, void* context) {
  if (!g_guard.installed || g_guard.onScriptFibre == nullptr || !g_guard.onScriptFibre()) {
    PassOn(signal);
    return;  // the faulting instruction runs again under the previous action
  }
  if (g_guard.landed != 0) {
    // The landing itself crashed: the script's state is beyond reporting.
    WriteError("rebound-sim: the plug-in crashed again while its crash was being reported\n");
    _exit(g_guard.watchdogStatus != 0 ? g_guard.watchdogStatus : 6);
  }
  g_guard.landed = 1;
  g_guard.crash.what = Describe(signal);
  g_guard.crash.hasAddress = signal == SIGSEGV || signal == SIGBUS;
  g_guard.crash.address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
  // Below the crashed frame and its red zone, aligned as at a function's
  // entry (as if a call had pushed its return address).
  std::uintptr_t sp = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
  sp = ((sp - 256) & ~std::uintptr_t{15}) - 8;
  uc->uc_mcontext.gregs[REG_RSP] = static_cast<greg_t>(sp);
  uc->uc_mcontext.gregs[REG_RIP] =
      static_cast<greg_t>(reinterpret_cast<std::uintptr_t>(g_guard.landing));
#elif defined(__aarch64__)
  std::uintptr_t sp = static_cast<std::uintptr_t>(uc->uc_mcontext.sp);
  uc->uc_mcontext.sp = (sp - 256) & ~std::uintptr_t{15};
  uc->uc_mcontext.pc = reinterpret_cast<std::uintptr_t>(g_guard.landing);
#endif
}

// An exception that escapes the script finds no handler on the fibre, and
// the runtime terminates: its what() is kept for the landing before the
// abort that follows is caught as the crash.
[[noreturn, maybe_unused]] void Terminate() {
  if (g_guard.onScriptFibre != nullptr && g_guard.onScriptFibre()) {
    const char* what = "an exception of a type not derived from std::exception";
    std::exception_ptr current = std::current_exception();
    if (current == nullptr) what = "std::terminate called without an exception";
    try {
      if (current != nullptr) std::rethrow_exception(current);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    std::strncpy(g_guard.crash.exception, what, sizeof g_guard.crash.exception - 1);
    std::abort();
  }
  if (g_guard.previousTerminate != nullptr) g_guard.previousTerminate();
  std::abort();
}

void WatchdogExpired(int /*signal*/) {
  WriteError(
      "rebound-sim: the plug-in crashed, and the state it left kept the simulator from "
      "reporting it (the crash held a lock of the allocator)\n");
  _exit(g_guard.watchdogStatus);
}

}  // namespace

bool InstallCrashGuard(OnScriptFibreTest onScriptFibre, CrashLanding landing) {
#if defined(REBOUND_SIM_SANITIZED) || !(defined(__x86_64__) || defined(__aarch64__))
  static_cast<void>(onScriptFibre);
  static_cast<void>(landing);
  return false;
#else
  g_guard.onScriptFibre = onScriptFibre;
  g_guard.landing = landing;
  g_guard.landed = 0;
  g_guard.crash = ScriptCrash{};
  if (g_guard.installed) return true;
  g_guard.altStack = new unsigned char[kAltStackSize];
  stack_t alt = {};
  alt.ss_sp = g_guard.altStack;
  alt.ss_size = kAltStackSize;
  sigaltstack(&alt, &g_guard.previousAltStack);
  struct sigaction action = {};
  action.sa_sigaction = &Handler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    sigaction(kSignals[i], &action, &g_guard.previous[i]);
  }
  g_guard.previousTerminate = std::set_terminate(&Terminate);
  g_guard.installed = true;
  return true;
#endif
}

void RemoveCrashGuard() {
  if (!g_guard.installed) return;
  g_guard.installed = false;
  for (std::size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    sigaction(kSignals[i], &g_guard.previous[i], nullptr);
  }
  std::set_terminate(g_guard.previousTerminate);
  // The landing ran on the script's stack, never on this one: nothing stands
  // on it, once the kernel no longer knows it.
  sigaltstack(&g_guard.previousAltStack, nullptr);
  delete[] g_guard.altStack;
  g_guard.altStack = nullptr;
}

const ScriptCrash& LastScriptCrash() { return g_guard.crash; }

void ArmCrashWatchdog(int status) {
  g_guard.watchdogStatus = status;
  signal(SIGALRM, &WatchdogExpired);
  alarm(5);
}

void DisarmCrashWatchdog() {
  alarm(0);
  signal(SIGALRM, SIG_DFL);
}

}  // namespace sim::platform
