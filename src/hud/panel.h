// The HUD bar panel: the process-wide list of bars, drawn once per frame as
// rows stacked upwards from the bottom-right corner, with the animation clock
// that steps blinking and flashing bars. The respawn flow is its client.
#pragma once

#include <cstdint>
#include <vector>

#include "src/hud/hud_bar.h"
#include "src/respawn/event_timers.h"

namespace rebound {

struct HudBarPanel {
  std::vector<HudBar*> bars;           // not owned; the first is the bottom row
  bool panelEnabled = true;            // the panel draws only while set
  std::int32_t lastDrawnFrame = -1;    // frame of the last call past the frame guard
  EventTimer blinkClock{0, 0, false};  // game time of the last animation tick
  std::int32_t blinkIntervalMs = 800;  // animation ticks come strictly later than this
};

extern HudBarPanel hudBarPanel;

// The bar becomes the top row. It must stay alive, at the same address, until
// the panel is emptied.
void AppendToPanel(HudBar* bar);
// Drops every bar from the panel; the bars themselves are not touched.
void EmptyPanel();
// Draws the listed bars for this frame and steps their animations. A second
// call in the same frame does nothing.
void DrawPanelFrame();

}  // namespace rebound
