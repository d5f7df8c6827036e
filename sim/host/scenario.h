// A scenario: how long to run, at what frame rate, from which game time, the
// world's settings and the events that happen along the way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sim/base/scenario_reader.h"
#include "sim/game/handlers.h"
#include "sim/host/answers.h"
#include "sim/host/expected_calls.h"
#include "sim/host/host_services.h"

namespace sim {

// Events can be built in C++ as well as read from a file (a fuzzer drives
// the simulation with them): a ScheduledEvent of kind World carries its own
// `apply`; the areas of the world offer makers for theirs (sim/game/*.h), and
// the host's own events are made here. Push them into Scenario::events in
// frame order.

// A keyboard message; `atCall` says when in the frame (kAtFrameStart, or
// before the script's n-th native call of the frame).
ScheduledEvent KeyboardEvent(std::int64_t frame, const std::uint32_t (&args)[7],
                             std::int32_t atCall = kAtFrameStart);
// The host drops the script's fibre where it stands (nothing on it unwinds)
// and starts the script entry again on a new fibre in this frame; the module
// and its state stay.
ScheduledEvent RestartScriptEvent(std::int64_t frame);
// The host stops the script, detaches and unloads the module in this frame,
// and the run ends there.
ScheduledEvent UnloadEvent(std::int64_t frame);

// The most native calls a frame is counted to, for `atCall`.
inline constexpr std::int64_t kMaxCallsInFrame = 1'000'000;

struct Scenario {
  std::string name = "default";
  std::string fileName = "(built-in)";
  std::int32_t fps = 60;
  std::int64_t frames = 600;                   // at most kMaxFrames
  std::int64_t startGameTime = 100000;         // may be near 2^31 to cross the timer's wrap
  std::int32_t startFrameCount = 0;            // what GET_FRAME_COUNT answers at the first frame
  std::shared_ptr<ScenarioDocument> document;  // the world's settings are read from it
  EventList events;                            // in frame order, ties in file order
  std::vector<NativeAnswer> answers;           // what natives answer in place of the world
  // Answers for natives the game's table lacks, read once the user's
  // catalogue is known (ResolveCatalogueAnswers); a simulation refuses a
  // scenario that still has any.
  std::vector<ScenarioNode> catalogueAnswers;
  std::vector<ExpectedCalls> expectations;  // how often the run must call natives
  ServiceSettings services;                 // the host's services beside the natives

  // The most frames a run goes on for, from the file or the command line.
  static constexpr std::int64_t kMaxFrames = 100'000'000;

  // Parses and checks the whole scenario (every world setting and event) so
  // that a mistake stops the run before it starts. Throws ScenarioError.
  static Scenario Parse(const std::string& fileName, std::string_view text);
  // Reads the file; one that cannot be read is named with the system's reason.
  static Scenario Load(const std::string& path);
  // The scenario that runs when none is given, and the file name it goes by.
  static Scenario Default();
  static constexpr std::string_view kDefaultFileName = "(built-in default scenario)";
  bool IsBuiltInDefault() const { return fileName == kDefaultFileName; }
  static std::string_view DefaultText();
  // The JSON Schema of scenario files, exactly as scenarios/scenario.schema.json
  // holds it (built in from that file).
  static std::string_view Schema();
};

}  // namespace sim
