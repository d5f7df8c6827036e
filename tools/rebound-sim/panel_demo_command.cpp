// `rebound-sim panel-demo`: pictures the HUD panel, drawn by its own code with
// a bar of each kind (panel_demo.h), in SVG files.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "tools/rebound-sim/commands.h"
#include "tools/rebound-sim/frame_pictures.h"
#include "tools/rebound-sim/output_file.h"
#include "tools/rebound-sim/panel_demo.h"

namespace rebound_sim {

constexpr std::string_view kPanelDemoUsage =
    R"(Usage: rebound-sim panel-demo [--out DIR] [--svg-debug]

Runs the HUD panel's own code (linked into rebound-sim, not the loaded
plug-in) as the script, with one bar of each kind: a progress bar with three
separators, text bars (one compact, one blinking, one highlighted), a row of
entry markers with a marked one, a large label and a big text on top, in the
world of scenarios/panel.json (built in). It writes four pictures:
frame-00010.svg (everything shown), frame-00040.svg (the blinking bar's value
off), frame-00070.svg (language 8 lowers the big text) and frame-00100.svg (the
busy spinner lifts the panel). ctest -R PanelPicture checks the same demo.

Options:
  --out DIR     the folder for the pictures, made if missing; default panel-svg
  --svg-debug   add the frame number and each sprite's texture name
  -h, --help    show this help

Exit status: 0 written, 1 the game refused a call of the panel, 2 a mistake on
the command line, 4 a picture that cannot be written.
)";

namespace {

struct PanelDemoOptions {
  std::string out = "panel-svg";
  bool svgDebug = false;
};

// The options, or none when the words asked for the help or the version.
std::optional<PanelDemoOptions> ReadPanelDemoOptions(ArgumentReader& args) {
  PanelDemoOptions o;
  std::optional<std::string> out;
  while (args.Next()) {
    const std::string& a = args.Word();
    if (args.Answered()) return std::nullopt;
    if (a == "--out") {
      out = args.PathValue(a, out);
      o.out = *out;
      if (o.out == "-") args.Fail("--out needs a folder, not -");
    } else if (a == "--svg-debug") {
      o.svgDebug = true;
    } else {
      args.Fail("unknown option for " + args.Style().name + ": " + a);
    }
  }
  return o;
}

ExitStatus PanelDemo(const PanelDemoOptions& o) {
  sim::Scenario scenario;
  try {
    scenario = sim::Scenario::Parse("(built-in panel demo scenario)", PanelDemoScenarioText());
  } catch (const sim::ScenarioError& e) {
    // The built-in scenario is the simulator's own: a mistake in it is ours.
    std::cerr << "rebound-sim: " << e.what() << "\n";
    return ExitStatus::SimulatorFault;
  }
  RemoveTemporariesOnInterrupt();
  if (!PrepareFramePictureFolder(o.out)) return ExitStatus::UnusableFile;
  sim::Simulation simulation(std::move(scenario));
  std::vector<rebound::HudBar> bars = PanelDemoBars();
  if (!RunPanelDemo(simulation, bars)) {
    std::cerr << "rebound-sim: panel demo stopped: " << simulation.Fault() << "\n";
    return ExitStatus::Refused;
  }
  for (std::int64_t frame : kPanelDemoFrames) {
    const std::optional<std::string> path =
        WriteFramePicture(simulation.GetWorld(), o.out, frame, o.svgDebug, "panel picture");
    if (!path) return ExitStatus::UnusableFile;
    std::printf("%s\n", path->c_str());
  }
  std::printf(
      "%zu bars drawn by the panel's own code over %lld frames; %zu "
      "pictures written to %s\n",
      bars.size(), static_cast<long long>(simulation.FramesRun()), std::size(kPanelDemoFrames),
      o.out.c_str());
  return ExitStatus::Success;
}

}  // namespace

ExitStatus PanelDemoCommand(ArgumentReader& args) {
  const std::optional<PanelDemoOptions> options = ReadPanelDemoOptions(args);
  return options ? PanelDemo(*options) : ExitStatus::Success;
}

}  // namespace rebound_sim
