#include "src/hud/bar_drawing.h"

#include "src/host/host_api.h"
#include "src/host/natives.h"
#include "src/hud/hud_text.h"

namespace rebound {

namespace {

// ---- Row layout, in the panel's aligned screen space -------------------------
constexpr float kBackgroundX = 0.874F;
constexpr float kBackgroundWidth = 0.165F;
constexpr double kBackgroundOffset = 0.008;
constexpr double kBackgroundOffsetCompact = 0.012;
constexpr float kBackgroundHeight = 0.035F;
constexpr float kBackgroundHeightCompact = 0.028F;
constexpr Rgba kBackgroundTint{255, 255, 255, 140};

constexpr double kLabelOffsetCompact = 0.002;
constexpr double kValueOffset = -0.011;
constexpr double kValueOffsetCompact = -0.0045;
constexpr float kValueSizeCompact = 0.425F;
constexpr double kLargeLabelOffset = -0.005;
constexpr float kLargeLabelSize = 0.447F;

constexpr double kBarOffset = 0.012;  // progress bar and entry markers
constexpr float kBarCentreX = 0.913F;
constexpr double kBarLeftX = 0.8785;
constexpr double kBarWidth = 0.069;
constexpr float kBarHeight = 0.011F;
constexpr float kSeparatorWidth = 0.0015F;
constexpr Rgba kSeparatorColour{0, 0, 0, 255};

constexpr double kFirstMarkerX = 0.9445;
constexpr double kMarkerSpacing = 0.0094;
constexpr float kMarkerWidth = 0.012F;
constexpr float kMarkerHeight = 0.023F;
constexpr std::int32_t kOverlayHudColour = 2;

// A big text sits above its row; in Korean (8), Japanese (10) and Chinese (9,
// 12) its glyphs need it a little lower.
constexpr float kBigTextRise = 0.131F;
constexpr float kBigTextRiseLanguage8 = 0.0872F;
constexpr float kBigTextRiseLanguage10 = 0.095F;
constexpr float kBigTextLanguageDrop = 0.003F;
constexpr double kBigTextScaleX = 2.0;
constexpr double kBigTextSize = 2.7;
constexpr std::int32_t kBigTextJustification = 2;
constexpr float kBigTextWrapEnd = 0.95F;
// DrawHudText takes a negative size as "use TextScaleOverride".
constexpr float kUseScaleOverride = -1.0F;

// Positions are worked out in double and narrowed when handed to the game.
float Narrow(double value) { return static_cast<float>(value); }

void DrawSprite(const char* dictionary, const char* texture, float x, float y, float width,
                float height, const Rgba& colour) {
  natives::DRAW_SPRITE(dictionary, texture, x, y, width, height, 0.0F, colour.red, colour.green,
                       colour.blue, colour.alpha, 0, 0);
}

void DrawRect(float x, float y, float width, float height, const Rgba& colour) {
  natives::DRAW_RECT(x, y, width, height, colour.red, colour.green, colour.blue, colour.alpha, 0);
}

Rgba MarkerColour(const HudBar& bar, std::int32_t state) {
  switch (state) {
    case EntryDark:
      return bar.entryDarkColour;
    case EntryDim:
      return bar.entryDimColour;
    case EntryLit:
    case EntryLitMarked:
      return bar.entryLitColour;
    default:
      return Rgba{0, 0, 0, 0};
  }
}

// Loads the overlay dictionary on first use and holds the script until it
// is in: the overlay must not be drawn from a dictionary that is not loaded.
void WaitForOverlayDictionary() {
  using namespace natives;
  if (!HAS_STREAMED_TEXTURE_DICT_LOADED(OverlayTextureDict)) {
    REQUEST_STREAMED_TEXTURE_DICT(OverlayTextureDict, false);
  }
  while (!HAS_STREAMED_TEXTURE_DICT_LOADED(OverlayTextureDict)) scriptWait(0);
}

void DrawMarker(const HudBar& bar, std::int32_t state, double x, float y) {
  DrawSprite(PanelTextureDict, EntrySprite, Narrow(x), y, kMarkerWidth, kMarkerHeight,
             MarkerColour(bar, state));
  if (state != EntryLitMarked) return;
  WaitForOverlayDictionary();
  Rgba overlay;
  natives::GET_HUD_COLOUR(kOverlayHudColour, &overlay.red, &overlay.green, &overlay.blue,
                          &overlay.alpha);
  DrawSprite(OverlayTextureDict, OverlaySprite, Narrow(x), y, kMarkerWidth, kMarkerHeight, overlay);
}

HudTextStyle LabelStyle(const HudBar& bar, float size) {
  return HudTextStyle{.font = bar.labelFont,
                      .colour = bar.labelColour,
                      .size = size,
                      .justification = bar.labelJustification,
                      .wrapEnd = Narrow(bar.labelWrapEnd)};
}

void DrawValueText(const HudBar& bar, double y, float size) {
  const HudTextStyle style{.font = bar.valueFont,
                           .colour = bar.valueColour,
                           .size = size,
                           .justification = bar.valueJustification,
                           .wrapEnd = Narrow(bar.valueWrapEnd)};
  DrawHudText(bar.valueText, HudTextKey{bar.valueIsKey, bar.valueKeyHash}, y, style);
}

std::int32_t DrawTextBar(const HudBar& bar, double y) {
  DrawLabel(bar, y);
  if (bar.visibility == 1) return 0;
  if (bar.compact) {
    DrawValueText(bar, y + kValueOffsetCompact, kValueSizeCompact);
  } else {
    DrawValueText(bar, y + kValueOffset, Narrow(bar.valueScale));
  }
  return 0;
}

std::int32_t DrawBigTextBar(const HudBar& bar, double y) {
  // A big text stands in the space above its own row, so it belongs at the
  // top of the panel. It adds nothing to the running y: y is a fraction of
  // the screen, and any other whole number would move every later row a
  // screen height or more away, off the screen.
  constexpr std::int32_t kRowsAdded = 0;
  if (bar.visibility == 1) return kRowsAdded;
  const std::int32_t language = natives::GET_CURRENT_LANGUAGE();
  float rise = kBigTextRise;
  if (language == 8) rise = kBigTextRiseLanguage8;
  if (language == 10) rise = kBigTextRiseLanguage10;
  double textY = y - static_cast<double>(rise);
  if (language == 8 || language == 9 || language == 10 || language == 12) {
    textY += static_cast<double>(kBigTextLanguageDrop);
  }
  TextScaleOverride = {kBigTextScaleX, kBigTextSize};
  const HudTextStyle style{.font = bar.labelFont,
                           .colour = bar.labelColour,
                           .size = kUseScaleOverride,
                           .justification = kBigTextJustification,
                           .wrapEnd = kBigTextWrapEnd,
                           .dropShadow = true};
  // The label is drawn, but whether it is a key and which hash it uses come
  // from the value text's fields.
  DrawHudText(bar.label, HudTextKey{bar.valueIsKey, bar.valueKeyHash}, textY, style);
  return kRowsAdded;
}

std::int32_t DrawLargeLabelBar(const HudBar& bar, double y) {
  DrawBackground(bar, y);
  DrawHudText(bar.label, HudTextKey{bar.labelIsKey, bar.labelKeyHash}, y + kLargeLabelOffset,
              LabelStyle(bar, kLargeLabelSize));
  if (bar.visibility == 1) return 0;
  DrawValueText(bar, y + kValueOffset, Narrow(bar.valueScale));
  return 0;
}

}  // namespace

void SetBarProgress(HudBar& bar, double fraction) {
  if (fraction > 1.0) {
    fraction = 1.0;
  } else if (!(fraction >= 0.0)) {
    fraction = 0.0;
  }
  bar.progress = fraction;
  bar.fillWidth = fraction * kBarWidth;
  bar.fillCentreX = bar.fillWidth * 0.5 + kBarLeftX;
}

std::int32_t DrawBar(const HudBar& bar, double y) {
  switch (bar.kind) {
    case HudBarKind::Text:
      return DrawTextBar(bar, y);
    case HudBarKind::BigText:
      return DrawBigTextBar(bar, y);
    case HudBarKind::LargeLabel:
      return DrawLargeLabelBar(bar, y);
    case HudBarKind::Entries:
      DrawEntries(bar, y);
      return 0;
    case HudBarKind::Progress:
      DrawProgress(bar, y);
      return 0;
  }
  return 0;
}

void DrawBackground(const HudBar& bar, double y) {
  const float spriteY = Narrow(y + (bar.compact ? kBackgroundOffsetCompact : kBackgroundOffset));
  const float height = bar.compact ? kBackgroundHeightCompact : kBackgroundHeight;
  if (bar.highlightColour.red != -1) {
    DrawSprite(PanelTextureDict, HighlightSprite, kBackgroundX, spriteY, kBackgroundWidth, height,
               bar.highlightColour);
  }
  DrawSprite(PanelTextureDict, BackgroundSprite, kBackgroundX, spriteY, kBackgroundWidth, height,
             kBackgroundTint);
}

void DrawLabel(const HudBar& bar, double y) {
  DrawBackground(bar, y);
  const double textY = bar.compact ? y + kLabelOffsetCompact : y;
  DrawHudText(bar.label, HudTextKey{bar.labelIsKey, bar.labelKeyHash}, textY,
              LabelStyle(bar, Narrow(bar.labelScale)));
}

void DrawEntries(const HudBar& bar, double y) {
  DrawLabel(bar, y);
  if (bar.visibility == 1) return;
  const float markerY = Narrow(y + kBarOffset);
  double markerX = kFirstMarkerX;
  // Either way the first entry taken is the rightmost marker.
  if (bar.entriesLeftToRight) {
    for (auto it = bar.entries.rbegin(); it != bar.entries.rend(); ++it) {
      DrawMarker(bar, *it, markerX, markerY);
      markerX -= kMarkerSpacing;
    }
  } else {
    for (std::int32_t state : bar.entries) {
      DrawMarker(bar, state, markerX, markerY);
      markerX -= kMarkerSpacing;
    }
  }
}

void DrawProgress(const HudBar& bar, double y) {
  DrawLabel(bar, y);
  if (bar.visibility == 1) return;
  const float barY = Narrow(y + kBarOffset);
  DrawRect(kBarCentreX, barY, Narrow(kBarWidth), kBarHeight, bar.barBackColour);
  // Drawn also when empty: a zero width draws nothing.
  DrawRect(Narrow(bar.fillCentreX), barY, Narrow(bar.fillWidth), kBarHeight, bar.barFillColour);
  if (bar.tickCount <= 0) return;
  // In double and 64 bits: a tick count near the top of int32 must not overflow.
  const double step = kBarWidth / (static_cast<double>(bar.tickCount) + 1.0);
  for (std::int64_t i = 1; i <= bar.tickCount; ++i) {
    DrawRect(Narrow(kBarLeftX + static_cast<double>(i) * step), barY, kSeparatorWidth, kBarHeight,
             kSeparatorColour);
  }
}

}  // namespace rebound
