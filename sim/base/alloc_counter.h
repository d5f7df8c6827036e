// Counts the heap allocations of the simulator's process by replacing the
// global allocation functions, and tells the plug-in's allocations (made on
// the script fibre, outside the host) from the simulator's own. Linked into
// rebound-sim and the programs that run the simulator, never into the plug-in;
// the loaded plug-in module binds to these same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

struct AllocationCounts {
  std::uint64_t plugin = 0;     // made by the script outside any host function
  std::uint64_t simulator = 0;  // everything else in the process

  AllocationCounts operator-(const AllocationCounts& since) const {
    return {plugin - since.plugin, simulator - since.simulator};
  }
};

// Allocations made so far in the whole process.
AllocationCounts CountedAllocations() noexcept;

// Blocks freed so far by the plug-in: by the same rule as its allocations
// (on the script fibre, outside any host function). Its allocations minus
// these are the blocks it holds now, its live heap.
std::uint64_t CountedPluginFrees() noexcept;
std::int64_t PluginLiveBlocks() noexcept;

// The plug-in's blocks that are still allocated, for leak checks: while
// tracking is on, every block the plug-in allocates is remembered until it is
// freed (by anyone). Off by default, when it costs one flag test per
// allocation and per free.
struct LiveBlock {
  const void* address = nullptr;
  std::size_t size = 0;
  bool aligned = false;  // made by an over-aligned operator new
};
// Starts tracking afresh (forgetting what was tracked before), or stops it.
void TrackPluginBlocks(bool on);
// The tracked blocks still allocated, in no particular order.
std::vector<LiveBlock> LivePluginBlocks();
// Frees a tracked block whose owner can no longer free it (its owner's stack
// was dropped); as the matching operator delete would.
void FreeLiveBlock(const LiveBlock& block) noexcept;

// What the simulator's own thread is doing, as the allocation count and the
// host functions ask it. Per thread: only the simulator's main thread runs the
// script fibre, so the keyboard thread and any thread of the plug-in see it
// false and their allocations are the simulator's. Plain fields of one
// constant-initialised thread-local: reading them costs an instruction or
// two, and the host functions read them on every call.
struct ScriptThreadState {
  bool scriptRunning = false;  // this thread runs the script fibre now
  int hostDepth = 0;           // host functions the running code is inside
};
extern constinit thread_local ScriptThreadState scriptThread;

// Set by the simulation around each resume of the script fibre. The fibre
// may yield from inside a host function (scriptWait), so its depth of host
// calls is its own: kept in `fibreHostDepth` while it is suspended (0 for a
// new fibre) and restored when it runs again.
class ScriptRunningScope {
 public:
  explicit ScriptRunningScope(int& fibreHostDepth) noexcept
      : fibreHostDepth_(fibreHostDepth), outer_(scriptThread) {
    scriptThread.hostDepth = fibreHostDepth;
    scriptThread.scriptRunning = true;
  }
  ~ScriptRunningScope() {
    fibreHostDepth_ = scriptThread.hostDepth;
    scriptThread = outer_;
  }
  ScriptRunningScope(const ScriptRunningScope&) = delete;
  ScriptRunningScope& operator=(const ScriptRunningScope&) = delete;

 private:
  int& fibreHostDepth_;
  ScriptThreadState outer_;
};

// Held by every host function while it does anything that may allocate,
// native handlers included: what the script allocates inside it is the
// simulator's doing.
class InsideHostScope {
 public:
  InsideHostScope() noexcept { ++scriptThread.hostDepth; }
  ~InsideHostScope() { --scriptThread.hostDepth; }
  InsideHostScope(const InsideHostScope&) = delete;
  InsideHostScope& operator=(const InsideHostScope&) = delete;
};

}  // namespace sim
