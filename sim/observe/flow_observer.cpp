#include "sim/observe/flow_observer.h"

#include <algorithm>
#include <cmath>

#include "sim/base/number_format.h"
#include "sim/game/world.h"

namespace sim {

namespace {

// The respawn bar's fill colour and full width, as the player sees them.
constexpr std::int64_t kFillColour[4] = {224, 50, 52, 140};
constexpr double kBarFullWidth = 0.069;

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

bool FlowObserver::Follows(std::string_view nativeName) {
  static constexpr std::string_view kFollowed[] = {
      "PAUSE_DEATH_ARREST_RESTART",
      "GET_ENTITY_COORDS",
      "IS_SCREEN_FADING_OUT",
      "BEGIN_SCALEFORM_MOVIE_METHOD",
      "GET_FILENAME_FOR_AUDIO_CONVERSATION",
      "DRAW_SCALEFORM_MOVIE_FULLSCREEN",
      "IS_CONTROL_JUST_PRESSED",
      "DRAW_RECT",
      "DO_SCREEN_FADE_OUT",
      "SPAWNPOINTS_START_SEARCH",
      "SPAWNPOINTS_IS_SEARCH_FAILED",
      "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS",
      "SPAWNPOINTS_GET_SEARCH_RESULT",
      "SPAWNPOINTS_CANCEL_SEARCH",
      "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING",
      "VDIST",
      "RESURRECT_PED",
      "SET_ENTITY_COORDS",
      "SET_ENTITY_HEADING",
      "DO_SCREEN_FADE_IN",
  };
  return std::find(std::begin(kFollowed), std::end(kFollowed), nativeName) != std::end(kFollowed);
}

void FlowObserver::AddKeyFrame(std::int64_t frame, std::string caption) {
  if (keyFrames_.size() < kKeptKeyFrames) {
    keyFrames_.push_back({frame, std::move(caption)});
  } else {
    ++keyFramesLeftOut_;
  }
}

void FlowObserver::OnNative(World& world, const TraceEntry& e) {
  if (e.native == nullptr) return;
  const std::string_view name = e.native->name;
  DeathRecord* death = Current();

  if (name == "PAUSE_DEATH_ARREST_RESTART") {
    if (ArgIs(e, 0, true) && phase_ == FlowPhase::Watching) {
      ++deathCount_;
      if (deaths_.size() < kKeptDeaths) {
        deaths_.emplace_back();
      } else {
        unkeptDeath_ = DeathRecord{};
      }
      death = Current();
      death->deathFrame = e.frame;
      shardDrawnThisDeath_ = zeroNoted_ = halfNoted_ = fullNoted_ = false;
      lastNotedFill_ = -1.0;
      Enter(world, FlowPhase::DeathPause,
            "death taken over (the game's own restart is paused), death #" +
                std::to_string(deathCount_));
    } else if (ArgIs(e, 0, false) && phase_ == FlowPhase::Respawning) {
      if (death != nullptr) death->respawnFrame = e.frame;
      Enter(world, FlowPhase::Watching, "respawn done, the game's restart is released");
    }
  } else if (name == "GET_ENTITY_COORDS" && phase_ == FlowPhase::DeathPause && death != nullptr &&
             death->deathFrame == e.frame && e.result) {
    for (int i = 0; i < 3; ++i) death->deathPosition[i] = e.result->vector[i];
    world.Note("flow", "place of death " + FixedPosition(e.result->vector[0], e.result->vector[1],
                                                         e.result->vector[2], 1));
  } else if (name == "IS_SCREEN_FADING_OUT" && phase_ == FlowPhase::DeathPause) {
    Enter(world, FlowPhase::ShardDelay, "pause over, waiting to show the shard");
  } else if (name == "BEGIN_SCALEFORM_MOVIE_METHOD" && e.args.size() == 2 &&
             e.args[1].text == "SHOW_SHARD_WASTED_MP_MESSAGE") {
    world.Note("flow", "wasted shard filled");
  } else if (name == "GET_FILENAME_FOR_AUDIO_CONVERSATION" && e.result) {
    const std::string label = e.result->kind == TraceValue::Kind::Text
                                  ? "\"" + e.result->text + "\""
                                  : "(the game has no text for it: empty)";
    Enter(world, FlowPhase::BarFilling, "respawn bar created, labelled " + label);
  } else if (name == "DRAW_SCALEFORM_MOVIE_FULLSCREEN" && !shardDrawnThisDeath_) {
    shardDrawnThisDeath_ = true;
    if (death != nullptr) death->shardFrame = e.frame;
    world.Note("flow", "shard shown full-screen");
    AddKeyFrame(e.frame, "The wasted shard, first frame");
  } else if (name == "IS_CONTROL_JUST_PRESSED" && e.result && e.result->IsTrue() &&
             phase_ == FlowPhase::BarFilling) {
    if (death != nullptr) ++death->taps;
    ++tapCount_;
    world.Note("flow", "tap seen: +4 points");
  } else if (name == "DRAW_RECT" && e.args.size() == 9 && phase_ == FlowPhase::BarFilling) {
    bool fillColour = true;
    for (int i = 0; i < 4; ++i) fillColour = fillColour && e.args[4 + i].integer == kFillColour[i];
    if (fillColour) {
      const double percent = e.args[2].number / kBarFullWidth * 100.0;
      barFill_ = percent;
      barFillFrame_ = e.frame;
      const double step = std::floor(percent / 10.0) * 10.0;
      if (step > lastNotedFill_) {
        lastNotedFill_ = step;
        world.Note("flow", "bar " + FixedNumber(percent, 0) + " % full");
      }
      if (!zeroNoted_) {
        zeroNoted_ = true;
        AddKeyFrame(e.frame, "Shard and bar at " + FixedNumber(percent, 0) + " %");
      } else if (!halfNoted_ && percent >= 50.0) {
        halfNoted_ = true;
        AddKeyFrame(e.frame, "Bar at " + FixedNumber(percent, 0) + " %");
      } else if (!fullNoted_ && percent >= 99.999) {
        fullNoted_ = true;
        AddKeyFrame(e.frame, "Bar full");
      }
    }
  } else if (name == "DO_SCREEN_FADE_OUT" && phase_ == FlowPhase::BarFilling) {
    if (death != nullptr) death->fadeOutFrame = e.frame;
    Enter(world, FlowPhase::Respawning,
          "bar full, fading out over " + std::to_string(e.args[0].integer) + " ms");
  } else if (name == "SPAWNPOINTS_START_SEARCH") {
    inSearch_ = true;
    if (death != nullptr && phase_ == FlowPhase::Respawning) {
      death->searched = true;
      for (std::size_t i = 0; i < 3; ++i) death->searchCentre[i] = e.args[i].number;
    }
    world.Note("flow", "spawn search around " +
                           FixedPosition(e.args[0].number, e.args[1].number, e.args[2].number, 1));
  } else if (name == "SPAWNPOINTS_IS_SEARCH_FAILED" && inSearch_ && e.result &&
             e.result->IsTrue()) {
    world.Note("flow", "spawn search failed");
  } else if (name == "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS" && e.result) {
    if (death != nullptr && phase_ == FlowPhase::Respawning) {
      // What the game holds, whatever count it answers.
      const std::vector<Vec3>& found = world.spawn.results;
      death->searchResultCount = found.size();
      death->searchResults.clear();
      for (std::size_t i = 0; i < found.size() && i < DeathRecord::kKeptSearchResults; ++i) {
        death->searchResults.push_back({found[i].x, found[i].y, found[i].z});
      }
    }
    world.Note("flow", "spawn search found " + std::to_string(e.result->integer) + " point(s)");
  } else if (name == "SPAWNPOINTS_GET_SEARCH_RESULT" && e.outs.size() == 3) {
    if (death != nullptr) {
      death->searchOutcome = "search";
      death->chosen = true;
      for (std::size_t i = 0; i < 3; ++i) death->chosenPoint[i] = e.outs[i].number;
    }
    world.Note("flow", "picked result " + std::to_string(e.args[0].integer) + " at " +
                           FixedPosition(e.outs[0].number, e.outs[1].number, e.outs[2].number, 1));
  } else if (name == "SPAWNPOINTS_CANCEL_SEARCH") {
    inSearch_ = false;
  } else if (name == "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING" && e.result) {
    if (death != nullptr) death->searchOutcome = "road node";
    if (death != nullptr) {
      death->chosen = true;
      const bool found = e.result->IsTrue() && !e.outs.empty();
      for (std::size_t i = 0; i < 3; ++i) death->chosenPoint[i] = found ? e.outs[0].vector[i] : 0.0;
    }
    if (e.result->IsTrue() && !e.outs.empty()) {
      world.Note("flow",
                 "road node fallback at " + FixedPosition(e.outs[0].vector[0], e.outs[0].vector[1],
                                                          e.outs[0].vector[2], 1));
    } else {
      world.Note("flow", "road node fallback found nothing: (0, 0, 0)");
    }
  } else if (name == "VDIST" && phase_ == FlowPhase::Respawning && e.result && death != nullptr) {
    death->distance = e.result->number;
    const bool tooFar = !(e.result->number <= 300.0);
    world.Note("flow", "spawn point " + FixedNumber(e.result->number, 1) +
                           " m from the place of death" +
                           (tooFar ? ": too far, the place of death is used" : ""));
    if (tooFar) death->searchOutcome = "place of death";
  } else if (name == "RESURRECT_PED" && phase_ == FlowPhase::Respawning) {
    world.Note("flow", "player resurrected");
  } else if (name == "SET_ENTITY_COORDS" && phase_ == FlowPhase::Respawning && death != nullptr) {
    for (int i = 0; i < 3; ++i)
      death->spawnPosition[i] = e.args[1 + static_cast<std::size_t>(i)].number;
    death->placeFrame = e.frame;
    world.Note("flow", "player placed at " +
                           FixedPosition(e.args[1].number, e.args[2].number, e.args[3].number, 1));
  } else if (name == "SET_ENTITY_HEADING" && phase_ == FlowPhase::Respawning && death != nullptr) {
    death->spawnHeading = e.args[1].number;
    world.Note("flow", "player turned to heading " + FixedNumber(e.args[1].number, 1));
  } else if (name == "DO_SCREEN_FADE_IN" && phase_ == FlowPhase::Respawning &&
             e.args[0].integer > 0) {
    world.Note("flow", "fading in over " + std::to_string(e.args[0].integer) + " ms");
  }
}

}  // namespace sim
