// The statuses rebound-sim exits with, one meaning each whatever the command;
// docs/command-line.md lists them, and the docs_command_line test holds that
// table to the comments here, value by value.
#pragma once

namespace rebound_sim {

enum class ExitStatus {
  Success = 0,         // the run ended normally; the output was written; the replay made the
                       // recorded calls
  Refused = 1,         // the loaded plug-in did something the real host or game would not accept
  BadInput = 2,        // a mistake on the command line, or in the scenario or recording
  SimulatorFault = 3,  // the simulator's own handlers do not match its natives table
  UnusableFile = 4,    // a file the command needs cannot be used
  ExpectationsNotMet = 5,  // the run ended normally, but the scenario's expected calls were not
                           // all made
  PluginCrashed = 6,       // a script of the plug-in crashed (an access violation, an abort, a C++
                           // exception escaping it)
};

constexpr int StatusCode(ExitStatus status) { return static_cast<int>(status); }

}  // namespace rebound_sim
