// The simulated game's catalogue of natives, grouped by the game's own areas.
// Argument kinds follow what the game reads from each slot; where the game's
// documentation leaves a trailing flag untyped and callers push a plain 0, the
// slot is an Int so that either reading of it is accepted.
#include "sim/base/native_table.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "sim/base/number_format.h"

namespace sim {

namespace {

using enum ArgKind;

NativeSignature Native(std::uint64_t hash, std::string_view name,
                       std::initializer_list<ArgKind> args, ResultKind result) {
  return NativeSignature{hash, std::string(name), std::vector<ArgKind>(args), result, false, false,
                         {}};
}

// A native the game documents by hash only: it goes by that hash.
NativeSignature HashOnly(std::uint64_t hash, std::initializer_list<ArgKind> args,
                         ResultKind result) {
  return NativeSignature{hash, HexHash(hash), std::vector<ArgKind>(args), result, false, false, {}};
}

// A native known by hash only whose effect the simulated game models under
// the name `modelledAs`.
NativeSignature HashOnlyModelledAs(std::uint64_t hash, std::string_view modelledAs,
                                   std::initializer_list<ArgKind> args, ResultKind result) {
  NativeSignature signature = HashOnly(hash, args, result);
  signature.modelledAs = modelledAs;
  return signature;
}

// A native the simulated game accepts without modelling what it does.
NativeSignature AnsweredByDefault(NativeSignature signature) {
  signature.answeredByDefault = true;
  return signature;
}

// A native the simulated game does not model but counts, with its last
// arguments.
NativeSignature CallsRecorded(NativeSignature signature) {
  signature.callsRecorded = true;
  return signature;
}

std::vector<NativeSignature> BuildTable() {
  return {
      // Player and player ped.
      Native(0xD80958FC74E988A6, "PLAYER_PED_ID", {}, ResultKind::Int),
      Native(0x4F8644AF03D0E0D6, "PLAYER_ID", {}, ResultKind::Int),
      Native(0x39FF19C64EF7DA5B, "SET_PLAYER_WANTED_LEVEL", {Int, Int, Bool}, ResultKind::None),
      Native(0xE0A7D1E497FFCD6F, "SET_PLAYER_WANTED_LEVEL_NOW", {Int, Bool}, ResultKind::None),
      Native(0x32C62AA929C2DA6A, "SET_POLICE_IGNORE_PLAYER", {Int, Bool}, ResultKind::None),
      Native(0x2D03E13C460760D6, "RESET_PLAYER_ARREST_STATE", {Int}, ResultKind::None),
      // The game's documentation names no effect the player would see.
      AnsweredByDefault(HashOnly(0xA6F312FCCE9C1DFE, {Int}, ResultKind::None)),

      // Entities.
      Native(0xEEF059FAD016D209, "GET_ENTITY_HEALTH", {Int}, ResultKind::Int),
      Native(0x15D757606D170C3C, "GET_ENTITY_MAX_HEALTH", {Int}, ResultKind::Int),
      Native(0x6B76DC1F3AE6E6A3, "SET_ENTITY_HEALTH", {Int, Int, Int}, ResultKind::None),
      Native(0x3FEF770D40960D5A, "GET_ENTITY_COORDS", {Int, Bool}, ResultKind::Vector),
      Native(0x06843DA7060A026B, "SET_ENTITY_COORDS",
             {Int, Float, Float, Float, Bool, Bool, Bool, Bool}, ResultKind::None),
      Native(0x8E2530AA8ADA980E, "SET_ENTITY_HEADING", {Int, Float}, ResultKind::None),
      Native(0x428CA6DBD1094446, "FREEZE_ENTITY_POSITION", {Int, Bool}, ResultKind::None),
      Native(0x5F9532F3B5CC2551, "IS_ENTITY_DEAD", {Int, Bool}, ResultKind::Bool),

      // Peds.
      Native(0x84A2DD9AC37C35C1, "IS_PED_INJURED", {Int}, ResultKind::Bool),
      Native(0x8D8ACD8388CD99CE, "REVIVE_INJURED_PED", {Int}, ResultKind::None),
      Native(0x71BC8E838B9C6035, "RESURRECT_PED", {Int}, ResultKind::None),
      Native(0xCEA04D83135264CC, "SET_PED_ARMOUR", {Int, Int}, ResultKind::None),
      Native(0xAAA34F8A7CB32098, "CLEAR_PED_TASKS_IMMEDIATELY", {Int}, ResultKind::None),
      AnsweredByDefault(HashOnly(0x95D2D383D5396B8A, {Int, Bool}, ResultKind::None)),

      // Game flow: death and arrest handling, pause, time.
      Native(0x2C2B3493FBF51C71, "PAUSE_DEATH_ARREST_RESTART", {Bool}, ResultKind::None),
      Native(0xDA66D2796BA33F12, "SET_FADE_IN_AFTER_DEATH_ARREST", {Bool}, ResultKind::None),
      Native(0x1E0B4DC0D990A4E7, "SET_FADE_OUT_AFTER_ARREST", {Bool}, ResultKind::None),
      Native(0x4A18E01DF2C87B86, "SET_FADE_OUT_AFTER_DEATH", {Bool}, ResultKind::None),
      HashOnlyModelledAs(0xAA391C728106F7AF, "death arrest flag", {Bool}, ResultKind::None),
      CallsRecorded(Native(0xC0AA53F866B3134D, "FORCE_GAME_STATE_PLAYING", {}, ResultKind::None)),
      CallsRecorded(HashOnly(0x5A7F62FDA59759BD, {}, ResultKind::None)),
      CallsRecorded(HashOnly(0x7669F9E39DC17063, {}, ResultKind::None)),
      CallsRecorded(HashOnly(0x80C8B1846639BB19, {Int}, ResultKind::None)),
      HashOnlyModelledAs(0xCA042B6957743895, "null or empty text test", {Int}, ResultKind::Int),
      Native(0x577D1284D6873711, "SET_GAME_PAUSED", {Bool}, ResultKind::None),
      Native(0x1D408577D440E81E, "SET_TIME_SCALE", {Float}, ResultKind::None),
      Native(0x9CD27B0045628463, "GET_GAME_TIMER", {}, ResultKind::Int),
      Native(0xFC8202EFC642E6F2, "GET_FRAME_COUNT", {}, ResultKind::Int),
      Native(0x2BDD44CC428A7EAE, "GET_CURRENT_LANGUAGE", {}, ResultKind::Int),
      Native(0x2A488C176D52CCA5, "VDIST", {Float, Float, Float, Float, Float, Float},
             ResultKind::Float),

      // Screen fades and post effects.
      Native(0x797AC7CB535BA28F, "IS_SCREEN_FADING_OUT", {}, ResultKind::Bool),
      Native(0xB16FCE9DDC7BA182, "IS_SCREEN_FADED_OUT", {}, ResultKind::Bool),
      Native(0xD4E8E24955024033, "DO_SCREEN_FADE_IN", {Int}, ResultKind::None),
      Native(0x891B5B39AC6302AF, "DO_SCREEN_FADE_OUT", {Int}, ResultKind::None),
      Native(0xB4EDDC19532BFB85, "ANIMPOSTFX_STOP_ALL", {}, ResultKind::None),

      // Controls.
      Native(0x580417101DDB492F, "IS_CONTROL_JUST_PRESSED", {Int, Int}, ResultKind::Bool),

      // HUD and notification feed.
      Native(0xA6294919E56FF02A, "DISPLAY_HUD", {Bool}, ResultKind::None),
      Native(0xA0EBB943C300E693, "DISPLAY_RADAR", {Bool}, ResultKind::None),
      Native(0x6806C51AD12B83B8, "HIDE_HUD_COMPONENT_THIS_FRAME", {Int}, ResultKind::None),
      Native(0xD422FCC5F239A915, "BUSYSPINNER_IS_ON", {}, ResultKind::Bool),
      Native(0x7C9C91AB74A0360F, "GET_HUD_COLOUR", {Int, OutInt, OutInt, OutInt, OutInt},
             ResultKind::None),
      Native(0x202709F4C58A0424, "BEGIN_TEXT_COMMAND_THEFEED_POST", {Text}, ResultKind::None),
      // Returns the id of the new feed entry.
      Native(0x2ED7843F8F801023, "END_TEXT_COMMAND_THEFEED_POST_TICKER", {Bool, Bool},
             ResultKind::Int),

      // Text style and display-text commands.
      Native(0x66E0276CC5F6B9DA, "SET_TEXT_FONT", {Int}, ResultKind::None),
      Native(0x07C837F9A01C34C9, "SET_TEXT_SCALE", {Float, Float}, ResultKind::None),
      Native(0xBE6B23FFA53FB442, "SET_TEXT_COLOUR", {Int, Int, Int, Int}, ResultKind::None),
      Native(0x4E096588B13FFECA, "SET_TEXT_JUSTIFICATION", {Int}, ResultKind::None),
      Native(0x63145D9C883A1A70, "SET_TEXT_WRAP", {Float, Float}, ResultKind::None),
      Native(0x1CA3E9EAC9D93E5E, "SET_TEXT_DROP_SHADOW", {}, ResultKind::None),
      Native(0x25FBB336DF1804CB, "BEGIN_TEXT_COMMAND_DISPLAY_TEXT", {Text}, ResultKind::None),
      Native(0xCD015E5BB0D96A57, "END_TEXT_COMMAND_DISPLAY_TEXT", {Float, Float, Int},
             ResultKind::None),
      Native(0x6C188BE134E074AA, "ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME", {Text},
             ResultKind::None),
      Native(0xC63CD5D2920ACBE7, "ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL", {Text},
             ResultKind::None),
      Native(0x17299B63C7683A2B, "ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL_HASH_KEY", {Int},
             ResultKind::None),
      // Looks a text label up in the current language; the string stays the game's.
      Native(0x7B5280EBA9840C72, "GET_FILENAME_FOR_AUDIO_CONVERSATION", {Text}, ResultKind::Text),

      // Scaleform movies. The scaleform-string command also takes a null text
      // entry, which the game reads as no text at all.
      Native(0x11FE353CF9733E6F, "REQUEST_SCALEFORM_MOVIE", {Text}, ResultKind::Int),
      Native(0x85F01B8D5B90570E, "HAS_SCALEFORM_MOVIE_LOADED", {Int}, ResultKind::Bool),
      Native(0xF6E48914C7A8694E, "BEGIN_SCALEFORM_MOVIE_METHOD", {Int, Text}, ResultKind::Bool),
      Native(0xC6796A8FFA375E53, "END_SCALEFORM_MOVIE_METHOD", {}, ResultKind::None),
      Native(0x80338406F3475E55, "BEGIN_TEXT_COMMAND_SCALEFORM_STRING", {TextOrNull},
             ResultKind::None),
      Native(0x362E2D3FE93A9959, "END_TEXT_COMMAND_SCALEFORM_STRING", {}, ResultKind::None),
      Native(0xC3D0841A0CC546A6, "SCALEFORM_MOVIE_METHOD_ADD_PARAM_INT", {Int}, ResultKind::None),
      Native(0x0DF606929C105BE1, "DRAW_SCALEFORM_MOVIE_FULLSCREEN", {Int, Int, Int, Int, Int, Int},
             ResultKind::None),
      // Takes the handle by address and may clear it.
      Native(0x1D132D614DD86811, "SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED", {InOutInt},
             ResultKind::None),

      // Drawing: sprites, rectangles, texture dictionaries, script alignment.
      // dictionary, texture, x, y, width, height, heading, red, green, blue,
      // alpha, then two trailing zero flags.
      Native(0xE7FFAE5EBF23D890, "DRAW_SPRITE",
             {Text, Text, Float, Float, Float, Float, Float, Int, Int, Int, Int, Int, Int},
             ResultKind::None),
      // x, y, width, height, red, green, blue, alpha, then one trailing zero flag.
      Native(0x3A618A217E5154F0, "DRAW_RECT", {Float, Float, Float, Float, Int, Int, Int, Int, Int},
             ResultKind::None),
      Native(0x0145F696AAAAD2E4, "HAS_STREAMED_TEXTURE_DICT_LOADED", {Text}, ResultKind::Bool),
      Native(0xDFA2EF8E04127DD5, "REQUEST_STREAMED_TEXTURE_DICT", {Text, Bool}, ResultKind::None),
      // Horizontal and vertical alignment as character codes, such as 'R' and 'B'.
      Native(0xB8A850F20A067EB6, "SET_SCRIPT_GFX_ALIGN", {Int, Int}, ResultKind::None),
      Native(0xF5A2C681787E579D, "SET_SCRIPT_GFX_ALIGN_PARAMS", {Float, Float, Float, Float},
             ResultKind::None),
      Native(0xE3A3DB414A373DAB, "RESET_SCRIPT_GFX_ALIGN", {}, ResultKind::None),

      // Spawn-point search: one asynchronous search at a time.
      // x, y, z, two search radii, interior flags, scale, duration in ms.
      Native(0x2DF9038C90AD5264, "SPAWNPOINTS_START_SEARCH",
             {Float, Float, Float, Float, Float, Int, Float, Int}, ResultKind::None),
      Native(0xA586FBEB32A53DBB, "SPAWNPOINTS_IS_SEARCH_COMPLETE", {}, ResultKind::Bool),
      Native(0xF445DE8DA80A1792, "SPAWNPOINTS_IS_SEARCH_FAILED", {}, ResultKind::Bool),
      Native(0x3C67506996001F5E, "SPAWNPOINTS_IS_SEARCH_ACTIVE", {}, ResultKind::Bool),
      Native(0xA635C11B8C44AFC2, "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", {}, ResultKind::Int),
      Native(0x280C7E3AC7F56E90, "SPAWNPOINTS_GET_SEARCH_RESULT",
             {Int, OutFloat, OutFloat, OutFloat}, ResultKind::None),
      Native(0xFEE4A5459472A9F8, "SPAWNPOINTS_CANCEL_SEARCH", {}, ResultKind::None),

      // Road nodes.
      // x, y, z, n-th closest, out position, out heading, out lane count,
      // node flags, two search parameters; true when a node was found.
      Native(0x80CA6A8B6C094CC4, "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING",
             {Float, Float, Float, Int, OutVector, OutFloat, OutInt, Int, Float, Float},
             ResultKind::Bool),
  };
}

}  // namespace

const std::vector<NativeSignature>& NativeTable() {
  static const std::vector<NativeSignature> table = BuildTable();
  return table;
}

const NativeSignature* FindNative(std::uint64_t hash) {
  using Entry = std::pair<std::uint64_t, const NativeSignature*>;
  static const std::vector<Entry> index = [] {
    std::vector<Entry> byHash;
    byHash.reserve(NativeTable().size());
    for (const NativeSignature& signature : NativeTable()) {
      byHash.emplace_back(signature.hash, &signature);
    }
    std::sort(byHash.begin(), byHash.end(),
              [](const Entry& a, const Entry& b) { return a.first < b.first; });
    return byHash;
  }();
  const auto found =
      std::lower_bound(index.begin(), index.end(), hash,
                       [](const Entry& entry, std::uint64_t key) { return entry.first < key; });
  if (found == index.end() || found->first != hash) return nullptr;
  return found->second;
}

const NativeSignature* FindNativeByName(std::string_view name) {
  for (const NativeSignature& signature : NativeTable()) {
    if (signature.name == name || (!name.empty() && signature.modelledAs == name)) {
      return &signature;
    }
  }
  return nullptr;
}

bool HasPublicName(const NativeSignature& signature) { return !signature.name.starts_with("0x"); }

std::string ReadableNativeName(const NativeSignature& signature) {
  if (HasPublicName(signature)) return signature.name;
  return "game function " + HexHash(signature.hash) + " (no public name)";
}

std::string_view ArgKindName(ArgKind kind) {
  switch (kind) {
    case ArgKind::Int:
      return "int";
    case ArgKind::Bool:
      return "bool";
    case ArgKind::Float:
      return "float";
    case ArgKind::Text:
      return "text";
    case ArgKind::TextOrNull:
      return "text or null";
    case ArgKind::OutInt:
      return "out int";
    case ArgKind::OutFloat:
      return "out float";
    case ArgKind::OutVector:
      return "out vector";
    case ArgKind::InOutInt:
      return "in/out int";
  }
  return "unknown";
}

std::string_view ResultKindName(ResultKind kind) {
  switch (kind) {
    case ResultKind::None:
      return "none";
    case ResultKind::Int:
      return "int";
    case ResultKind::Bool:
      return "bool";
    case ResultKind::Float:
      return "float";
    case ResultKind::Vector:
      return "vector";
    case ResultKind::Text:
      return "text";
  }
  return "unknown";
}

}  // namespace sim
