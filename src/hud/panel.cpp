#include "src/hud/panel.h"

#include "src/host/natives.h"
#include "src/hud/bar_drawing.h"

namespace rebound {

HudBarPanel hudBarPanel;

namespace {

// HUD components shown in the same corner: the vehicle name, area name,
// vehicle class and street name.
constexpr std::int32_t kHiddenHudComponents[] = {6, 7, 8, 9};
// Right- and bottom-aligned: the panel keeps to the corner and the safe zone
// on any screen shape.
constexpr std::int32_t kAlignRight = 'R';
constexpr std::int32_t kAlignBottom = 'B';
constexpr float kAlignWidth = 0.952F;
constexpr float kAlignHeight = 0.949F;
// The bottom row moves up when the busy spinner shows in the same corner.
constexpr double kFirstRowY = 0.923;
constexpr double kFirstRowYWithSpinner = 0.887;
constexpr double kRowStep = 0.0399;
constexpr double kRowStepCompact = 0.0319;

// One step of a bar's blink or colour flash. The last step always applies
// colour B, so a blink ends shown and a flash ends in colour B.
void StepAnimation(HudBar& bar) {
  bar.ApplyAnimationStep(bar.animStepsLeft % 2 != 0 ? bar.animColourB : bar.animColourA);
  --bar.animStepsLeft;
  if (bar.animStepsLeft == 0) bar.animMode = 0;
}

}  // namespace

void AppendToPanel(HudBar* bar) { hudBarPanel.bars.push_back(bar); }

void EmptyPanel() { hudBarPanel.bars.clear(); }

void DrawPanelFrame() {
  using namespace natives;
  HudBarPanel& panel = hudBarPanel;
  if (panel.bars.empty() || !panel.panelEnabled) return;
  if (GET_FRAME_COUNT() == panel.lastDrawnFrame) return;
  panel.lastDrawnFrame = GET_FRAME_COUNT();

  if (!HAS_STREAMED_TEXTURE_DICT_LOADED(PanelTextureDict)) {
    // Asked again every frame until the game has it; nothing is drawn meanwhile.
    REQUEST_STREAMED_TEXTURE_DICT(PanelTextureDict, false);
    return;
  }
  for (std::int32_t component : kHiddenHudComponents) HIDE_HUD_COMPONENT_THIS_FRAME(component);
  SET_SCRIPT_GFX_ALIGN(kAlignRight, kAlignBottom);
  SET_SCRIPT_GFX_ALIGN_PARAMS(0.0F, 0.0F, kAlignWidth, kAlignHeight);

  double y = BUSYSPINNER_IS_ON() ? kFirstRowYWithSpinner : kFirstRowY;
  // A marked entry may hold the script inside DrawBar for whole frames; the
  // rest of the list is drawn in the frame in which it resumes. The owner
  // cannot change the list meanwhile: it runs on this same fibre.
  for (HudBar* bar : panel.bars) {
    if (!bar->enabled || bar->visibility == 0) continue;
    if (EventTimerElapsed(panel.blinkClock) > panel.blinkIntervalMs && bar->animStepsLeft > 0 &&
        bar->animMode != 0) {
      StepAnimation(*bar);
    }
    y += DrawBar(*bar, y);
    y -= bar->compact ? kRowStepCompact : kRowStep;
  }
  // Restarted after the loop, so that every animating bar steps on the same tick.
  if (EventTimerElapsed(panel.blinkClock) > panel.blinkIntervalMs) {
    RestartEventTimer(panel.blinkClock);
  }
  RESET_SCRIPT_GFX_ALIGN();
}

}  // namespace rebound
