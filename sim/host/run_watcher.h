// Gathers a run as it goes, for what is written at its end (the report):
// implemented by the report's recorder, told by Simulation.
#pragma once

#include <string_view>

namespace sim {

class Simulation;
struct NativeSignature;

// Told of every native call (on the script fibre), every host event and the
// end of every frame (on the thread that runs the frames).
class RunWatcher {
 public:
  virtual ~RunWatcher() = default;
  virtual void OnNativeCall(const NativeSignature& native) = 0;
  virtual void OnHostEvent(const Simulation& simulation, std::string_view name) = 0;
  virtual void OnFrameEnd(Simulation& simulation) = 0;
};

}  // namespace sim
