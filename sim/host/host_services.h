// What the host offers a plug-in besides scripts, keyboard and natives: the
// game's version, the scripts' global slots, the world's entity lists,
// textures drawn over the game and present callbacks. Their settings come
// from the scenario; Simulation answers the plug-in's calls from the state
// kept here (host_service_calls.cpp) and keeps it off the frame loop until a
// texture or a present callback asks for a frame's work.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/base/scenario_reader.h"
#include "sim/game/drawing.h"
#include "sim/host/host_functions.h"

namespace sim {

// The build getGameVersion answers when the scenario names none: 93, the
// game's build 3411.
inline constexpr std::int32_t kDefaultGameVersion = 93;

// The kinds of entity the world's lists hold, in the order of the host's
// worldGetAll* functions.
enum class EntityKind { Vehicle, Ped, Object, Pickup };
inline constexpr std::size_t kEntityKinds = 4;
const char* EntityListName(EntityKind kind);  // "vehicles", "peds", ...

// The scenario's settings for the host's services.
struct ServiceSettings {
  std::int32_t gameVersion = kDefaultGameVersion;
  std::map<std::int32_t, std::int64_t> globals;  // preset slots, by id
  // Handles the world holds besides the player's ped, by EntityKind.
  std::array<std::vector<std::int32_t>, kEntityKinds> entities;
  bool presentCallbacks = false;  // call registered present callbacks every frame

  // Reads "gameVersion", "globals", "entities" and "presentCallbacks" from
  // the scenario's root; a mistake names its file, line and field.
  static ServiceSettings Parse(const ScenarioNode& root);
};

// One instance of a texture as drawTexture last set it.
struct TextureInstance {
  std::int32_t id = 0;
  std::int32_t index = 0;
  std::int32_t level = 0;
  std::int64_t untilMs = 0;  // shown in frames before this game time, and in the frame drawn
  std::int64_t drawnFrame = 0;
  float sizeX = 0.0F;
  float sizeY = 0.0F;
  float centerX = 0.0F;  // the point of the texture placed at (posX, posY), in its own fractions
  float centerY = 0.0F;
  float posX = 0.0F;
  float posY = 0.0F;
  float rotation = 0.0F;  // in turns
  float screenHeightScaleFactor = 0.0F;
  Colour colour;
};

// drawTexture's colour, fractions from 0 to 1, as 0 to 255 (NaN as 0).
Colour ColourOfFractions(float r, float g, float b, float a);

// The drawTexture instances a texture may have.
inline constexpr std::int32_t kTextureInstances = 64;

class TextureBoard {
 public:
  // A new id for `file`, from 0 up, one per call as the real host gives them.
  std::int32_t Create(const std::string& file);
  // An id given since the last reload.
  bool Known(std::int32_t id) const {
    return id >= firstLive_ && id < static_cast<std::int32_t>(files_.size());
  }
  // An id given before the last reload.
  bool Freed(std::int32_t id) const { return id >= 0 && id < firstLive_; }
  // The host frees every texture when it reloads the scripts; ids go on
  // counting up, so that one kept from before names no texture.
  void FreeAll() {
    firstLive_ = static_cast<std::int32_t>(files_.size());
    shown_.clear();
  }
  const std::string& File(std::int32_t id) const { return files_[static_cast<std::size_t>(id)]; }
  std::size_t Count() const { return files_.size(); }
  // Shows or updates an instance; the caller has checked its id and index.
  void Draw(const TextureInstance& instance) { shown_[{instance.id, instance.index}] = instance; }
  // The instances shown in a frame, lower level first (then by id and
  // index), as drawing items; instances whose time is up are dropped.
  std::vector<DrawItem> FrameItems(std::int64_t frame, std::int64_t nowMs);
  bool AnyShown() const { return !shown_.empty(); }

 private:
  std::vector<std::string> files_;  // by id
  std::int32_t firstLive_ = 0;      // ids below it were freed at a reload
  std::map<std::pair<std::int32_t, std::int32_t>, TextureInstance> shown_;  // by id and index
};

// The scripts' global slots: one zeroed 8-byte slot per id, asked for or
// preset, at an address that stays put for the run.
class GlobalSlots {
 public:
  explicit GlobalSlots(const std::map<std::int32_t, std::int64_t>& preset);
  std::uint64_t* Slot(std::int32_t id) { return &slots_[id]; }
  // Every slot and its value now, by id.
  std::vector<std::pair<std::int32_t, std::int64_t>> Values() const;

 private:
  std::map<std::int32_t, std::uint64_t> slots_;  // a map's nodes never move
};

// Writes at most `size` of `handles` into `out` and answers how many it
// wrote; nothing for a size of zero or less.
std::int32_t CopyHandles(const std::vector<std::int32_t>& handles, std::int32_t* out,
                         std::int32_t size);

// The present callbacks a plug-in registered, in order of registration.
class PresentCallbacks {
 public:
  // Null when accepted, else what is wrong.
  const char* Register(PresentCallback callback);
  const char* Unregister(PresentCallback callback);
  const std::vector<PresentCallback>& All() const { return callbacks_; }
  bool Any() const { return !callbacks_.empty(); }

 private:
  std::vector<PresentCallback> callbacks_;
};

// Why getGameVersionInfo is not answered.
inline constexpr const char* kGameVersionInfoRefusal =
    "getGameVersionInfo is not answered: the structure it returns has no public layout "
    "(use getGameVersion)";

// For a call that must not return to its caller when it is not on the script
// fibre (where a refusal parks the script for good): prints the message and
// ends the process with exit status 1, the status of a refused run.
[[noreturn]] void StopProcessWithoutReturning(const std::string& message);

}  // namespace sim
