// rebound-sim: runs the Rebound plug-in in the simulated script host and game,
// prints what happens and writes the trace of every call; its other commands
// check the plug-in against recordings and read them (commands.h lists them).
#include <cstdio>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "sim/host/native_dispatch.h"
#include "tools/rebound-sim/commands.h"
#include "tools/rebound-sim/platform.h"

namespace {

using rebound_sim::ExitStatus;

// The first word names the command. Without a name the default command reads
// every word, --help and --version among its options; a first word that is
// not an option names a command there is not, which is reported as the
// default command's unknown option, as it has always been.
ExitStatus Dispatch(std::vector<std::string> words) {
  const rebound_sim::Command* named = words.empty() ? nullptr : rebound_sim::FindCommand(words[0]);
  const rebound_sim::Command& command = named ? *named : rebound_sim::Commands().front();
  if (named) words.erase(words.begin());
  const bool unknownCommand = !named && !words.empty() && !words[0].starts_with('-');
  const std::string first = words.empty() ? std::string() : words[0];
  rebound_sim::ArgumentReader args = rebound_sim::ReaderFor(command, std::move(words));
  if (unknownCommand) args.Fail("unknown option: " + first);
  return command.run(args);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const ExitStatus status = Dispatch(std::vector<std::string>(argv + 1, argv + argc));
    // The crashed plug-in is still loaded: it must not see the process end.
    if (status == ExitStatus::PluginCrashed) {
      rebound_sim::platform::EndWithoutDetach(rebound_sim::StatusCode(status));
    }
    return rebound_sim::StatusCode(status);
  } catch (const rebound_sim::UsageError& e) {
    std::fputs(e.Message().c_str(), stderr);
    return rebound_sim::StatusCode(ExitStatus::BadInput);
  } catch (const sim::HandlerTableError& e) {
    // A mistake in the simulator itself: it cannot answer the natives it lists.
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return rebound_sim::StatusCode(ExitStatus::SimulatorFault);
  }
}
