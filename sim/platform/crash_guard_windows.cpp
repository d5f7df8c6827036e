// The Windows half of the crash guard: a vectored exception handler, which
// the system calls before any frame-based handler. For a hardware exception
// raised on the script fibre it rewrites the context so that execution
// continues in the landing function on the script's own stack, below the
// crashed frame, as the Linux half does from its signal handler. An abort
// reaches the C runtime's SIGABRT handler, which raise() calls as an
// ordinary function on the aborting stack: it goes to the landing directly.
// C++ exceptions are left alone here (they pass through vectored handlers
// while they look for a catch); one that escapes the script ends in abort.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// winbase.h defines Yield() away; sim::Fibre, in this file's unity batch, has one.
#undef Yield

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "sim/platform/crash_guard.h"

namespace sim::platform {

namespace {

struct Guard {
  PVOID handler = nullptr;  // the vectored handler, while installed
  OnScriptFibreTest onScriptFibre = nullptr;
  CrashLanding landing = nullptr;
  void (*previousAbort)(int) = SIG_DFL;
  volatile LONG landed = 0;
  ScriptCrash crash;
  HANDLE watchdog = nullptr;
  int watchdogStatus = 0;
};
Guard g_guard;

const char* Describe(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
      return "an access violation (0xC0000005)";
    case EXCEPTION_IN_PAGE_ERROR:
      return "an in-page error (0xC0000006)";
    case EXCEPTION_ILLEGAL_INSTRUCTION:
      return "an illegal instruction (0xC000001D)";
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return "an integer division by zero (0xC0000094)";
    case EXCEPTION_PRIV_INSTRUCTION:
      return "a privileged instruction (0xC0000096)";
    default:
      return nullptr;
  }
}

LONG CALLBACK Handler(PEXCEPTION_POINTERS e) {
  const char* what = Describe(e->ExceptionRecord->ExceptionCode);
  if (what == nullptr || g_guard.onScriptFibre == nullptr || !g_guard.onScriptFibre()) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (InterlockedExchange(&g_guard.landed, 1) != 0) {
    std::fputs("rebound-sim: the plug-in crashed again while its crash was being reported\n",
               stderr);
    ExitProcess(static_cast<UINT>(g_guard.watchdogStatus != 0 ? g_guard.watchdogStatus : 6));
  }
  g_guard.crash.what = what;
  g_guard.crash.hasAddress = e->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
                             e->ExceptionRecord->NumberParameters >= 2;
  if (g_guard.crash.hasAddress) {
    g_guard.crash.address =
        static_cast<std::uintptr_t>(e->ExceptionRecord->ExceptionInformation[1]);
  }
  // Below the crashed frame, aligned as at a function's entry.
  CONTEXT* c = e->ContextRecord;
  c->Rsp = ((c->Rsp - 256) & ~DWORD64{15}) - 8;
  c->Rip = reinterpret_cast<DWORD64>(g_guard.landing);
  return EXCEPTION_CONTINUE_EXECUTION;
}

void OnAbort(int signal) {
  if (g_guard.onScriptFibre == nullptr || !g_guard.onScriptFibre() ||
      InterlockedExchange(&g_guard.landed, 1) != 0) {
    std::signal(signal, SIG_DFL);
    return;
  }
  g_guard.crash.what = "an abort (SIGABRT)";
  g_guard.landing();
}

DWORD WINAPI Watchdog(LPVOID) {
  Sleep(5000);
  std::fputs(
      "rebound-sim: the plug-in crashed, and the state it left kept the simulator from "
      "reporting it\n",
      stderr);
  ExitProcess(static_cast<UINT>(g_guard.watchdogStatus));
}

}  // namespace

bool InstallCrashGuard(OnScriptFibreTest onScriptFibre, CrashLanding landing) {
  g_guard.onScriptFibre = onScriptFibre;
  g_guard.landing = landing;
  g_guard.landed = 0;
  g_guard.crash = ScriptCrash{};
  if (g_guard.handler != nullptr) return true;
  g_guard.handler = AddVectoredExceptionHandler(1, &Handler);
  g_guard.previousAbort = std::signal(SIGABRT, &OnAbort);
  return g_guard.handler != nullptr;
}

void RemoveCrashGuard() {
  if (g_guard.handler == nullptr) return;
  RemoveVectoredExceptionHandler(g_guard.handler);
  g_guard.handler = nullptr;
  std::signal(SIGABRT, g_guard.previousAbort);
}

const ScriptCrash& LastScriptCrash() { return g_guard.crash; }

void ArmCrashWatchdog(int status) {
  g_guard.watchdogStatus = status;
  g_guard.watchdog = CreateThread(nullptr, 0, &Watchdog, nullptr, 0, nullptr);
}

void DisarmCrashWatchdog() {
  if (g_guard.watchdog == nullptr) return;
  TerminateThread(g_guard.watchdog, 0);
  CloseHandle(g_guard.watchdog);
  g_guard.watchdog = nullptr;
}

}  // namespace sim::platform
