#include "tools/rebound-sim/panel_demo.h"

#include "sim/host/simulation.h"
#include "src/host/host_api.h"
#include "src/hud/panel.h"

namespace rebound_sim {

using rebound::HudBar;
using rebound::HudBarKind;
using rebound::Rgba;

std::vector<HudBar> PanelDemoBars() {
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

bool RunPanelDemo(sim::Simulation& simulation, std::vector<HudBar>& bars) {
  for (HudBar& bar : bars) rebound::AppendToPanel(&bar);
  simulation.SetScript([] {
    for (;;) {
      rebound::DrawPanelFrame();
      scriptWait(0);
    }
  });
  const bool ok = simulation.Run();
  // The panel holds pointers into `bars`, which the caller owns.
  rebound::EmptyPanel();
  return ok;
}

}  // namespace rebound_sim
