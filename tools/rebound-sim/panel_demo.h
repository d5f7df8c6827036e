// The HUD panel demo: one bar of each kind (entries with a marked one, a
// progress bar with separators, a blinking bar, a compact bar, a highlighted
// bar and a big text on top), drawn frame after frame by the panel's own code
// run as the script, in the world of scenarios/panel.json. Shown by
// `rebound-sim panel-demo` and checked by the PanelPicture test.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "src/hud/hud_bar.h"

namespace sim {
class Simulation;
}  // namespace sim

namespace rebound_sim {

// The bars, bottom row first.
std::vector<rebound::HudBar> PanelDemoBars();

// The frames worth a picture: 10 everything shown, 40 the bonus bar blinked
// off, 70 language 8 lowers the big text, 100 the busy spinner lifts the panel.
inline constexpr std::int64_t kPanelDemoFrames[] = {10, 40, 70, 100};

// scenarios/panel.json, built in.
std::string_view PanelDemoScenarioText();

// Appends `bars` to the panel, runs the simulation with a script that draws
// the panel every frame, and empties the panel again. False, with the
// simulation's fault, when the game refused something.
bool RunPanelDemo(sim::Simulation& simulation, std::vector<rebound::HudBar>& bars);

}  // namespace rebound_sim
