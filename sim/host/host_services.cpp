#include "sim/host/host_services.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace sim {

namespace {

constexpr const char* kEntityListNames[kEntityKinds] = {"vehicles", "peds", "objects", "pickups"};

// The handles of one list: whole numbers above 0, each once in the world.
void ParseHandles(const ScenarioNode& list, std::set<std::int32_t>& seen,
                  std::vector<std::int32_t>& out) {
  for (const ScenarioNode& item : list.Items()) {
    const auto handle = static_cast<std::int32_t>(item.AsInt(1, INT32_MAX));
    if (!seen.insert(handle).second)
      item.Fail("handle " + std::to_string(handle) + " is listed twice");
    out.push_back(handle);
  }
}

void ParseGlobals(const ScenarioNode& globals, std::map<std::int32_t, std::int64_t>& out) {
  globals.ExpectObject();
  for (const std::string& key : globals.Keys()) {
    const ScenarioNode value = globals.Child(key);
    const std::optional<std::int32_t> id = IndexKey(key);
    if (!id) value.Fail("a global's id is a whole number from 0 to 2147483647 in plain digits");
    out[*id] = value.AsInt();
  }
}

// A colour channel the host takes as a fraction, as the pictures' 0-255.
std::int32_t Channel(float fraction) {
  if (!std::isfinite(fraction)) return 0;
  return static_cast<std::int32_t>(std::lround(std::clamp(fraction, 0.0F, 1.0F) * 255.0F));
}

DrawItem ItemOf(const TextureInstance& t, const std::string& file) {
  DrawItem item;
  item.kind = DrawKind::Texture;
  item.width = t.sizeX;
  item.height = t.sizeY;
  // (posX, posY) is where the texture's point (centerX, centerY) lands; the
  // item is placed by its middle.
  item.x = t.posX + (0.5F - t.centerX) * t.sizeX;
  item.y = t.posY + (0.5F - t.centerY) * t.sizeY;
  item.heading = t.rotation * 360.0F;
  item.colour = t.colour;
  item.texture = file;
  item.entry = "texture " + std::to_string(t.id) + " instance " + std::to_string(t.index) +
               " level " + std::to_string(t.level);
  return item;
}

}  // namespace

Colour ColourOfFractions(float r, float g, float b, float a) {
  return Colour{Channel(r), Channel(g), Channel(b), Channel(a)};
}

const char* EntityListName(EntityKind kind) { return kEntityListNames[static_cast<int>(kind)]; }

ServiceSettings ServiceSettings::Parse(const ScenarioNode& root) {
  ServiceSettings s;
  s.gameVersion = static_cast<std::int32_t>(root.Int("gameVersion", s.gameVersion, -1, INT32_MAX));
  if (auto globals = root.Optional("globals")) ParseGlobals(*globals, s.globals);
  if (auto entities = root.Optional("entities")) {
    entities->ExpectObject();
    std::set<std::int32_t> seen;
    for (std::size_t k = 0; k < kEntityKinds; ++k) {
      if (auto list = entities->Optional(kEntityListNames[k]))
        ParseHandles(*list, seen, s.entities[k]);
    }
  }
  s.presentCallbacks = root.Bool("presentCallbacks", false);
  return s;
}

std::int32_t TextureBoard::Create(const std::string& file) {
  files_.push_back(file);
  return static_cast<std::int32_t>(files_.size() - 1);
}

std::vector<DrawItem> TextureBoard::FrameItems(std::int64_t frame, std::int64_t nowMs) {
  std::vector<const TextureInstance*> now;
  for (auto it = shown_.begin(); it != shown_.end();) {
    if (it->second.drawnFrame != frame && nowMs >= it->second.untilMs) {
      it = shown_.erase(it);
      continue;
    }
    now.push_back(&it->second);
    ++it;
  }
  // The map keeps them by id and index; a stable sort keeps that within a level.
  std::stable_sort(now.begin(), now.end(), [](const TextureInstance* a, const TextureInstance* b) {
    return a->level < b->level;
  });
  std::vector<DrawItem> items;
  items.reserve(now.size());
  for (const TextureInstance* t : now) items.push_back(ItemOf(*t, File(t->id)));
  return items;
}

GlobalSlots::GlobalSlots(const std::map<std::int32_t, std::int64_t>& preset) {
  for (const auto& [id, value] : preset) slots_[id] = static_cast<std::uint64_t>(value);
}

std::vector<std::pair<std::int32_t, std::int64_t>> GlobalSlots::Values() const {
  std::vector<std::pair<std::int32_t, std::int64_t>> values;
  for (const auto& [id, value] : slots_) values.emplace_back(id, static_cast<std::int64_t>(value));
  return values;
}

std::int32_t CopyHandles(const std::vector<std::int32_t>& handles, std::int32_t* out,
                         std::int32_t size) {
  if (size <= 0 || out == nullptr) return 0;
  const std::size_t n = std::min(handles.size(), static_cast<std::size_t>(size));
  std::copy_n(handles.begin(), n, out);
  return static_cast<std::int32_t>(n);
}

const char* PresentCallbacks::Register(PresentCallback callback) {
  if (callback == nullptr) return "presentCallbackRegister with a null callback";
  if (std::find(callbacks_.begin(), callbacks_.end(), callback) != callbacks_.end()) {
    return "presentCallbackRegister with a callback that is registered already";
  }
  callbacks_.push_back(callback);
  return nullptr;
}

const char* PresentCallbacks::Unregister(PresentCallback callback) {
  const auto it = std::find(callbacks_.begin(), callbacks_.end(), callback);
  if (it == callbacks_.end()) {
    return "presentCallbackUnregister with a callback that is not registered";
  }
  callbacks_.erase(it);
  return nullptr;
}

void StopProcessWithoutReturning(const std::string& message) {
  std::fprintf(stderr,
               "rebound-sim: %s; the call cannot return to its caller, so the run ends here\n",
               message.c_str());
  std::fflush(nullptr);
  std::_Exit(1);
}

}  // namespace sim
