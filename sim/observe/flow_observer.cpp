#include "sim/observe/flow_observer.h"

#include <cmath>
#include <cstdio>
#include <span>
#include <string_view>

#include "sim/base/number_format.h"
#include "sim/game/world.h"

namespace sim {

namespace {

// What a player sees of the plug-in's respawn: the bar's fill colour and the
// width of its full fill, the points one tap adds, and how far from the place
// of death a spawn point may be before the plug-in gives up on it. The
// observer tells the flow by these alone, as a player would; they are named
// here, once, because the simulator never reads the plug-in's code.
constexpr std::int64_t kBarFillColour[4] = {224, 50, 52, 140};  // red, green, blue, alpha
constexpr double kBarFullWidth = 0.069;                         // of the screen's width
constexpr int kPointsPerTap = 4;
constexpr double kMaxSpawnDistance = 300.0;  // metres; a farther point is not used

bool ArgIs(const TraceEntry& e, std::size_t i, bool value) {
  return i < e.args.size() && e.args[i].kind == TraceValue::Kind::Bool &&
         (e.args[i].integer != 0) == value;
}

}  // namespace

const char* FlowPhaseName(FlowPhase phase) {
  switch (phase) {
    case FlowPhase::Watching:
      return "Watching";
    case FlowPhase::DeathPause:
      return "DeathPause";
    case FlowPhase::ShardDelay:
      return "ShardDelay";
    case FlowPhase::BarFilling:
      return "BarFilling";
    case FlowPhase::Respawning:
      return "Respawning";
  }
  return "?";
}

void FlowObserver::Enter(World& world, FlowPhase phase, const std::string& why) {
  phase_ = phase;
  world.Note("flow", std::string("-> ") + FlowPhaseName(phase) + ": " + why);
}

// One function a followed native; each looks at the call only when the flow
// is where that native means something.
struct FlowObserver::Steps {
  using Step = void (*)(FlowObserver&, World&, const TraceEntry&);
  struct FollowedNative {
    std::string_view native;
    Step step;
  };

  static void PauseDeathArrestRestart(FlowObserver& o, World& world, const TraceEntry& e) {
    if (ArgIs(e, 0, true) && o.phase_ == FlowPhase::Watching) {
      o.BeginDeath(e.frame);
      o.Enter(world, FlowPhase::DeathPause,
              "death taken over (the game's own restart is paused), death #" +
                  std::to_string(o.deathCount_));
    } else if (ArgIs(e, 0, false) && o.phase_ == FlowPhase::Respawning) {
      if (DeathRecord* death = o.Current()) death->respawnFrame = e.frame;
      o.Enter(world, FlowPhase::Watching, "respawn done, the game's restart is released");
    }
  }

  static void GetEntityCoords(FlowObserver& o, World& world, const TraceEntry& e) {
    DeathRecord* death = o.Current();
    if (o.phase_ != FlowPhase::DeathPause || death == nullptr || death->deathFrame != e.frame ||
        !e.result) {
      return;
    }
    for (int i = 0; i < 3; ++i) death->deathPosition[i] = e.result->vector[i];
    world.Note("flow", "place of death " + FixedPosition(e.result->vector[0], e.result->vector[1],
                                                         e.result->vector[2], 1));
  }

  static void IsScreenFadingOut(FlowObserver& o, World& world, const TraceEntry& /*e*/) {
    if (o.phase_ == FlowPhase::DeathPause) {
      o.Enter(world, FlowPhase::ShardDelay, "pause over, waiting to show the shard");
    }
  }

  static void BeginScaleformMovieMethod(FlowObserver& /*o*/, World& world, const TraceEntry& e) {
    if (e.args.size() == 2 && e.args[1].text == "SHOW_SHARD_WASTED_MP_MESSAGE") {
      world.Note("flow", "wasted shard filled");
    }
  }

  static void GetFilenameForAudioConversation(FlowObserver& o, World& world, const TraceEntry& e) {
    if (!e.result) return;
    const std::string label = e.result->kind == TraceValue::Kind::Text
                                  ? "\"" + e.result->text + "\""
                                  : "(the game has no text for it: empty)";
    o.Enter(world, FlowPhase::BarFilling, "respawn bar created, labelled " + label);
  }

  static void DrawScaleformMovieFullscreen(FlowObserver& o, World& world, const TraceEntry& e) {
    if (o.shardDrawnThisDeath_) return;
    o.shardDrawnThisDeath_ = true;
    if (DeathRecord* death = o.Current()) death->shardFrame = e.frame;
    world.Note("flow", "shard shown full-screen");
  }

