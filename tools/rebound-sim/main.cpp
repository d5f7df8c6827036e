// rebound-sim: runs the Rebound plug-in in the simulated script host and game,
// prints what happens and writes the trace of every call.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/native_table.h"
#include "sim/simulation.h"

namespace {

constexpr const char* kUsage = R"(Usage:
  rebound-sim [run] [options]     run a scenario with the plug-in loaded
  rebound-sim natives [--json]    list every native the simulated game knows
  rebound-sim --help              show this help

Run options:
  --scenario FILE   the scenario to run (JSON); default: the built-in scenario
  --plugin PATH     the plug-in module to load; default: the librebound.so
                    built next to rebound-sim
  --no-plugin       run the game without the plug-in, to see what it does alone
  --frames N        run N frames instead of the scenario's own count
  --trace FILE      write every native call and host event as JSON Lines
  --quiet           print nothing but errors
  -h, --help        show this help

The run stops with an error, and rebound-sim exits with status 1, when the
plug-in does something the real host or game would not accept: an unknown
native, a wrong argument count or slot, a null text, or a native or
scriptWait called outside the script fibre. A scenario with a mistake stops
the run before it starts (status 2).
)";

struct Options {
  std::string command = "run";
  std::optional<std::string> scenario;
  std::optional<std::string> plugin;
  bool noPlugin = false;
  std::optional<std::int64_t> frames;
  std::optional<std::string> trace;
  bool quiet = false;
  bool json = false;
};

[[noreturn]] void UsageError(const std::string& what) {
  std::cerr << "rebound-sim: " << what << "\n(rebound-sim --help lists the options)\n";
  std::exit(2);
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::size_t i = 0;
  if (!args.empty() && (args[0] == "run" || args[0] == "natives")) o.command = args[i++];
  auto value = [&](const std::string& flag) -> std::string {
    if (i + 1 >= args.size()) UsageError(flag + " needs a value");
    return args[++i];
  };
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      std::exit(0);
    } else if (a == "--json" && o.command == "natives") {
      o.json = true;
    } else if (o.command == "natives") {
      UsageError("unknown option for natives: " + a);
    } else if (a == "--scenario") {
      o.scenario = value(a);
    } else if (a == "--plugin") {
      o.plugin = value(a);
    } else if (a == "--no-plugin") {
      o.noPlugin = true;
    } else if (a == "--frames") {
      const std::string v = value(a);
      char* end = nullptr;
      const long long n = std::strtoll(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || n < 0) UsageError("--frames needs a count, got " + v);
      o.frames = n;
    } else if (a == "--trace") {
      o.trace = value(a);
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else {
      UsageError("unknown option: " + a);
    }
  }
  if (o.noPlugin && o.plugin) UsageError("--plugin and --no-plugin exclude each other");
  return o;
}

int ListNatives(bool json) {
  const auto& table = sim::NativeTable();
  if (json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const auto& n : table) {
      nlohmann::ordered_json e;
      e["hash"] = sim::HexHash(n.hash);
      e["name"] = n.name;
      auto args = nlohmann::ordered_json::array();
      for (auto k : n.args) args.push_back(sim::ArgKindName(k));
      e["args"] = args;
      e["result"] = sim::ResultKindName(n.result);
      out.push_back(e);
    }
    std::cout << out.dump(2) << "\n";
    return 0;
  }
  for (const auto& n : table) {
    std::string args;
    for (auto k : n.args) args += (args.empty() ? "" : ", ") + std::string(sim::ArgKindName(k));
    std::printf("%s  %-44s (%s) -> %s\n", sim::HexHash(n.hash).c_str(),
                std::string(n.name).c_str(), args.c_str(),
                std::string(sim::ResultKindName(n.result)).c_str());
  }
  std::printf("%zu natives\n", table.size());
  return 0;
}

std::string DefaultPlugin() {
  // Prefer the module beside this executable, then the one this build made.
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto beside = self.parent_path() / "librebound.so";
    if (std::filesystem::exists(beside)) return beside.string();
  }
  return REBOUND_DEFAULT_PLUGIN;
}

std::string FormatTimelineEntry(const sim::TimelineEntry& e) {
  char prefix[64];
  if (e.frame < 0) {
    std::snprintf(prefix, sizeof prefix, "[load       t=%-11d]", e.time);
  } else {
    std::snprintf(prefix, sizeof prefix, "[frame %5lld t=%-11d]", static_cast<long long>(e.frame),
                  e.time);
  }
  char cat[16];
  std::snprintf(cat, sizeof cat, "%-9s", e.category.c_str());
  return std::string(prefix) + " " + cat + " " + e.text;
}

// Writes to a temporary beside the target and renames it into place, so a
// failed run never leaves half a file under the requested name.
bool WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      std::cerr << "rebound-sim: cannot write " << path << "\n";
      return false;
    }
    write(out);
    out.flush();
    if (!out) {
      std::cerr << "rebound-sim: writing " << path << " failed\n";
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::cerr << "rebound-sim: cannot move " << temp << " to " << path << "\n";
    return false;
  }
  return true;
}

int Run(const Options& o) {
  sim::Scenario scenario;
  try {
    scenario = o.scenario ? sim::Scenario::Load(*o.scenario) : sim::Scenario::Default();
  } catch (const sim::ScenarioError& e) {
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return 2;
  }
  if (o.frames) scenario.frames = *o.frames;

  sim::Simulation simulation(std::move(scenario));
  sim::World& world = simulation.GetWorld();
  if (!o.quiet) {
    std::cout << "Scenario \"" << simulation.GetScenario().name << "\" ("
              << simulation.GetScenario().fileName << "): " << simulation.GetScenario().frames
              << " frames at " << simulation.GetScenario().fps << " fps from game time "
              << simulation.GetScenario().startGameTime << "\n";
    world.timeline.SetListener(
        [](const sim::TimelineEntry& e) { std::cout << FormatTimelineEntry(e) << "\n"; });
  }

  bool ok = true;
  if (!o.noPlugin) {
    ok = simulation.LoadPlugin(o.plugin ? *o.plugin : DefaultPlugin());
  } else {
    world.Note("host", "running without the plug-in");
  }
  if (ok) ok = simulation.Run();
  const bool faultedBeforeUnload = simulation.Faulted();
  if (simulation.PluginLoaded()) simulation.UnloadPlugin();
  ok = ok && !faultedBeforeUnload && !simulation.Faulted();

  if (o.trace) {
    if (!WriteFileAtomically(*o.trace,
                             [&](std::ostream& out) { simulation.GetTrace().WriteJsonLines(out); })) {
      return 1;
    }
  }

  const sim::RunSummary s = simulation.Summary();
  if (!o.quiet) {
    std::printf("\nSummary: %lld frames, %.3f s of game time, %llu native calls "
                "(%.1f per frame on average, at most %llu in one frame)\n",
                static_cast<long long>(s.frames), static_cast<double>(s.gameTimeMs) / 1000.0,
                static_cast<unsigned long long>(s.nativeCalls),
                s.frames > 0 ? static_cast<double>(s.nativeCalls) / static_cast<double>(s.frames) : 0.0,
                static_cast<unsigned long long>(s.maxCallsInFrame));
    if (o.trace) std::printf("Trace written to %s\n", o.trace->c_str());
  }
  if (!ok) {
    std::cerr << "rebound-sim: run stopped: " << simulation.Fault() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseArgs(argc, argv);
  if (o.command == "natives") return ListNatives(o.json);
  return Run(o);
}
