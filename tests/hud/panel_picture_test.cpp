// The panel demo of rebound-sim panel-demo (tools/rebound-sim/panel_demo.h),
// run here with the panel's code linked into the test, with its frames
// written as SVG pictures to look at. The directory is REBOUND_PANEL_SVG_DIR from the environment,
// or panel-svg in the build directory.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/report/svg.h"
#include "tests/hud/hud_harness.h"
#include "tools/rebound-sim/panel_demo.h"

namespace {

class PanelPicture : public hudtest::HudTest {};

std::string OutputDirectory() {
  const char* fromEnvironment = std::getenv("REBOUND_PANEL_SVG_DIR");
  return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment
                                                                : REBOUND_PANEL_SVG_DIR;
}

TEST_F(PanelPicture, DemoRunsCleanlyAndIsPictured) {
  std::vector<rebound::HudBar> bars = rebound_sim::PanelDemoBars();
  sim::Simulation simulation(
      sim::Scenario::Load(std::string(REBOUND_SOURCE_DIR) + "/scenarios/panel.json"));
  // The demo draws sprites only from loaded dictionaries and closes every
  // text command it opens, or the run would stop here.
  ASSERT_TRUE(rebound_sim::RunPanelDemo(simulation, bars)) << simulation.Fault();
  // rebound-sim panel-demo runs the same world from its built-in copy.
  std::ifstream scenarioFile(std::string(REBOUND_SOURCE_DIR) + "/scenarios/panel.json",
                             std::ios::binary);
  std::stringstream scenarioText;
  scenarioText << scenarioFile.rdbuf();
  EXPECT_EQ(rebound_sim::PanelDemoScenarioText(), scenarioText.str());

  const sim::DrawingModel& drawing = simulation.GetWorld().drawing;
  const std::vector<std::int64_t> frames(std::begin(rebound_sim::kPanelDemoFrames),
                                         std::end(rebound_sim::kPanelDemoFrames));
  const auto labels = [&](std::int64_t frame) {
    std::set<std::string> texts;
    for (const auto& item : hudtest::ItemsOfKind(simulation, frame, sim::DrawKind::Text)) {
      texts.insert(item.text);
    }
    return texts;
  };
  EXPECT_EQ(labels(10).count("x2"), 1U);
  EXPECT_EQ(labels(40).count("x2"), 0U);
  EXPECT_EQ(labels(40).count("BONUS"), 1U);
  EXPECT_EQ(labels(10).size(), 13U) << "eight labels and five value texts";
  EXPECT_FLOAT_EQ(drawing.DrawList(10).front().y, 0.931F) << "bottom row's background";
  EXPECT_FLOAT_EQ(drawing.DrawList(100).front().y, 0.895F) << "lifted by the spinner";

  const std::filesystem::path dir = OutputDirectory();
  std::filesystem::create_directories(dir);
  for (std::int64_t frame : frames) {
    const std::filesystem::path path = dir / sim::SvgFileName(frame);
    {
      std::ofstream out(path);
      sim::WriteFrameSvg(out, drawing.Frame(frame), frame);
    }
    std::ifstream in(path);
    std::stringstream written;
    written << in.rdbuf();
    EXPECT_NE(written.str().find(">CHECKPOINTS</text>"), std::string::npos) << path;
    EXPECT_NE(written.str().find("</svg>"), std::string::npos) << path;
  }
}

}  // namespace
