// One line of styled text on screen for the current frame, anchored at the
// panel's fixed x. Used by the bar drawing for every label and value text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "src/hud/hud_bar.h"

namespace rebound {

// The size pair taken when DrawHudText is handed a negative size; written
// just before such a call by the one caller that uses it (a BigText bar).
extern std::vector<double> TextScaleOverride;

// The game's substring components hold at most this many bytes.
inline constexpr std::size_t kTextComponentBytes = 99;

// How a line of text looks. A size below zero (or NaN) takes the pair from
// TextScaleOverride.
struct HudTextStyle {
  std::int32_t font = 0;
  Rgba colour;
  float size = 0.0F;
  std::int32_t justification = 0;
  float wrapEnd = 0.0F;  // right wrap edge; the left one is 0
  bool dropShadow = false;
};

// How the text is read: as itself, or as the key of a game text label, which
// a hash other than -1 names instead of the text.
struct HudTextKey {
  bool isKey = false;
  std::int32_t hash = -1;
};

// Sets the whole text style, opens a display-text command in the mode that
// fits the text (label by hash, label as entry, short text, long text) and
// closes it at x 0.795 and y. The text is read in place: drawing copies
// nothing.
void DrawHudText(const std::string& text, HudTextKey key, double y, const HudTextStyle& style);

// Where the pieces of the long text being drawn are kept until its command is
// closed: each NUL-terminated, one after another. A text of more pieces than
// fit in place (over 1,584 bytes, far more than a row shows) uses the
// overflow, which only grows, so that drawing it again allocates nothing.
inline constexpr std::size_t kLongTextPiecesInPlace = 16;
inline constexpr std::size_t kLongTextPieceRoom = kTextComponentBytes + 1;
struct LongTextStorage {
  char inPlace[kLongTextPiecesInPlace * kLongTextPieceRoom] = {};
  std::vector<char> overflow;
};
extern LongTextStorage longTextStorage;

// Adds text to the open command as components of at most 99 bytes, cut by
// bytes. The game reads components only when the command is closed, so the
// pieces are copied into longTextStorage, unchanged until the next call: the
// caller closes the command before adding another long text.
void AddLongTextComponents(std::string_view text);

}  // namespace rebound
