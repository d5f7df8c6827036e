#include "src/hud/hud_text.h"

#include <algorithm>
#include <cstring>

#include "src/host/natives.h"

namespace rebound {

std::vector<double> TextScaleOverride;
LongTextStorage longTextStorage;

namespace {

// Every text of the panel is anchored here; justification and the wrap edge
// decide where it really lands.
constexpr float kTextAnchorX = 0.795F;
// A single-component entry, and the game's entry made of many components.
constexpr const char* kSingleComponentEntry = "STRING";
constexpr const char* kManyComponentsEntry = "jamyfafi";

void SetTextScaleFor(float size) {
  if (size >= 0.0F) {
    natives::SET_TEXT_SCALE(0.0F, size);
    return;
  }
  if (TextScaleOverride.size() >= 2) {
    natives::SET_TEXT_SCALE(static_cast<float>(TextScaleOverride[0]),
                            static_cast<float>(TextScaleOverride[1]));
    return;
  }
  // No override pair to read: a size that is not usable draws like size 0
  // rather than reading past the list.
  natives::SET_TEXT_SCALE(0.0F, 0.0F);
}

}  // namespace

void AddLongTextComponents(std::string_view text) {
  const std::size_t pieces = (text.size() + kTextComponentBytes - 1) / kTextComponentBytes;
  LongTextStorage& storage = longTextStorage;
  char* room = storage.inPlace;
  if (pieces > kLongTextPiecesInPlace) {
    if (storage.overflow.size() < pieces * kLongTextPieceRoom) {
      storage.overflow.resize(pieces * kLongTextPieceRoom);
    }
    room = storage.overflow.data();
  }
  // All pieces are copied before the first one is handed over.
  char* piece = room;
  for (std::size_t offset = 0; offset < text.size(); offset += kTextComponentBytes) {
    const std::size_t length = std::min(kTextComponentBytes, text.size() - offset);
    std::memcpy(piece, text.data() + offset, length);
    piece[length] = '\0';
    piece += kLongTextPieceRoom;
  }
  for (std::size_t i = 0; i < pieces; ++i) {
    natives::ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME(room + i * kLongTextPieceRoom);
  }
}

void DrawHudText(const std::string& text, HudTextKey key, double y, const HudTextStyle& style) {
  using namespace natives;
  SET_TEXT_FONT(style.font);
  SetTextScaleFor(style.size);
  SET_TEXT_COLOUR(style.colour.red, style.colour.green, style.colour.blue, style.colour.alpha);
  SET_TEXT_JUSTIFICATION(style.justification);
  SET_TEXT_WRAP(0.0F, style.wrapEnd);
  if (style.dropShadow) SET_TEXT_DROP_SHADOW();

  // `text` and the long text's pieces outlive the END call below: the game
  // reads the components then, not when they are added.
  if (key.isKey && key.hash != -1) {
    BEGIN_TEXT_COMMAND_DISPLAY_TEXT(kSingleComponentEntry);
    ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL_HASH_KEY(key.hash);
  } else if (key.isKey) {
    BEGIN_TEXT_COMMAND_DISPLAY_TEXT(text.c_str());
  } else if (text.size() <= kTextComponentBytes) {
    BEGIN_TEXT_COMMAND_DISPLAY_TEXT(kSingleComponentEntry);
    ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME(text.c_str());
  } else {
    BEGIN_TEXT_COMMAND_DISPLAY_TEXT(kManyComponentsEntry);
    AddLongTextComponents(text);
  }
  END_TEXT_COMMAND_DISPLAY_TEXT(kTextAnchorX, static_cast<float>(y), 0);
}

}  // namespace rebound
