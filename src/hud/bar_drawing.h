// Draws one HUD bar at a row's y by its kind: background and highlight
// sprites, label, value text, entry markers, progress bar with separators, or
// one big text. The panel frame calls DrawBar for each drawable bar; the
// owner of a progress bar sets its fill here too, where its geometry is.
#pragma once

#include <cstdint>

#include "src/hud/hud_bar.h"

namespace rebound {

// Textures from the game's own HUD dictionaries. The panel dictionary holds
// the timer-bar backgrounds and the round checkpoint marker; the overlay
// dictionary, loaded only when a marked entry is drawn, holds the tick.
inline constexpr const char* PanelTextureDict = "timerbars";
inline constexpr const char* BackgroundSprite = "all_black_bg";
inline constexpr const char* HighlightSprite = "all_white_bg";
inline constexpr const char* EntrySprite = "circle_checkpoints";
inline constexpr const char* OverlayTextureDict = "commonmenu";
inline constexpr const char* OverlaySprite = "shop_tick_icon";

// Sets the progress bar's fill fraction, held to 0..1 (NaN counts as 0), and
// the fill's width and centre that the drawing reads: the fill grows right
// from the bar's left edge.
void SetBarProgress(HudBar& bar, double fraction);

// Draws the bar with its row at y (aligned screen space, y downwards) and
// returns what the panel adds to its running y before the next row.
std::int32_t DrawBar(const HudBar& bar, double y);
// The optional highlight sprite, then the background sprite.
void DrawBackground(const HudBar& bar, double y);
// DrawBackground, then the label text.
void DrawLabel(const HudBar& bar, double y);
// Background, label and the row of entry markers. A marked entry waits,
// frame by frame, for the overlay dictionary to load.
void DrawEntries(const HudBar& bar, double y);
// Background, label, and the progress bar with its fill and separators.
void DrawProgress(const HudBar& bar, double y);

}  // namespace rebound
