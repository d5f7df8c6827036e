// A scenario: how long to run, at what frame rate, from which game time, the
// world's settings and the events that happen along the way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sim/game/handlers.h"
#include "sim/scenario_reader.h"

namespace sim {

struct Scenario {
  std::string name = "default";
  std::string fileName = "(built-in)";
  std::int32_t fps = 60;
  std::int64_t frames = 600;
  std::int64_t startGameTime = 100000;         // may be near 2^31 to cross the timer's wrap
  std::shared_ptr<ScenarioDocument> document;  // the world's settings are read from it
  EventList events;                            // in frame order, ties in file order

  // Parses and checks the whole scenario (every world setting and event) so
  // that a mistake stops the run before it starts. Throws ScenarioError.
  static Scenario Parse(const std::string& fileName, std::string_view text);
  // Reads the file; one that cannot be read is named with the system's reason.
  static Scenario Load(const std::string& path);
  // The scenario that runs when none is given.
  static Scenario Default();
  static std::string_view DefaultText();
  // The JSON Schema of scenario files, exactly as scenarios/scenario.schema.json
  // holds it (built in from that file).
  static std::string_view Schema();
};

}  // namespace sim
