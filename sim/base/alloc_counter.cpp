#include "sim/base/alloc_counter.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

namespace sim {

constinit thread_local ScriptThreadState scriptThread;

namespace {

std::atomic<std::uint64_t> pluginAllocations{0};
std::atomic<std::uint64_t> simulatorAllocations{0};
std::atomic<std::uint64_t> pluginFrees{0};

// ---- The plug-in's live blocks, while tracked --------------------------------
// The table's own memory comes from malloc, not operator new, so that keeping
// it never reaches back here.
template <typename T>
struct MallocAllocator {
  using value_type = T;
  MallocAllocator() = default;
  template <typename U>
  MallocAllocator(const MallocAllocator<U>& /*other*/) noexcept {}
  T* allocate(std::size_t n) {
    void* p = std::malloc(n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t /*n*/) noexcept { std::free(p); }
  bool operator==(const MallocAllocator& /*other*/) const noexcept { return true; }
};

using BlockTable =
    std::unordered_map<const void*, LiveBlock, std::hash<const void*>, std::equal_to<const void*>,
                       MallocAllocator<std::pair<const void* const, LiveBlock>>>;

std::atomic<bool> tracking{false};
std::mutex& TableMutex() {
  static std::mutex m;
  return m;
}
BlockTable& Table() {
  static auto* table = new (std::malloc(sizeof(BlockTable))) BlockTable();
  return *table;
}

bool IsPlugins() noexcept { return scriptThread.scriptRunning && scriptThread.hostDepth == 0; }

void Remember(void* p, std::size_t size, bool aligned) noexcept {
  if (p == nullptr || !IsPlugins()) return;
  try {
    const std::lock_guard<std::mutex> lock(TableMutex());
    Table()[p] = LiveBlock{p, size, aligned};
  } catch (...) {
    // Out of memory for the table: the block goes untracked.
  }
}

void Forget(void* p) noexcept {
  if (p == nullptr || !tracking.load(std::memory_order_relaxed)) return;
  const std::lock_guard<std::mutex> lock(TableMutex());
  Table().erase(p);
}

void Count() noexcept {
  if (IsPlugins()) {
    pluginAllocations.fetch_add(1, std::memory_order_relaxed);
  } else {
    simulatorAllocations.fetch_add(1, std::memory_order_relaxed);
  }
}

[[maybe_unused]] void* Allocate(std::size_t size) noexcept {
  Count();
  void* p = std::malloc(size == 0 ? 1 : size);
  if (tracking.load(std::memory_order_relaxed)) [[unlikely]]
    Remember(p, size, false);
  return p;
}

// A free by the plug-in, by the same rule as its allocations.
void CountFree(void* p) noexcept {
  if (p != nullptr && IsPlugins()) pluginFrees.fetch_add(1, std::memory_order_relaxed);
}

[[maybe_unused]] void Free(void* p) noexcept {
  CountFree(p);
  Forget(p);
  std::free(p);
}

// Over-aligned blocks are carved out of a larger malloc block, the block's own
// address kept just before the aligned one for the matching delete. The C
// libraries differ in their aligned allocators (posix_memalign, _aligned_malloc),
// and this way the simulator needs neither.
[[maybe_unused]] void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  Count();
  auto align = static_cast<std::size_t>(alignment);
  if (align < alignof(void*)) align = alignof(void*);
  const std::size_t extra = align - 1 + sizeof(void*);
  if (size > SIZE_MAX - extra) return nullptr;
  void* block = std::malloc(size + extra);
  if (block == nullptr) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(block) + sizeof(void*);
  const std::uintptr_t aligned = (start + align - 1) & ~static_cast<std::uintptr_t>(align - 1);
  reinterpret_cast<void**>(aligned)[-1] = block;
  if (tracking.load(std::memory_order_relaxed)) [[unlikely]]
    Remember(reinterpret_cast<void*>(aligned), size, true);
  return reinterpret_cast<void*>(aligned);
}

void FreeAligned(void* p) noexcept {
  CountFree(p);
  Forget(p);
  if (p != nullptr) std::free(static_cast<void**>(p)[-1]);
}

}  // namespace

void TrackPluginBlocks(bool on) {
  const std::lock_guard<std::mutex> lock(TableMutex());
  Table().clear();
  tracking.store(on, std::memory_order_relaxed);
}

std::vector<LiveBlock> LivePluginBlocks() {
  const std::lock_guard<std::mutex> lock(TableMutex());
  std::vector<LiveBlock> blocks;
  blocks.reserve(Table().size());
  for (const auto& [address, block] : Table()) blocks.push_back(block);
  return blocks;
}

void FreeLiveBlock(const LiveBlock& block) noexcept {
  void* p = const_cast<void*>(block.address);
  if (block.aligned) {
    FreeAligned(p);
  } else {
    Free(p);
  }
}

AllocationCounts CountedAllocations() noexcept {
  return {pluginAllocations.load(std::memory_order_relaxed),
          simulatorAllocations.load(std::memory_order_relaxed)};
}

std::uint64_t CountedPluginFrees() noexcept { return pluginFrees.load(std::memory_order_relaxed); }

std::int64_t PluginLiveBlocks() noexcept {
  return static_cast<std::int64_t>(pluginAllocations.load(std::memory_order_relaxed) -
                                   pluginFrees.load(std::memory_order_relaxed));
}

}  // namespace sim