  static void IsControlJustPressed(FlowObserver& o, World& world, const TraceEntry& e) {
    if (!e.result || !e.result->IsTrue() || o.phase_ != FlowPhase::BarFilling) return;
    if (DeathRecord* death = o.Current()) ++death->taps;
    ++o.tapCount_;
    char note[48];
    std::snprintf(note, sizeof note, "tap seen: +%d points", kPointsPerTap);
    world.Note("flow", note);
  }

  // The bar's fill is the one rectangle in its colour; its width over the
  // full fill's is how full the bar is.
  static void DrawRect(FlowObserver& o, World& world, const TraceEntry& e) {
    if (e.args.size() != 9 || o.phase_ != FlowPhase::BarFilling) return;
    for (std::size_t i = 0; i < 4; ++i) {
      if (e.args[4 + i].integer != kBarFillColour[i]) return;
    }
    const double percent = e.args[2].number / kBarFullWidth * 100.0;
    o.barFill_ = percent;
    o.barFillFrame_ = e.frame;
    const double step = std::floor(percent / 10.0) * 10.0;
    if (step > o.lastNotedFill_) {
      o.lastNotedFill_ = step;
      world.Note("flow", "bar " + FixedNumber(percent, 0) + " % full");
    }
  }

  static void DoScreenFadeOut(FlowObserver& o, World& world, const TraceEntry& e) {
    if (o.phase_ != FlowPhase::BarFilling) return;
    if (DeathRecord* death = o.Current()) death->fadeOutFrame = e.frame;
    o.Enter(world, FlowPhase::Respawning,
            "bar full, fading out over " + std::to_string(e.args[0].integer) + " ms");
  }

  static void SpawnpointsStartSearch(FlowObserver& o, World& world, const TraceEntry& e) {
    o.inSearch_ = true;
    DeathRecord* death = o.Current();
    if (death != nullptr && o.phase_ == FlowPhase::Respawning) {
      death->searched = true;
      for (std::size_t i = 0; i < 3; ++i) death->searchCentre[i] = e.args[i].number;
    }
    world.Note("flow", "spawn search around " +
                           FixedPosition(e.args[0].number, e.args[1].number, e.args[2].number, 1));
  }

  static void SpawnpointsIsSearchFailed(FlowObserver& o, World& world, const TraceEntry& e) {
    if (o.inSearch_ && e.result && e.result->IsTrue()) world.Note("flow", "spawn search failed");
  }

  static void SpawnpointsGetNumSearchResults(FlowObserver& o, World& world, const TraceEntry& e) {
    if (!e.result) return;
    DeathRecord* death = o.Current();
    if (death != nullptr && o.phase_ == FlowPhase::Respawning) {
      // What the game holds, whatever count it answers.
      const std::vector<Vec3>& found = world.spawn.results;
      death->searchResultCount = found.size();
      death->searchResults.clear();
      for (std::size_t i = 0; i < found.size() && i < DeathRecord::kKeptSearchResults; ++i) {
        death->searchResults.push_back({found[i].x, found[i].y, found[i].z});
      }
    }
    world.Note("flow", "spawn search found " + std::to_string(e.result->integer) + " point(s)");
  }

  static void SpawnpointsGetSearchResult(FlowObserver& o, World& world, const TraceEntry& e) {
    if (e.outs.size() != 3) return;
    if (DeathRecord* death = o.Current()) {
      death->searchOutcome = "search";
      death->chosen = true;
      for (std::size_t i = 0; i < 3; ++i) death->chosenPoint[i] = e.outs[i].number;
    }
    world.Note("flow", "picked result " + std::to_string(e.args[0].integer) + " at " +
                           FixedPosition(e.outs[0].number, e.outs[1].number, e.outs[2].number, 1));
  }

  static void SpawnpointsCancelSearch(FlowObserver& o, World& /*world*/, const TraceEntry& /*e*/) {
    o.inSearch_ = false;
  }

  // The road-node fallback: where it found nothing the plug-in is left with
  // the zero vector the game wrote.
  static void GetNthClosestVehicleNodeWithHeading(FlowObserver& o, World& world,
                                                  const TraceEntry& e) {
    if (!e.result) return;
    const bool found = e.result->IsTrue() && !e.outs.empty();
    if (DeathRecord* death = o.Current()) {
      death->searchOutcome = "road node";
      death->chosen = true;
      for (std::size_t i = 0; i < 3; ++i) death->chosenPoint[i] = found ? e.outs[0].vector[i] : 0.0;
    }
    if (found) {
      world.Note("flow",
                 "road node fallback at " + FixedPosition(e.outs[0].vector[0], e.outs[0].vector[1],
                                                          e.outs[0].vector[2], 1));
    } else {
      world.Note("flow", "road node fallback found nothing: (0, 0, 0)");
    }
  }

