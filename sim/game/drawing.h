// What the simulated game draws: texture dictionaries that stream in some
// frames after their request, the script graphics alignment, the text style
// and display-text commands, sprites and rectangles, HUD components hidden
// for a frame, and the per-frame draw list that the pictures are made from;
// also the language, the busy spinner and the HUD colour table the game
// reports. Its settings (world.textures, language, busySpinner, hudColours)
// and events are in the scenario guide, docs/scenarios.md.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sim/game/handlers.h"

namespace sim {

struct Colour {
  std::int32_t red = 0;
  std::int32_t green = 0;
  std::int32_t blue = 0;
  std::int32_t alpha = 0;

  friend bool operator==(const Colour&, const Colour&) = default;
};

// SET_SCRIPT_GFX_ALIGN and its parameters as they stood when an item was drawn.
struct GfxAlignment {
  bool active = false;          // false: plain screen space
  std::int32_t horizontal = 0;  // a character code: 'L', 'C', 'R' (or 'I' ignored)
  std::int32_t vertical = 0;    // 'T', 'C', 'B'
  float offsetX = 0.0F;
  float offsetY = 0.0F;
  float width = 1.0F;
  float height = 1.0F;
};

// The style that SET_TEXT_* sets for the next display-text command. The game
// applies it to one command and then falls back to these defaults.
struct TextStyle {
  std::int32_t font = 0;
  float scaleX = 1.0F;  // SET_TEXT_SCALE's first value
  float size = 1.0F;    // ... and its second, the text size
  Colour colour{255, 255, 255, 255};
  std::int32_t justification = 1;  // 0 centre, 1 left, 2 right
  float wrapStart = 0.0F;
  float wrapEnd = 1.0F;
  bool dropShadow = false;
};

// Texture: an image a plug-in drew through the host's drawTexture, which the
// simulator does not load; `texture` holds its file name.
enum class DrawKind { Rect, Sprite, Text, Movie, Texture };

// One thing drawn in a frame, in the coordinates the script gave (the aligned
// space described by `alignment`). Sprites and rectangles are placed by their
// centre; a text by its anchor (x, y) with its style's justification and wrap.
struct DrawItem {
  DrawKind kind = DrawKind::Rect;
  float x = 0.0F;
  float y = 0.0F;
  float width = 0.0F;  // rectangles, sprites; a movie covers the whole screen
  float height = 0.0F;
  float heading = 0.0F;
  Colour colour;           // rectangle, sprite tint, movie tint; a text's is in `style`
  std::string dictionary;  // sprite
  std::string texture;     // sprite; a movie's name
  std::string entry;       // text: the entry the command was begun with; movie: the shard's method
  std::vector<std::string> components;  // text: components as the game read them
  std::string text;                     // text: what the game shows
  TextStyle style;                      // text
  GfxAlignment alignment;
};

// Everything of one frame.
struct FrameDrawing {
  std::vector<DrawItem> items;                 // in drawing order
  std::set<std::int32_t> hiddenHudComponents;  // hidden in this frame
};

struct TextureDictionary {
  std::int64_t requestedFrame = -1;  // first request; -1 never requested
  bool resident = false;             // loaded from the start
};

// A component of the open display-text command. The game reads the text
// only when the command is closed, so the address is kept and read then; the
// text as it was when added is kept in DrawingModel::componentTexts.
struct PendingComponent {
  bool isLabelHash = false;
  std::int32_t labelHash = 0;
  const char* address = nullptr;
  std::size_t textOffset = 0;  // into componentTexts
  std::size_t textLength = 0;
};

struct DrawingModel : QuietArea {
  // Settings. The maps take a dictionary's name as the script passed it,
  // without a copy.
  std::int64_t loadFrames = 2;
  std::map<std::string, std::int64_t, std::less<>> loadFramesOf;
  std::set<std::string, std::less<>> neverLoaded;
  std::int32_t language = 0;
  bool busySpinner = false;
  std::map<std::int32_t, Colour> hudColours;

  // Game state.
  std::map<std::string, TextureDictionary, std::less<>> dictionaries;
  GfxAlignment alignment;
  TextStyle style;  // applies to the next display-text command
  bool textCommandOpen = false;
  std::string textEntry;
  std::vector<PendingComponent> components;
  std::string componentTexts;  // the open command's component texts, end to end
  // This frame's, each once; a vector so that hiding the same components
  // every frame reuses its storage.
  std::vector<std::int32_t> hiddenHudComponents;

  // Draw lists of the frames that drew anything or hid a HUD component,
  // keyed by frame; the oldest are dropped beyond kKeptFrames. Kept only
  // when something pictures them (keepFrames): the checks of what the script
  // draws run either way.
  static constexpr std::size_t kKeptFrames = 20000;
  bool keepFrames = true;
  std::map<std::int64_t, FrameDrawing> frames;

  static constexpr const char* kName = "drawing";  // the area's name in notes and checks
  // The area's natives' handlers, by the natives' names.
  static void RegisterNatives(HandlerRegistry& registry);
  // Takes the event if it is one of this area's kinds.
  static bool ParseEvent(const ScenarioNode& event, EventList& out);
  void Configure(const ScenarioNode& root);
  // Starts the frame with nothing hidden.
  void BeginFrame(World& /*world*/) {
    if (!hiddenHudComponents.empty()) hiddenHudComponents.clear();
  }
  // Files the frame's hidden HUD components with its draw list.
  void EndFrame(World& world) {
    if ((keepFrames && !hiddenHudComponents.empty()) || frames.size() > kKeptFrames) {
      FileFrame(world);
    }
  }
  bool HasFrameWork(const World& /*world*/) const {
    return !hiddenHudComponents.empty() || frames.size() > kKeptFrames;
  }
  void FileFrame(World& world);

  bool IsLoaded(std::string_view dictionary, std::int64_t frame) const;
  // The frame's draw list; empty when nothing was drawn in it.
  const std::vector<DrawItem>& DrawList(std::int64_t frame) const;
  const FrameDrawing* Frame(std::int64_t frame) const;
};

// ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME when no feed post is open: a
// component of the open display-text command.
void DrawingAddPlayerNameComponent(World& world, CallFrame& call);

// Adds an item to the current frame's draw list (full-screen movies use it).
void AddDrawItem(World& world, DrawItem item);

// The screen position of an aligned point and the screen size of an aligned
// extent: an approximation of the game's script alignment (see drawing.cpp).
float AlignedScreenX(const GfxAlignment& alignment, float x);
float AlignedScreenY(const GfxAlignment& alignment, float y);
float AlignedScaleX(const GfxAlignment& alignment);
float AlignedScaleY(const GfxAlignment& alignment);

}  // namespace sim
