// One bar of the HUD bar panel: its kind, its style with every default, its
// texts and its animation. The panel frame draws and animates bars; the
// respawn flow owns the one bar it shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rebound {

// Red, green, blue, alpha; 0..255 in use.
struct Rgba {
  std::int32_t red = 0;
  std::int32_t green = 0;
  std::int32_t blue = 0;
  std::int32_t alpha = 0;

  friend bool operator==(const Rgba&, const Rgba&) = default;
};

// How a bar is drawn. A bar may hold a value outside these: it draws nothing
// but still takes its row.
enum class HudBarKind : std::int32_t {
  Text = 32,        // background, label, value text at the right
  BigText = 33,     // one large shadowed text, no background
  LargeLabel = 34,  // background, a larger label, value text
  Entries = 35,     // background, label, a row of entry markers
  Progress = 36,    // background, label, progress bar with separators
};

// The states held in HudBar::entries. Any other value draws a transparent marker.
enum HudBarEntryState : std::int32_t {
  EntryDim = 2,         // entryDimColour
  EntryLit = 8,         // entryLitColour
  EntryDark = 32,       // entryDarkColour
  EntryLitMarked = 33,  // entryLitColour with an overlay sprite on top
};

// Bars are plain records changed by their owner between frames. The panel
// holds only pointers, so a listed bar must stay alive at a fixed address.
struct HudBar {
  HudBarKind kind = HudBarKind::Progress;   // how the bar is drawn
  bool compact = false;                     // smaller background and row step
  Rgba entryLitColour{255, 255, 255, 255};  // markers EntryLit, EntryLitMarked
  Rgba entryDimColour{255, 255, 255, 51};   // markers EntryDim
  Rgba entryDarkColour{0, 0, 0, 255};       // markers EntryDark
  std::vector<std::int32_t> entries;        // entry states, in list order
  Rgba highlightColour{-1, -1, -1, -1};     // red -1: no highlight sprite
  std::int32_t labelFont = 0;
  Rgba labelColour{240, 240, 240, 255};
  double labelScale = 0.288;
  std::int32_t labelJustification = 2;
  double labelWrapEnd = 0.867;
  std::int32_t valueFont = 0;
  Rgba valueColour{240, 240, 240, 255};
  double valueScale = 0.494;
  std::int32_t valueJustification = 2;
  double valueWrapEnd = 0.95;
  Rgba barBackColour{155, 155, 155, 140};  // progress bar background
  Rgba barFillColour{240, 240, 240, 140};  // progress bar fill
  double fillWidth = 0.0;                  // the drawing reads these two ...
  double fillCentreX = 0.0;                // ... never `progress`
  double progress = 0.0;                   // fill fraction as the owner last set it
  bool enabled = true;                     // the panel skips a disabled bar
  std::string id;                          // 8 random characters
  std::string label;                       // text, or a text-label key if labelIsKey
  std::string valueText;                   // text, or a text-label key if valueIsKey
  bool labelIsKey = false;
  bool valueIsKey = false;
  std::int32_t tickCount = 0;      // separators across the progress bar
  std::int32_t visibility = 2;     // 0 no row, 1 content hidden, 2 shown
  std::int32_t labelKeyHash = -1;  // label hash to draw instead; -1 none
  std::int32_t valueKeyHash = -1;
  Rgba animColourA;           // even steps
  Rgba animColourB;           // odd steps; in a blink, "shown"
  std::int32_t animMode = 0;  // 0 none, 1 blink, 2 colour flash
  std::int32_t animStepsLeft = 0;
  bool entriesLeftToRight = false;  // last entry rightmost

  // Every bar starts as a Progress bar with a literal label; an empty value
  // text leaves valueText empty.
  HudBar(std::string labelText, std::string value);

  // A literal label; drops any label key hash.
  void SetLabel(std::string text);

  // One animation step with the given colour: a blink shows the bar when the
  // colour is animColourB and hides its content otherwise; a colour flash
  // writes the colour that the bar's kind animates.
  void ApplyAnimationStep(const Rgba& colour);
};

}  // namespace rebound
