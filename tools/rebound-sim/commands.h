// rebound-sim's commands: one table of them, which main dispatches on and the
// top-level help lists, and the entry points of the command files
// (run_command.cpp, replay_command.cpp, ...) that the table names.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/rebound-sim/arguments.h"
#include "tools/rebound-sim/exit_status.h"

namespace rebound_sim {

// How a command words its usage errors (UsageStyle): as the program, or
// naming itself, its hint pointing at its options or at its usage.
enum class UsageVoice { Program, Command, CommandUsage };

struct Command {
  std::string_view name;      // the first word of the command line
  std::string_view synopsis;  // its words after the name, in the command list
  std::string_view summary;   // what it does, in the command list (lines of 46 columns)
  std::string_view usage;     // what its --help prints (the default command's follows the list)
  UsageVoice voice;
  ExitStatus (*run)(ArgumentReader& args);  // reads the words after the name
};

// Every command, the default one (run when the first word is no command) first.
std::span<const Command> Commands();
// The command named `word`, or null.
const Command* FindCommand(std::string_view word);
// What `rebound-sim --help` prints: the command list, then the default
// command's own usage.
std::string TopLevelHelp();
// The reader of a command's words, in the command's voice.
ArgumentReader ReaderFor(const Command& command, std::vector<std::string> words);

// The plug-in a command loads when --plugin is left out: the module beside
// rebound-sim, else the one its build made.
std::string DefaultPlugin();

// The command files' halves of the table.
extern const std::string_view kRunUsage;
extern const std::string_view kPanelDemoUsage;
extern const std::string_view kReplayUsage;
extern const std::string_view kReportUsage;
extern const std::string_view kScenarioFromUsage;
extern const std::string_view kNativesUsage;
extern const std::string_view kSchemaUsage;
ExitStatus RunCommand(ArgumentReader& args);
ExitStatus PanelDemoCommand(ArgumentReader& args);
ExitStatus ReplayCommand(ArgumentReader& args);
ExitStatus ReportCommand(ArgumentReader& args);
ExitStatus ScenarioFromCommand(ArgumentReader& args);
ExitStatus NativesCommand(ArgumentReader& args);
ExitStatus SchemaCommand(ArgumentReader& args);

}  // namespace rebound_sim
