// scenario-from: a scenario that makes the simulated world answer the plug-in
// as the recorded game did, as far as the scenario format can say it. The
// recording's timing and host events (sim/recording/recording_outline.h) give
// the frame rate, hitches, keyboard messages, restarts and an unload; the
// world's answers are then fitted frame by frame: where the world answers a
// recorded call otherwise, a setting the plug-in has not yet relied on is
// changed or an event is added at the frame's start (a death, a tap, a fade,
// a movie that loads later), each kept only if the frame then plays as
// recorded. What no setting or event can make the world answer is listed,
// from a run of the finished scenario against the recording.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/recording/recording_frames.h"
#include "sim/recording/recording_outline.h"
#include "sim/replay/recorded_world.h"

namespace sim {

// Opens the recording afresh for each pass over it; throws RecordingError.
using RecordingOpener = std::function<std::unique_ptr<RecordingFrames>()>;

struct ScenarioFromRecording {
  std::string text;  // the scenario, JSON, ending in a newline
  RecordingOutline outline;
  // Each recorded answer the scenario could not make the world give, by
  // native and first frame: the outline's, then the finished scenario's run.
  UnexpressedList unexpressed;
};

// The scenario only, without the run that lists what it leaves out (the
// report runs the recording through it itself).
std::string FitScenario(const RecordingOpener& open, RecordingOutline& outline);

// The scenario and everything it could not say.
ScenarioFromRecording MakeScenarioFromRecording(const RecordingOpener& open);

// The list as scenario-from prints it: one line per kind of answer, with the
// native, its first frame, how many such answers and what was recorded.
std::string DescribeUnexpressed(const UnexpressedList& list);

// The natives whose recorded answers the fit learns from, as its table names
// them: the catalogue's name, or the name a native known by hash only is
// modelled as.
std::vector<std::string_view> ScenarioFitNatives();

}  // namespace sim
