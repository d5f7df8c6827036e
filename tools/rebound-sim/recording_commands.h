// rebound-sim's commands that read a recording (a tester's field recording,
// or any simulator trace): `report` writes the HTML report of what the game
// did, `scenario-from` writes a scenario that makes the simulated world
// answer as the game did. Also the run option --draws-from, which hands the
// plug-in a recording's random draws.
#pragma once

#include <string>
#include <string_view>

#include "sim/host/run_options.h"

namespace rebound_sim {

// Whether the command line's first word names one of these commands.
bool IsRecordingCommand(std::string_view word);
// Runs the command named by argv[1]; returns the exit status.
int RunRecordingCommand(int argc, char** argv);

// The random values the plug-in drew in the recording, in order, into
// `options.draws` (its randomDraw lines); for a seeded simulator trace without
// them, its seed into `options.seed`. False after saying why on standard
// error (status 2 for the caller).
bool RecordedDraws(const std::string& path, sim::SimOptions& options);

}  // namespace rebound_sim
