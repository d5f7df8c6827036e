// The panel demo: one bar of each kind (entries with a marked one, a progress
// bar with separators, a blinking bar, a compact bar, a highlighted bar and a
// big text on top) drawn frame after frame in the world of
// scenarios/panel.json, with chosen frames written as SVG pictures to look
// at. The directory is REBOUND_PANEL_SVG_DIR from the environment, or
// panel-svg in the build directory.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/svg.h"
#include "tests/hud/hud_harness.h"

namespace {

class PanelPicture : public hudtest::HudTest {};

using rebound::HudBar;
using rebound::HudBarKind;
using rebound::Rgba;

// Bottom row first.
std::vector<HudBar> DemoBars() {
  std::vector<HudBar> bars;
  HudBar progress("RESPAWN", "");
  progress.progress = 0.6;
  progress.fillWidth = progress.progress * 0.069;
  progress.fillCentreX = 0.8785 + progress.fillWidth / 2;
  progress.tickCount = 3;
  bars.push_back(progress);

  HudBar time("TIME", "01:23.45");
  time.kind = HudBarKind::Text;
  bars.push_back(time);

  HudBar checkpoints("CHECKPOINTS", "");
  checkpoints.kind = HudBarKind::Entries;
  checkpoints.entries = {rebound::EntryLit, rebound::EntryLit, rebound::EntryLitMarked,
                         rebound::EntryDim, rebound::EntryDim, rebound::EntryDark};
  checkpoints.entriesLeftToRight = true;
  bars.push_back(checkpoints);

  HudBar position("POSITION", "3/8");
  position.kind = HudBarKind::LargeLabel;
  bars.push_back(position);

  HudBar lap("LAP", "2/3");
  lap.kind = HudBarKind::Text;
  lap.compact = true;
  bars.push_back(lap);

  HudBar bonus("BONUS", "x2");
  bonus.kind = HudBarKind::Text;
  bonus.valueColour = Rgba{114, 204, 114, 255};
  bonus.animColourA = Rgba{0, 0, 0, 0};
  bonus.animColourB = Rgba{255, 255, 255, 255};
  bonus.animStepsLeft = 9;
  bonus.animMode = 1;
  bars.push_back(bonus);

  HudBar wanted("WANTED", "HOT");
  wanted.kind = HudBarKind::Text;
  wanted.highlightColour = Rgba{224, 50, 50, 160};
  bars.push_back(wanted);

  HudBar go("GO!", "");
  go.kind = HudBarKind::BigText;
  go.labelColour = Rgba{240, 200, 80, 255};
  bars.push_back(go);
  return bars;
}

std::string OutputDirectory() {
  const char* fromEnvironment = std::getenv("REBOUND_PANEL_SVG_DIR");
  return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment
                                                                : REBOUND_PANEL_SVG_DIR;
}

TEST_F(PanelPicture, DemoRunsCleanlyAndIsPictured) {
  std::vector<HudBar> bars = DemoBars();
  for (HudBar& bar : bars) rebound::AppendToPanel(&bar);
  sim::Simulation simulation(sim::Scenario::Load(REBOUND_SOURCE_DIR "/scenarios/panel.json"));
  simulation.SetScript([] {
    for (;;) {
      rebound::DrawPanelFrame();
      scriptWait(0);
    }
  });
  // The demo draws sprites only from loaded dictionaries and closes every
  // text command it opens, or the run would stop here.
  ASSERT_TRUE(simulation.Run()) << simulation.Fault();

  const sim::DrawingModel& drawing = simulation.GetWorld().drawing;
  // Frame 10: everything shown; 40: the bonus bar blinked off; 70: language
  // 8 lowers the big text; 100: the busy spinner lifts the panel.
  const std::vector<std::int64_t> frames = {10, 40, 70, 100};
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
