#include "sim/game/drawing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "sim/base/number_format.h"
#include "sim/game/world.h"

namespace sim {

namespace {

// The game reads at most this many bytes of one substring component; a
// longer one is cut short on screen.
constexpr std::size_t kMaxComponentBytes = 99;

// The HUD colours the game defines for the indices scripts use most; a
// scenario may override or add entries.
const std::map<std::int32_t, Colour>& DefaultHudColours() {
  static const std::map<std::int32_t, Colour> colours = {
      {0, {255, 255, 255, 255}},   // pure white
      {1, {240, 240, 240, 255}},   // white
      {2, {0, 0, 0, 255}},         // black
      {3, {155, 155, 155, 255}},   // grey
      {4, {205, 205, 205, 255}},   // light grey
      {5, {77, 77, 77, 255}},      // dark grey
      {6, {224, 50, 50, 255}},     // red
      {9, {93, 182, 229, 255}},    // blue
      {12, {240, 200, 80, 255}},   // yellow
      {18, {114, 204, 114, 255}},  // green
  };
  return colours;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string HexLabel(std::int32_t hash) {
  return "<label " + HexWord(static_cast<std::uint32_t>(hash)) + ">";
}

Colour ReadColour(const ScenarioNode& node) {
  const std::vector<ScenarioNode> items = node.Items();
  if (items.size() != 4) node.Fail("expected [red, green, blue, alpha]");
  Colour c;
  c.red = static_cast<std::int32_t>(items[0].AsInt(0, 255));
  c.green = static_cast<std::int32_t>(items[1].AsInt(0, 255));
  c.blue = static_cast<std::int32_t>(items[2].AsInt(0, 255));
  c.alpha = static_cast<std::int32_t>(items[3].AsInt(0, 255));
  return c;
}

std::vector<std::string> ReadNames(const ScenarioNode& node) {
  std::vector<std::string> names;
  for (const ScenarioNode& item : node.Items()) names.push_back(item.AsString());
  return names;
}

void ConfigureTextures(DrawingModel& model, const ScenarioNode& textures) {
  textures.ExpectObject();
  model.loadFrames = textures.Int("loadFrames", model.loadFrames, 0, 1'000'000);
  if (auto per = textures.Optional("perDictionary")) {
    per->ExpectObject();
    for (const std::string& name : per->Keys()) {
      model.loadFramesOf[name] = per->Child(name).AsInt(0, 1'000'000);
    }
  }
  if (auto never = textures.Optional("never")) {
    for (const std::string& name : ReadNames(*never)) model.neverLoaded.insert(name);
  }
  if (auto loaded = textures.Optional("loaded")) {
    for (const std::string& name : ReadNames(*loaded)) model.dictionaries[name].resident = true;
  }
}

// ---- Language, spinner, colours -------------------------------------------------

void GetCurrentLanguage(World& world, CallFrame& call) { call.ReturnInt(world.drawing.language); }
void BusySpinnerIsOn(World& world, CallFrame& call) { call.ReturnBool(world.drawing.busySpinner); }

void GetHudColour(World& world, CallFrame& call) {
  const auto it = world.drawing.hudColours.find(call.Int(0));
  if (it == world.drawing.hudColours.end()) {
    // The game leaves the receiving variables as they were.
    world.Note("drawing", "GET_HUD_COLOUR of unknown colour " + std::to_string(call.Int(0)));
    return;
  }
  *call.IntPtr(1) = it->second.red;
  *call.IntPtr(2) = it->second.green;
  *call.IntPtr(3) = it->second.blue;
  *call.IntPtr(4) = it->second.alpha;
}

void HideHudComponentThisFrame(World& world, CallFrame& call) {
  std::vector<std::int32_t>& hidden = world.drawing.hiddenHudComponents;
  if (std::find(hidden.begin(), hidden.end(), call.Int(0)) == hidden.end()) {
    hidden.push_back(call.Int(0));
    world.NoteWork();
  }
}

// ---- Texture dictionaries -------------------------------------------------------

void HasStreamedTextureDictLoaded(World& world, CallFrame& call) {
  call.ReturnBool(world.drawing.IsLoaded(call.Text(0), world.clock.frame));
}

void RequestStreamedTextureDict(World& world, CallFrame& call) {
  DrawingModel& model = world.drawing;
  const std::string name = call.Text(0);
  TextureDictionary& dictionary = model.dictionaries[name];
  if (dictionary.resident || dictionary.requestedFrame >= 0) return;
  dictionary.requestedFrame = world.clock.frame;
  if (model.neverLoaded.count(name) != 0) {
    world.Note("drawing", "texture dictionary " + name + " requested; it never loads");
    return;
  }
  const auto per = model.loadFramesOf.find(name);
  const std::int64_t frames = per != model.loadFramesOf.end() ? per->second : model.loadFrames;
  world.Note("drawing", "texture dictionary " + name + " requested; loaded from frame " +
                            std::to_string(world.clock.frame + frames));
}

// ---- Script graphics alignment --------------------------------------------------

void SetScriptGfxAlign(World& world, CallFrame& call) {
  GfxAlignment& a = world.drawing.alignment;
  a.active = true;
  a.horizontal = call.Int(0);
  a.vertical = call.Int(1);
}

void SetScriptGfxAlignParams(World& world, CallFrame& call) {
  GfxAlignment& a = world.drawing.alignment;
  a.offsetX = call.Float(0);
  a.offsetY = call.Float(1);
  a.width = call.Float(2);
  a.height = call.Float(3);
}

void ResetScriptGfxAlign(World& world, CallFrame& /*call*/) {
  world.drawing.alignment = GfxAlignment{};
}

// ---- Text style and display-text commands ---------------------------------------

void SetTextFont(World& world, CallFrame& call) { world.drawing.style.font = call.Int(0); }
void SetTextScale(World& world, CallFrame& call) {
  world.drawing.style.scaleX = call.Float(0);
  world.drawing.style.size = call.Float(1);
}
void SetTextColour(World& world, CallFrame& call) {
  world.drawing.style.colour = Colour{call.Int(0), call.Int(1), call.Int(2), call.Int(3)};
}
void SetTextJustification(World& world, CallFrame& call) {
  world.drawing.style.justification = call.Int(0);
}
void SetTextWrap(World& world, CallFrame& call) {
  world.drawing.style.wrapStart = call.Float(0);
  world.drawing.style.wrapEnd = call.Float(1);
}
void SetTextDropShadow(World& world, CallFrame& /*call*/) { world.drawing.style.dropShadow = true; }

void BeginTextCommandDisplayText(World& world, CallFrame& call) {
  DrawingModel& model = world.drawing;
  if (model.textCommandOpen) {
    world.RaiseGameFault("drawing", "BEGIN_TEXT_COMMAND_DISPLAY_TEXT(" + Quoted(call.Text(0)) +
                                        ") while the text command " + Quoted(model.textEntry) +
                                        " is still open");
    return;
  }
  model.textCommandOpen = true;
  model.textEntry = call.Text(0);
  model.components.clear();
  model.componentTexts.clear();
}

bool RequireOpenCommand(World& world, const char* what) {
  if (world.drawing.textCommandOpen) return true;
  world.RaiseGameFault(
      "drawing", std::string(what) + " outside a text command: no BEGIN_TEXT_COMMAND_... is open");
  return false;
}

void AddTextComponentLabelHashKey(World& world, CallFrame& call) {
  if (!RequireOpenCommand(world, "ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL_HASH_KEY")) return;
  PendingComponent component;
  component.isLabelHash = true;
  component.labelHash = call.Int(0);
  world.drawing.components.push_back(std::move(component));
}

void EndTextCommandDisplayText(World& world, CallFrame& call) {
  DrawingModel& model = world.drawing;
  if (!model.textCommandOpen) {
    world.RaiseGameFault("drawing", "END_TEXT_COMMAND_DISPLAY_TEXT without an open text command");
    return;
  }
  // The game reads each component now, through the address it was given.
  for (std::size_t i = 0; i < model.components.size(); ++i) {
    const PendingComponent& c = model.components[i];
    if (c.isLabelHash) continue;
    const std::string_view added(model.componentTexts.data() + c.textOffset, c.textLength);
    if (std::strncmp(c.address, added.data(), added.size()) != 0 ||
        c.address[added.size()] != '\0') {
      world.RaiseGameFault("drawing", "text component " + std::to_string(i + 1) + " (" +
                                          Quoted(std::string(added)) +
                                          ") changed before END_TEXT_COMMAND_DISPLAY_TEXT read "
                                          "it: its text must stay valid until the command is "
                                          "closed");
      return;
    }
  }
  if (model.keepFrames) {
    DrawItem item;
    item.kind = DrawKind::Text;
    item.x = call.Float(0);
    item.y = call.Float(1);
    item.entry = model.textEntry;
    item.style = model.style;
    item.alignment = model.alignment;
    for (const PendingComponent& c : model.components) {
      item.components.push_back(c.isLabelHash
                                    ? HexLabel(c.labelHash)
                                    : model.componentTexts.substr(c.textOffset, c.textLength));
    }
    if (model.textEntry == "STRING" || model.textEntry == "jamyfafi") {
      for (const std::string& c : item.components) item.text += c;
    } else {
      item.text = model.textEntry;  // a text entry of the game, shown by its name
    }
    AddDrawItem(world, std::move(item));
  }
  model.textCommandOpen = false;
  model.components.clear();
  model.componentTexts.clear();
  model.style = TextStyle{};  // the style applies to one command only
}

// ---- Sprites and rectangles -----------------------------------------------------

void DrawSprite(World& world, CallFrame& call) {
  const char* dictionary = call.Text(0);
  const char* texture = call.Text(1);
  if (!world.drawing.IsLoaded(dictionary, world.clock.frame)) {
    world.RaiseGameFault("drawing", "DRAW_SPRITE of " + Quoted(texture) +
                                        " from texture dictionary " + Quoted(dictionary) +
                                        ", which is not loaded");
    return;
  }
  if (!world.drawing.keepFrames) return;
  DrawItem item;
  item.kind = DrawKind::Sprite;
  item.dictionary = dictionary;
  item.texture = texture;
  item.x = call.Float(2);
  item.y = call.Float(3);
  item.width = call.Float(4);
  item.height = call.Float(5);
  item.heading = call.Float(6);
  item.colour = Colour{call.Int(7), call.Int(8), call.Int(9), call.Int(10)};
  item.alignment = world.drawing.alignment;
  AddDrawItem(world, std::move(item));
}

void DrawRect(World& world, CallFrame& call) {
  if (!world.drawing.keepFrames) return;
  DrawItem item;
  item.kind = DrawKind::Rect;
  item.x = call.Float(0);
  item.y = call.Float(1);
  item.width = call.Float(2);
  item.height = call.Float(3);
  item.colour = Colour{call.Int(4), call.Int(5), call.Int(6), call.Int(7)};
  item.alignment = world.drawing.alignment;
  AddDrawItem(world, std::move(item));
}

}  // namespace

// ---- The model ------------------------------------------------------------------

void DrawingModel::Configure(const ScenarioNode& root) {
  hudColours = DefaultHudColours();
  auto world = root.Optional("world");
  if (!world) return;
  world->ExpectObject();
  if (auto textures = world->Optional("textures")) ConfigureTextures(*this, *textures);
  language = static_cast<std::int32_t>(world->Int("language", language, 0, INT32_MAX));
  busySpinner = world->Bool("busySpinner", busySpinner);
  if (auto colours = world->Optional("hudColours")) {
    colours->ExpectObject();
    for (const std::string& key : colours->Keys()) {
      const ScenarioNode value = colours->Child(key);
      const std::optional<std::int32_t> index = IndexKey(key);
      if (!index) value.Fail("expected a HUD colour index (a whole number from 0) as the key");
      hudColours[*index] = ReadColour(value);
    }
  }
}

void DrawingModel::FileFrame(World& world) {
  if (keepFrames && !hiddenHudComponents.empty()) {
    frames[world.clock.frame].hiddenHudComponents =
        std::set<std::int32_t>(hiddenHudComponents.begin(), hiddenHudComponents.end());
  }
  while (frames.size() > kKeptFrames) frames.erase(frames.begin());
}

bool DrawingModel::IsLoaded(std::string_view dictionary, std::int64_t frame) const {
  const auto it = dictionaries.find(dictionary);
  if (it == dictionaries.end()) return false;
  if (it->second.resident) return true;
  if (it->second.requestedFrame < 0 || neverLoaded.count(dictionary) != 0) return false;
  const auto per = loadFramesOf.find(dictionary);
  const std::int64_t delay = per != loadFramesOf.end() ? per->second : loadFrames;
  return frame >= it->second.requestedFrame + delay;
}

const std::vector<DrawItem>& DrawingModel::DrawList(std::int64_t frame) const {
  static const std::vector<DrawItem> kNothing;
  const FrameDrawing* f = Frame(frame);
  return f != nullptr ? f->items : kNothing;
}

const FrameDrawing* DrawingModel::Frame(std::int64_t frame) const {
  const auto it = frames.find(frame);
  return it == frames.end() ? nullptr : &it->second;
}

void AddDrawItem(World& world, DrawItem item) {
  if (!world.drawing.keepFrames) return;
  world.drawing.frames[world.clock.frame].items.push_back(std::move(item));
  world.NoteWork();  // the kept frames are trimmed at the frame's end
}

void DrawingAddPlayerNameComponent(World& world, CallFrame& call) {
  const char* text = call.Text(0);
  DrawingModel& model = world.drawing;
  if (!model.textCommandOpen) {
    world.RaiseGameFault("drawing", "ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME(" + Quoted(text) +
                                        ") outside a text command: no BEGIN_TEXT_COMMAND_... is "
                                        "open");
    return;
  }
  const std::size_t length = std::strlen(text);
  if (length > kMaxComponentBytes) {
    world.RaiseGameFault(
        "drawing", "ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME with " + std::to_string(length) +
                       " bytes; a component holds at most " + std::to_string(kMaxComponentBytes));
    return;
  }
  PendingComponent component;
  component.address = text;
  component.textOffset = model.componentTexts.size();
  component.textLength = length;
  model.componentTexts.append(text, length);
  model.components.push_back(component);
}

// The game's script alignment, approximated: the script's 0..1 space is laid
// into a box of the parameters' width w and height h that hugs the screen edge
// the alignment names, and then moved by the parameters' offsets:
//   'L' x' = offsetX + x * w        'T' y' = offsetY + y * h
//   'R' x' = offsetX + (1 - w) + x * w
//   'B' y' = offsetY + (1 - h) + y * h
//   'C' x' = offsetX + (1 - w) / 2 + x * w   (and the same for y)
// Sizes scale by w and h. Any other code, or no alignment, leaves the axis as
// it is. With 'R', 'B' and (0, 0, 0.952, 0.949) the bottom-right corner stays
// in place and a point 1 - d from it moves in to 1 - 0.952 d.
namespace {

// One axis: `nearCode` keeps the axis start in place ('L' or 'T'), `farCode`
// its end ('R' or 'B'), 'C' its middle; the rest scales by `size`.
float AlignAxis(std::int32_t code, char nearCode, char farCode, float offset, float size, float v) {
  if (code == nearCode) return offset + v * size;
  if (code == farCode) return offset + (1.0F - size) + v * size;
  if (code == 'C') return offset + (1.0F - size) / 2.0F + v * size;
  return v;
}

}  // namespace

float AlignedScreenX(const GfxAlignment& a, float x) {
  return a.active ? AlignAxis(a.horizontal, 'L', 'R', a.offsetX, a.width, x) : x;
}

float AlignedScreenY(const GfxAlignment& a, float y) {
  return a.active ? AlignAxis(a.vertical, 'T', 'B', a.offsetY, a.height, y) : y;
}

float AlignedScaleX(const GfxAlignment& a) {
  const bool moves = a.horizontal == 'L' || a.horizontal == 'R' || a.horizontal == 'C';
  return a.active && moves ? a.width : 1.0F;
}

float AlignedScaleY(const GfxAlignment& a) {
  const bool moves = a.vertical == 'T' || a.vertical == 'B' || a.vertical == 'C';
  return a.active && moves ? a.height : 1.0F;
}

void DrawingModel::RegisterNatives(HandlerRegistry& registry) {
  registry.Add("GET_CURRENT_LANGUAGE", GetCurrentLanguage);
  registry.Add("BUSYSPINNER_IS_ON", BusySpinnerIsOn);
  registry.Add("GET_HUD_COLOUR", GetHudColour);
  registry.Add("HIDE_HUD_COMPONENT_THIS_FRAME", HideHudComponentThisFrame);
  registry.Add("HAS_STREAMED_TEXTURE_DICT_LOADED", HasStreamedTextureDictLoaded);
  registry.Add("REQUEST_STREAMED_TEXTURE_DICT", RequestStreamedTextureDict);
  registry.Add("SET_SCRIPT_GFX_ALIGN", SetScriptGfxAlign);
  registry.Add("SET_SCRIPT_GFX_ALIGN_PARAMS", SetScriptGfxAlignParams);
  registry.Add("RESET_SCRIPT_GFX_ALIGN", ResetScriptGfxAlign);
  registry.Add("SET_TEXT_FONT", SetTextFont);
  registry.Add("SET_TEXT_SCALE", SetTextScale);
  registry.Add("SET_TEXT_COLOUR", SetTextColour);
  registry.Add("SET_TEXT_JUSTIFICATION", SetTextJustification);
  registry.Add("SET_TEXT_WRAP", SetTextWrap);
  registry.Add("SET_TEXT_DROP_SHADOW", SetTextDropShadow);
  registry.Add("BEGIN_TEXT_COMMAND_DISPLAY_TEXT", BeginTextCommandDisplayText);
  registry.Add("ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL_HASH_KEY", AddTextComponentLabelHashKey);
  registry.Add("END_TEXT_COMMAND_DISPLAY_TEXT", EndTextCommandDisplayText);
  registry.Add("DRAW_SPRITE", DrawSprite);
  registry.Add("DRAW_RECT", DrawRect);
}

bool DrawingModel::ParseEvent(const ScenarioNode& event, EventList& out) {
  if (event.Has("language")) {
    const std::int64_t frame = EventFrame(event);
    const auto code = static_cast<std::int32_t>(event.Child("language").AsInt(0, INT32_MAX));
    out.push_back(ScheduledEvent{frame, "language " + std::to_string(code),
                                 [code](World& world) { world.drawing.language = code; }});
    return true;
  }
  if (event.Has("busySpinner")) {
    const std::int64_t frame = EventFrame(event);
    const bool on = event.Child("busySpinner").AsBool();
    out.push_back(ScheduledEvent{frame, std::string("busy spinner ") + (on ? "on" : "off"),
                                 [on](World& world) { world.drawing.busySpinner = on; }});
    return true;
  }
  return false;
}

}  // namespace sim
