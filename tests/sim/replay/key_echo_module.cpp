// A plug-in module whose calls show where its keyboard messages arrived: each
// message it has been given since its last look becomes one call of
// HIDE_HUD_COMPONENT_THIS_FRAME(key), and it looks before each of its two
// other calls of a frame and before its wait. Replay must deliver a message
// before the call it came before, or these calls move.
#include <atomic>
#include <cstdint>

#include "src/host/host_api.h"

namespace {

constexpr std::uint64_t kHideHudComponent = 0x6806C51AD12B83B8;
constexpr std::uint64_t kGetGameTimer = 0x9CD27B0045628463;
constexpr std::uint64_t kGetFrameCount = 0xFC8202EFC642E6F2;

// Written by the keyboard thread, read by the script: one writer, one reader.
constexpr std::uint32_t kRing = 64;
std::uint32_t keys[kRing];
std::atomic<std::uint32_t> written{0};
std::uint32_t read = 0;

void OnKey(std::uint32_t key, std::uint16_t, std::uint8_t, std::int32_t, std::int32_t, std::int32_t,
           std::int32_t) {
  const std::uint32_t n = written.load(std::memory_order_relaxed);
  keys[n % kRing] = key;
  written.store(n + 1, std::memory_order_release);
}

void Call(std::uint64_t hash) {
  nativeInit(hash);
  nativeCall();
}

void EchoKeys() {
  while (read != written.load(std::memory_order_acquire)) {
    nativeInit(kHideHudComponent);
    nativePush64(keys[read++ % kRing]);
    nativeCall();
  }
}

void Script() {
  for (;;) {
    EchoKeys();
    Call(kGetGameTimer);
    EchoKeys();
    Call(kGetFrameCount);
    EchoKeys();
    scriptWait(0);
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int ReboundLibraryEntry(void* module,
                                                                          unsigned int reason,
                                                                          void* /*reserved*/) {
  if (reason == 1) {
    scriptRegister(module, &Script);
    keyboardHandlerRegister(&OnKey);
  } else if (reason == 0) {
    scriptUnregister(module);
    keyboardHandlerUnregister(&OnKey);
  }
  return 1;
}

using SeedSource = std::uint32_t (*)();
extern "C" __attribute__((visibility("default"))) SeedSource ReboundSetSeedSource(
    SeedSource source) noexcept {
  return source;
}
