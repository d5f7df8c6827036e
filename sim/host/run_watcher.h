// Gathers a run as it goes, for what is written at its end (the report):
// implemented by the report's recorder, told by Simulation and by the run of
// a recording (sim/replay/), which both hand it the same view of the run.
#pragma once

#include <cstdint>
#include <string_view>

namespace sim {

class World;
class FlowObserver;
struct NativeSignature;
struct TraceFault;

// What a watcher reads of a run: the world (its clock, screen and draw
// lists), the respawn flow as the player sees it, and the native calls of the
// frame that ended last.
struct RunView {
  World& world;
  const FlowObserver& flow;
  std::uint32_t callsInLastFrame = 0;
};

// Told of every native call (on the script fibre), every host event and the
// end of every frame (on the thread that runs the frames), and of the fault a
// run stops at (where it is raised, before the end of its frame).
class RunWatcher {
 public:
  virtual ~RunWatcher() = default;
  virtual void OnNativeCall(const NativeSignature& native) = 0;
  virtual void OnHostEvent(const RunView& run, std::string_view name) = 0;
  virtual void OnFrameEnd(const RunView& run) = 0;
  virtual void OnFault(const RunView& /*run*/, const TraceFault& /*fault*/) {}
};

}  // namespace sim
