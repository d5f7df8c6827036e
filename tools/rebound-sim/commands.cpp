#include "tools/rebound-sim/commands.h"

#include <array>
#include <utility>

#include "sim/platform/module.h"

namespace rebound_sim {

namespace {

// The one place that names the commands. The first is the default. (The
// usages are constants of the command files, set before any code runs.)
const std::array kCommands = {
    Command{"run", "[options]", "run a scenario with the plug-in loaded", kRunUsage,
            UsageVoice::Program, &RunCommand},
    Command{"panel-demo", "[options]", "picture the HUD panel with a bar of each kind",
            kPanelDemoUsage, UsageVoice::Program, &PanelDemoCommand},
    Command{"replay", "RECORDING [--plugin PATH] [--junit FILE] [--quiet]",
            "check a build of the plug-in against a\nrecording or a seeded trace", kReplayUsage,
            UsageVoice::CommandUsage, &ReplayCommand},
    Command{"report", "RECORDING --report FILE", "the HTML report of what a recording shows",
            kReportUsage, UsageVoice::Command, &ReportCommand},
    Command{"scenario-from", "RECORDING --out FILE", "a scenario that plays as the recording did",
            kScenarioFromUsage, UsageVoice::Command, &ScenarioFromCommand},
    Command{"natives", "[--json] [--natives FILE]", "list every native the simulated game knows",
            kNativesUsage, UsageVoice::Program, &NativesCommand},
    Command{"schema", "", "print the JSON Schema of scenario files", kSchemaUsage,
            UsageVoice::Program, &SchemaCommand},
};

// The summaries of the command list start in this column; a longer synopsis
// puts its summary on the lines below.
constexpr std::size_t kSummaryColumn = 34;

// One entry of the command list: "  rebound-sim WORDS", then the summary.
std::string ListEntry(const std::string& words, std::string_view summary) {
  std::string entry = "  rebound-sim " + words;
  if (entry.size() + 2 <= kSummaryColumn) {
    entry.resize(kSummaryColumn, ' ');
  } else {
    entry += "\n" + std::string(kSummaryColumn, ' ');
  }
  for (char c : summary) {
    entry += c;
    if (c == '\n') entry += std::string(kSummaryColumn, ' ');
  }
  return entry + "\n";
}

}  // namespace

std::span<const Command> Commands() { return kCommands; }

const Command* FindCommand(std::string_view word) {
  for (const Command& command : kCommands) {
    if (command.name == word) return &command;
  }
  return nullptr;
}

std::string TopLevelHelp() {
  std::string help = "Usage:\n";
  for (const Command& command : kCommands) {
    // The default command's name may be left out.
    std::string words = &command == &kCommands.front() ? "[" + std::string(command.name) + "]"
                                                       : std::string(command.name);
    if (!command.synopsis.empty()) words += " " + std::string(command.synopsis);
    help += ListEntry(words, command.summary);
  }
  help += ListEntry("--help", "show this help (COMMAND --help: that command's)");
  help += ListEntry("--version", "print the version");
  return help + "\n" + std::string(kCommands.front().usage);
}

ArgumentReader ReaderFor(const Command& command, std::vector<std::string> words) {
  const std::string name(command.name);
  UsageStyle style;
  style.name = name;
  if (command.voice == UsageVoice::Program) {
    style.who = "rebound-sim";
    style.hint = "(rebound-sim --help lists the options)";
    style.twiceEnding = "; give it once";
    style.version = std::string("rebound-sim ") + REBOUND_VERSION + "\n";
  } else {
    style.who = "rebound-sim " + name;
    style.hint =
        "(rebound-sim " + name + " --help " +
        (command.voice == UsageVoice::CommandUsage ? "shows the usage)" : "lists the options)");
  }
  std::string help = &command == &kCommands.front() ? TopLevelHelp() : std::string(command.usage);
  return ArgumentReader(std::move(style), std::move(words), std::move(help));
}

std::string DefaultPlugin() {
  // Prefer the module beside this executable, then the one this build made.
  const std::string beside = sim::platform::PluginBesideExecutable();
  return beside.empty() ? REBOUND_DEFAULT_PLUGIN : beside;
}

}  // namespace rebound_sim
