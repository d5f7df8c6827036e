// The natives scenario-from learns from, in one table: for each, what its
// recorded answer shows the plug-in relied on, and the fixes to try when the
// world answers it otherwise. A native the fit should read is one entry here.
#include <span>
#include <string_view>

#include "sim/base/native_table.h"
#include "sim/replay/scenario_fit.h"
#include "sim/replay/scenario_fitter.h"

namespace sim::fit {

struct Fitter::Natives {
  using Observer = void (Fitter::*)(std::int64_t frame, const TraceEntry& line, Observations& seen);
  using Proposer = std::vector<Fix> (Fitter::*)(std::int64_t frame, const TraceEntry& line);
  struct FittedNative {
    std::string_view native;  // as the catalogue names it, or the name it is modelled as
    const char* key;          // every answer is relied on under this key; or null
    Observer observe;         // looks at what the answer relied on; or null
    Proposer propose;         // the fixes to try when the world answers otherwise; or null
  };

  static std::span<const FittedNative> Table() {
    static constexpr FittedNative kTable[] = {
        // The player.
        {"PLAYER_PED_ID", "ped", nullptr, &Fitter::FixPedHandle},
        {"PLAYER_ID", "player", nullptr, &Fitter::FixPlayerId},
        {"GET_ENTITY_HEALTH", "health", nullptr, &Fitter::FixHealth},
        {"IS_ENTITY_DEAD", "health", nullptr, &Fitter::FixDead},
        {"IS_PED_INJURED", "health", nullptr, &Fitter::FixInjured},
        {"GET_ENTITY_MAX_HEALTH", "maxHealth", nullptr, &Fitter::FixMaxHealth},
        {"GET_ENTITY_COORDS", "position", nullptr, &Fitter::FixPosition},
        // Pads and the screen.
        {"IS_CONTROL_JUST_PRESSED", nullptr, nullptr, &Fitter::FixTap},
        {"IS_SCREEN_FADING_OUT", nullptr, nullptr, &Fitter::FixFadingOut},
        {"IS_SCREEN_FADED_OUT", nullptr, nullptr, &Fitter::FixFadedOut},
        {"GET_CURRENT_LANGUAGE", "language", nullptr, &Fitter::FixLanguage},
        {"BUSYSPINNER_IS_ON", "spinner", nullptr, &Fitter::FixSpinner},
        {"GET_HUD_COLOUR", nullptr, &Fitter::ObserveHudColour, &Fitter::FixHudColour},
        {"null or empty text test", "nullText", nullptr, &Fitter::FixNullText},
        {"GET_FILENAME_FOR_AUDIO_CONVERSATION", nullptr, &Fitter::ObserveLabel, &Fitter::FixLabel},
        // Movies and texture dictionaries.
        {"REQUEST_SCALEFORM_MOVIE", nullptr, &Fitter::ObserveMovieRequest,
         &Fitter::FixMovieRequest},
        {"HAS_SCALEFORM_MOVIE_LOADED", nullptr, &Fitter::ObserveMovieLoaded,
         &Fitter::FixMovieLoaded},
        {"BEGIN_SCALEFORM_MOVIE_METHOD", nullptr, &Fitter::ObserveMovieLoaded,
         &Fitter::FixMovieLoaded},
        {"HAS_STREAMED_TEXTURE_DICT_LOADED", nullptr, &Fitter::ObserveTexture, &Fitter::FixTexture},
        // The spawn search and road nodes.
        {"SPAWNPOINTS_START_SEARCH", nullptr, &Fitter::ObserveSearchStart, nullptr},
        {"SPAWNPOINTS_IS_SEARCH_COMPLETE", nullptr, &Fitter::ObserveSearchSettled,
         &Fitter::FixSearchComplete},
        {"SPAWNPOINTS_IS_SEARCH_FAILED", nullptr, &Fitter::ObserveSearchSettled,
         &Fitter::FixSearchFailed},
        {"SPAWNPOINTS_IS_SEARCH_ACTIVE", nullptr, &Fitter::ObserveSearchInactive,
         &Fitter::FixSearchActive},
        {"SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", "resultCount", &Fitter::ObserveResultCount,
         &Fitter::FixResultCount},
        {"SPAWNPOINTS_GET_SEARCH_RESULT", nullptr, &Fitter::ObserveSearchResult,
         &Fitter::FixSearchResult},
        {"GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING", nullptr, &Fitter::ObserveRoadNode,
         &Fitter::FixRoadNode},
    };
    return kTable;
  }

  // The entry of a recorded line's native, or null. The names are looked up
  // in the catalogue once, so that a line costs a pointer compare an entry.
  static const FittedNative* Find(const NativeSignature* native) {
    static const std::vector<const NativeSignature*> signatures = [] {
      std::vector<const NativeSignature*> found;
      for (const FittedNative& fitted : Table()) found.push_back(FindNativeByName(fitted.native));
      return found;
    }();
    for (std::size_t i = 0; i < signatures.size(); ++i) {
      if (signatures[i] == native && native != nullptr) return &Table()[i];
    }
    return nullptr;
  }
};

std::vector<std::string_view> Fitter::FittedNatives() {
  std::vector<std::string_view> names;
  for (const Natives::FittedNative& fitted : Natives::Table()) names.push_back(fitted.native);
  return names;
}

void Fitter::Observe(std::int64_t frame, const TraceEntry& line, Observations& seen) {
  const Natives::FittedNative* fitted = Natives::Find(line.native);
  if (fitted == nullptr) return;
  if (fitted->key != nullptr) seen.keys.insert(fitted->key);
  if (fitted->observe != nullptr) (this->*fitted->observe)(frame, line, seen);
}

std::vector<Fix> Fitter::Propose(std::int64_t frame, const TraceEntry& line) {
  if (!line.result && line.outs.empty()) return {};
  const Natives::FittedNative* fitted = Natives::Find(line.native);
  if (fitted == nullptr || fitted->propose == nullptr) return {};
  return (this->*fitted->propose)(frame, line);
}

}  // namespace sim::fit

namespace sim {

std::vector<std::string_view> ScenarioFitNatives() { return fit::Fitter::FittedNatives(); }

}  // namespace sim
