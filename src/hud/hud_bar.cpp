#include "src/hud/hud_bar.h"

#include <utility>

#include "src/spawn/random.h"

namespace rebound {

HudBar::HudBar(std::string labelText, std::string value) : id(RandomId()) {
  kind = HudBarKind::Progress;
  label = std::move(labelText);
  labelIsKey = false;
  if (!value.empty()) {
    valueText = std::move(value);
    valueIsKey = false;
  }
  enabled = true;
}

void HudBar::SetLabel(std::string text) {
  labelIsKey = false;
  label = std::move(text);
  labelKeyHash = -1;
}

void HudBar::ApplyAnimationStep(const Rgba& colour) {
  if (animMode == 1) {
    visibility = colour == animColourB ? 2 : 1;
    return;
  }
  if (animMode != 2) return;
  switch (kind) {
    case HudBarKind::BigText:
      labelColour = colour;
      break;
    case HudBarKind::Entries:
      entryDimColour = colour;
      break;
    case HudBarKind::Progress:
      barFillColour = colour;
      break;
    default:
      valueColour = colour;
      break;
  }
}

}  // namespace rebound