// ---- The replaced global allocation functions --------------------------------
// Every form the language has, so that no allocation of the process escapes the
// count. The plug-in module, loaded later, binds to these too: its calls to
// operator new go through the shared C++ runtime to the process's definition.
// The libFuzzer build leaves them to the sanitizer runtime, which links its
// own in statically (and checks that each block is freed by its own kind of
// delete); nothing is counted there.
#if !defined(REBOUND_SIM_UNCOUNTED_ALLOCATIONS)

#define REBOUND_ALLOC_EXPORT __attribute__((visibility("default")))

REBOUND_ALLOC_EXPORT void* operator new(std::size_t size) {
  void* p = sim::Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
REBOUND_ALLOC_EXPORT void* operator new[](std::size_t size) {
  void* p = sim::Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
REBOUND_ALLOC_EXPORT void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return sim::Allocate(size);
}
REBOUND_ALLOC_EXPORT void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return sim::Allocate(size);
}
REBOUND_ALLOC_EXPORT void* operator new(std::size_t size, std::align_val_t alignment) {
  void* p = sim::AllocateAligned(size, alignment);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
REBOUND_ALLOC_EXPORT void* operator new[](std::size_t size, std::align_val_t alignment) {
  void* p = sim::AllocateAligned(size, alignment);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
REBOUND_ALLOC_EXPORT void* operator new(std::size_t size, std::align_val_t alignment,
                                        const std::nothrow_t&) noexcept {
  return sim::AllocateAligned(size, alignment);
}
REBOUND_ALLOC_EXPORT void* operator new[](std::size_t size, std::align_val_t alignment,
                                          const std::nothrow_t&) noexcept {
  return sim::AllocateAligned(size, alignment);
}

REBOUND_ALLOC_EXPORT void operator delete(void* p) noexcept { sim::Free(p); }
REBOUND_ALLOC_EXPORT void operator delete[](void* p) noexcept { sim::Free(p); }
REBOUND_ALLOC_EXPORT void operator delete(void* p, std::size_t) noexcept { sim::Free(p); }
REBOUND_ALLOC_EXPORT void operator delete[](void* p, std::size_t) noexcept { sim::Free(p); }
REBOUND_ALLOC_EXPORT void operator delete(void* p, const std::nothrow_t&) noexcept { sim::Free(p); }
REBOUND_ALLOC_EXPORT void operator delete[](void* p, const std::nothrow_t&) noexcept {
  sim::Free(p);
}
REBOUND_ALLOC_EXPORT void operator delete(void* p, std::align_val_t) noexcept {
  sim::FreeAligned(p);
}
REBOUND_ALLOC_EXPORT void operator delete[](void* p, std::align_val_t) noexcept {
  sim::FreeAligned(p);
}
REBOUND_ALLOC_EXPORT void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  sim::FreeAligned(p);
}
REBOUND_ALLOC_EXPORT void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  sim::FreeAligned(p);
}
REBOUND_ALLOC_EXPORT void operator delete(void* p, std::align_val_t,
                                          const std::nothrow_t&) noexcept {
  sim::FreeAligned(p);
}
REBOUND_ALLOC_EXPORT void operator delete[](void* p, std::align_val_t,
                                            const std::nothrow_t&) noexcept {
  sim::FreeAligned(p);
}

#endif  // !REBOUND_SIM_UNCOUNTED_ALLOCATIONS
