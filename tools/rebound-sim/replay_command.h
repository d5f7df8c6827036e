// `rebound-sim replay RECORDING [--plugin PATH] [--quiet]`: checks a build of the
// plug-in against a recording (sim/replay/), prints the first difference and
// where the recorded answers leave the world model, and a summary.
#pragma once

namespace rebound_sim {

// The command's words after "replay"; returns the exit status.
int ReplayCommand(int argc, char** argv);

}  // namespace rebound_sim
