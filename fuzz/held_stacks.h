// Keeps what a script fibre that a fuzz run gives up still holds reachable at
// the leak checks. A script stopped at a fault, dropped by the host or left
// where a replay's check ended is never unwound, so whatever it allocated is
// pointed to only from its stack; the fibre is not destroyed unmeasured, and
// of a measured one only the words of its stack in use are kept, copied (a
// whole stack an input would grow the fuzzer by its size, until it met its
// memory limit within minutes). Used by the world and recording-commands
// fuzz targets.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "sim/platform/fibre.h"

namespace rebound::fuzz {

// The stack keeps the poisoned red zones of frames that never returned, so it
// is read without the sanitizer's checks, a word at a time.
#if defined(__SANITIZE_ADDRESS__) || defined(__clang__)
__attribute__((no_sanitize("address")))
#endif
inline std::vector<std::uintptr_t>
StackWords(std::span<const unsigned char> stack) {
  const unsigned char* bytes = stack.data();
  std::vector<std::uintptr_t> words(stack.size() / sizeof(std::uintptr_t));
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::memcpy(&words[i], bytes + i * sizeof(std::uintptr_t), sizeof(std::uintptr_t));
  }
  return words;
}

inline void KeepWhatItHolds(std::unique_ptr<sim::Fibre> fibre) {
  // Never destroyed: the leak checks run after static destructors.
  static auto& heldWords = *new std::vector<std::vector<std::uintptr_t>>();
  static auto& unmeasured = *new std::vector<std::unique_ptr<sim::Fibre>>();
  const std::span<const unsigned char> inUse = fibre->StackInUse();
  if (inUse.empty()) {
    unmeasured.push_back(std::move(fibre));
  } else {
    heldWords.push_back(StackWords(inUse));
  }
}

}  // namespace rebound::fuzz
