// A plug-in module with more than one script, for the tests of how the host
// runs them: a main script that calls PLAYER_PED_ID every frame, an
// additional thread that asks whether the scripts were started by a reload
// and calls GET_FRAME_COUNT once when it starts, and then
// GET_GAME_TIMER every 100 ms, and a keyboard handler whose keys the main
// script answers with one IS_CONTROL_JUST_PRESSED(0, key). At detach it
// unregisters the thread by its function (scriptUnregister's older form),
// then the rest by the module.
//
// THREADS_MODULE_MISTAKE in the environment makes it do one thing the host
// refuses: "from-script" registers another thread from the thread's second
// run, "null-thread" registers a null thread at attach, "unknown-function"
// unregisters at detach a function it never registered, "keep-scripts" leaves
// its scripts registered at detach, "keep-keyboard" leaves its keyboard
// handler registered at detach.
//
// Built with THREADS_MODULE_WITHOUT_SEED_EXPORT it lacks the seed source
// export, as any plug-in but Rebound does. A Windows DLL has DllMain and no
// seed source.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "src/host/host_api.h"
#include "tests/support/host_scripts_api.h"
#include "tests/support/script_module.h"

namespace {

constexpr std::uint64_t kPlayerPedId = 0xD80958FC74E988A6;
constexpr std::uint64_t kGetFrameCount = 0xFC8202EFC642E6F2;
constexpr std::uint64_t kGetGameTimer = 0x9CD27B0045628463;
constexpr std::uint64_t kIsControlJustPressed = 0x580417101DDB492F;
constexpr std::uint32_t kThreadWaitMs = 100;

std::atomic<std::uint32_t> lastKey{0};

bool Mistake(const char* which) {
  const char* mistake = std::getenv("THREADS_MODULE_MISTAKE");
  return mistake != nullptr && std::strcmp(mistake, which) == 0;
}

std::uint64_t* Call(std::uint64_t hash) {
  nativeInit(hash);
  return nativeCall();
}

void MainScript() {
  for (;;) {
    Call(kPlayerPedId);
    if (const std::uint32_t key = lastKey.exchange(0)) {
      nativeInit(kIsControlJustPressed);
      nativePush64(0);
      nativePush64(key);
      nativeCall();
    }
    scriptWait(0);
  }
}

void Idle() {
  for (;;) scriptWait(0);
}

void TimerThread() {
  scriptsAreLaunchedUsingReloading();
  Call(kGetFrameCount);
  for (int run = 0;; ++run) {
    Call(kGetGameTimer);
    if (run == 1 && Mistake("from-script")) scriptRegisterAdditionalThread(nullptr, &Idle);
    scriptWait(kThreadWaitMs);
  }
}

void OnKey(std::uint32_t key, std::uint16_t /*repeats*/, std::uint8_t /*scanCode*/,
           std::int32_t /*isExtended*/, std::int32_t /*isWithAlt*/, std::int32_t /*wasDownBefore*/,
           std::int32_t isUpNow) {
  if (isUpNow == 0) lastKey.store(key);
}

// What the host's loader tells the module: 1 process attach, 0 process detach.
void Entry(void* module, unsigned int reason) {
  if (reason == 1) {
    scriptRegister(module, &MainScript);
    scriptRegisterAdditionalThread(module, Mistake("null-thread") ? nullptr : &TimerThread);
    keyboardHandlerRegister(&OnKey);
  }
  if (reason == 0) {
    if (!Mistake("keep-keyboard")) keyboardHandlerUnregister(&OnKey);
    if (Mistake("keep-scripts")) return;
    scriptUnregisterScript(Mistake("unknown-function") ? &Idle : &TimerThread);
    scriptUnregister(module);
  }
}

}  // namespace

#if defined(_WIN32)
extern "C" __declspec(dllexport) int __stdcall DllMain(void* module, unsigned long reason,
                                                       void* /*reserved*/) {
  Entry(module, static_cast<unsigned int>(reason));
  return 1;
}
#else
#if !defined(THREADS_MODULE_WITHOUT_SEED_EXPORT)
REBOUND_TEST_SEED_SOURCE
#endif

extern "C" __attribute__((visibility("default"))) int ReboundLibraryEntry(void* module,
                                                                          unsigned int reason,
                                                                          void* /*reserved*/) {
  Entry(module, reason);
  return 1;
}
#endif
