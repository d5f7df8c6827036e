// What a dropped script fibre leaves behind: of the plug-in's blocks still
// allocated once the module is gone, those the dropped stack still reached
// (directly, or through other such blocks) are the expected leak of a host
// that deletes the fiber without unwinding it; any other is a real leak.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/base/alloc_counter.h"
#include "tests/support/sanitizers.h"

namespace test {

struct LiveBlockAccount {
  std::vector<sim::LiveBlock> heldByStack;  // reached from the dropped stack
  std::vector<sim::LiveBlock> leaked;       // reached from nowhere the check knows
};

namespace detail {

// The dropped stack keeps the poisoned red zones of frames that never
// returned, so it is read without the sanitizer's checks, a word at a time
// as a conservative collector reads it.
#if defined(REBOUND_UNDER_ASAN)
__attribute__((no_sanitize("address")))
#endif
inline void
MarkReached(const unsigned char* from, std::size_t size,
            const std::vector<sim::LiveBlock>& byAddress, std::vector<bool>& reached,
            std::vector<std::size_t>& toScan) {
  for (std::size_t at = 0; at + sizeof(std::uintptr_t) <= size; at += sizeof(std::uintptr_t)) {
    std::uintptr_t word = 0;
    std::memcpy(&word, from + at, sizeof word);
    auto it = std::upper_bound(byAddress.begin(), byAddress.end(), word,
                               [](std::uintptr_t value, const sim::LiveBlock& block) {
                                 return value < reinterpret_cast<std::uintptr_t>(block.address);
                               });
    if (it == byAddress.begin()) continue;
    --it;
    const auto start = reinterpret_cast<std::uintptr_t>(it->address);
    const auto index = static_cast<std::size_t>(it - byAddress.begin());
    if (word - start < std::max<std::size_t>(it->size, 1) && !reached[index]) {
      reached[index] = true;
      toScan.push_back(index);
    }
  }
}

}  // namespace detail

// Sorts the live blocks into those the stack reaches and the rest.
inline LiveBlockAccount AccountForLiveBlocks(std::span<const unsigned char> stack,
                                             std::vector<sim::LiveBlock> live) {
  std::sort(live.begin(), live.end(),
            [](const sim::LiveBlock& a, const sim::LiveBlock& b) { return a.address < b.address; });
  std::vector<bool> reached(live.size(), false);
  std::vector<std::size_t> toScan;
  detail::MarkReached(stack.data(), stack.size(), live, reached, toScan);
  while (!toScan.empty()) {
    const sim::LiveBlock block = live[toScan.back()];
    toScan.pop_back();
    detail::MarkReached(static_cast<const unsigned char*>(block.address), block.size, live, reached,
                        toScan);
  }
  LiveBlockAccount account;
  for (std::size_t i = 0; i < live.size(); ++i) {
    (reached[i] ? account.heldByStack : account.leaked).push_back(live[i]);
  }
  return account;
}

// A block named by its size and, when it holds one of `texts` from its first
// byte, by that text. Only texts the test put there are looked for: any other
// bytes of a block (a heap address among them) may happen to read as text,
// and a name made of them would change from run to run.
inline std::string DescribeBlock(const sim::LiveBlock& block,
                                 std::initializer_list<std::string_view> texts = {}) {
  std::string name = std::to_string(block.size) + "-byte block";
  for (const std::string_view text : texts) {
    if (!text.empty() && text.size() <= block.size &&
        std::memcmp(block.address, text.data(), text.size()) == 0) {
      return name + " \"" + std::string(text) + "\"";
    }
  }
  return name;
}

}  // namespace test