  static void Vdist(FlowObserver& o, World& world, const TraceEntry& e) {
    DeathRecord* death = o.Current();
    if (o.phase_ != FlowPhase::Respawning || !e.result || death == nullptr) return;
    death->distance = e.result->number;
    const bool tooFar = !(e.result->number <= kMaxSpawnDistance);  // NaN too
    world.Note("flow", "spawn point " + FixedNumber(e.result->number, 1) +
                           " m from the place of death" +
                           (tooFar ? ": too far, the place of death is used" : ""));
    if (tooFar) death->searchOutcome = "place of death";
  }

  static void ResurrectPed(FlowObserver& o, World& world, const TraceEntry& /*e*/) {
    if (o.phase_ == FlowPhase::Respawning) world.Note("flow", "player resurrected");
  }

  static void SetEntityCoords(FlowObserver& o, World& world, const TraceEntry& e) {
    DeathRecord* death = o.Current();
    if (o.phase_ != FlowPhase::Respawning || death == nullptr) return;
    for (std::size_t i = 0; i < 3; ++i) death->spawnPosition[i] = e.args[1 + i].number;
    death->placeFrame = e.frame;
    world.Note("flow", "player placed at " +
                           FixedPosition(e.args[1].number, e.args[2].number, e.args[3].number, 1));
  }

  static void SetEntityHeading(FlowObserver& o, World& world, const TraceEntry& e) {
    DeathRecord* death = o.Current();
    if (o.phase_ != FlowPhase::Respawning || death == nullptr) return;
    death->spawnHeading = e.args[1].number;
    world.Note("flow", "player turned to heading " + FixedNumber(e.args[1].number, 1));
  }

  static void DoScreenFadeIn(FlowObserver& o, World& world, const TraceEntry& e) {
    if (o.phase_ == FlowPhase::Respawning && e.args[0].integer > 0) {
      world.Note("flow", "fading in over " + std::to_string(e.args[0].integer) + " ms");
    }
  }

  // Every native the flow follows and its step: the one list of them.
  static std::span<const FollowedNative> Table() {
    static constexpr FollowedNative kTable[] = {
        {"PAUSE_DEATH_ARREST_RESTART", PauseDeathArrestRestart},
        {"GET_ENTITY_COORDS", GetEntityCoords},
        {"IS_SCREEN_FADING_OUT", IsScreenFadingOut},
        {"BEGIN_SCALEFORM_MOVIE_METHOD", BeginScaleformMovieMethod},
        {"GET_FILENAME_FOR_AUDIO_CONVERSATION", GetFilenameForAudioConversation},
        {"DRAW_SCALEFORM_MOVIE_FULLSCREEN", DrawScaleformMovieFullscreen},
        {"IS_CONTROL_JUST_PRESSED", IsControlJustPressed},
        {"DRAW_RECT", DrawRect},
        {"DO_SCREEN_FADE_OUT", DoScreenFadeOut},
        {"SPAWNPOINTS_START_SEARCH", SpawnpointsStartSearch},
        {"SPAWNPOINTS_IS_SEARCH_FAILED", SpawnpointsIsSearchFailed},
        {"SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", SpawnpointsGetNumSearchResults},
        {"SPAWNPOINTS_GET_SEARCH_RESULT", SpawnpointsGetSearchResult},
        {"SPAWNPOINTS_CANCEL_SEARCH", SpawnpointsCancelSearch},
        {"GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING", GetNthClosestVehicleNodeWithHeading},
        {"VDIST", Vdist},
        {"RESURRECT_PED", ResurrectPed},
        {"SET_ENTITY_COORDS", SetEntityCoords},
        {"SET_ENTITY_HEADING", SetEntityHeading},
        {"DO_SCREEN_FADE_IN", DoScreenFadeIn},
    };
    return kTable;
  }

  static Step Find(std::string_view native) {
    for (const FollowedNative& followed : Table()) {
      if (followed.native == native) return followed.step;
    }
    return nullptr;
  }
};

bool FlowObserver::Follows(std::string_view nativeName) {
  return Steps::Find(nativeName) != nullptr;
}

std::vector<std::string_view> FlowObserver::FollowedNatives() {
  std::vector<std::string_view> names;
  for (const Steps::FollowedNative& followed : Steps::Table()) names.push_back(followed.native);
  return names;
}

void FlowObserver::BeginDeath(std::int64_t frame) {
  ++deathCount_;
  if (deaths_.size() < kKeptDeaths) {
    deaths_.emplace_back();
  } else {
    unkeptDeath_ = DeathRecord{};
  }
  Current()->deathFrame = frame;
  shardDrawnThisDeath_ = false;
  lastNotedFill_ = -1.0;
}

void FlowObserver::OnNative(World& world, const TraceEntry& e) {
  if (e.native == nullptr) return;
  if (const Steps::Step step = Steps::Find(e.native->name)) step(*this, world, e);
}

}  // namespace sim
