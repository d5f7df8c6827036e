#include "sim/game/screen.h"

#include <algorithm>
#include <iterator>

#include "sim/game/world.h"

namespace sim {

const char* FadeStateName(FadeState state) {
  switch (state) {
    case FadeState::FadedIn:
      return "faded in";
    case FadeState::FadingOut:
      return "fading out";
    case FadeState::FadedOut:
      return "faded out";
    case FadeState::FadingIn:
      return "fading in";
  }
  return "unknown";
}

void ScreenModel::Configure(const ScenarioNode& /*root*/) {}

void ScreenModel::AdvanceFade(World& world) {
  if (fade != FadeState::FadingOut && fade != FadeState::FadingIn) return;
  const std::int64_t elapsed = world.clock.nowMs - fadeStartMs;
  if (elapsed >= fadeDurationMs) {
    Complete(world);
    return;
  }
  const float target = fade == FadeState::FadingOut ? 1.0F : 0.0F;
  const float done = static_cast<float>(elapsed) / static_cast<float>(fadeDurationMs);
  level = fadeFromLevel + (target - fadeFromLevel) * done;
}

void ScreenModel::StartFadeOut(World& world, std::int32_t ms, const char* by) {
  Start(world, true, ms, by);
}

void ScreenModel::StartFadeIn(World& world, std::int32_t ms, const char* by) {
  Start(world, false, ms, by);
}

void ScreenModel::Start(World& world, bool out, std::int32_t ms, const char* by) {
  const FadeState settled = out ? FadeState::FadedOut : FadeState::FadedIn;
  const char* direction = out ? "fade-out" : "fade-in";
  if (fade == settled) return;
  const bool reverses = fade == (out ? FadeState::FadingIn : FadeState::FadingOut);
  fade = out ? FadeState::FadingOut : FadeState::FadingIn;
  world.NoteWork();
  fadeFromLevel = level;
  fadeStartMs = world.clock.nowMs;
  fadeDurationMs = std::max(ms, 0);
  fadeBy = by;
  world.Note("screen", std::string(direction) + " over " + std::to_string(fadeDurationMs) +
                           " ms started by the " + by +
                           (reverses ? " (reversing the fade under way)" : ""));
  if (fadeDurationMs == 0) Complete(world);
}

void ScreenModel::Complete(World& world) {
  const bool out = fade == FadeState::FadingOut;
  fade = out ? FadeState::FadedOut : FadeState::FadedIn;
  level = out ? 1.0F : 0.0F;
  fadeDoneFrame = world.clock.frame;
  world.Note("screen", FadeStateName(fade));
}

void ScreenModel::KeepLevel(World& world) {
  keptLevel_ = level;
  if (!world.drawing.keepFrames) return;
  if (levelChanges_.size() >= kKeptLevelChanges) {
    // Drop the older half at once, so that a long run pays for it rarely.
    levelChanges_.erase(levelChanges_.begin(),
                        levelChanges_.begin() + static_cast<std::ptrdiff_t>(kKeptLevelChanges / 2));
  }
  levelChanges_.push_back(LevelChange{world.clock.frame, level});
}

float ScreenModel::LevelAtFrame(std::int64_t frame) const {
  const auto after =
      std::upper_bound(levelChanges_.begin(), levelChanges_.end(), frame,
                       [](std::int64_t f, const LevelChange& change) { return f < change.frame; });
  return after == levelChanges_.begin() ? 0.0F : std::prev(after)->level;
}

namespace {

void IsScreenFadingOut(World& world, CallFrame& call) {
  call.ReturnBool(world.screen.fade == FadeState::FadingOut);
}

void IsScreenFadedOut(World& world, CallFrame& call) {
  call.ReturnBool(world.screen.fade == FadeState::FadedOut);
}

void DoScreenFadeIn(World& world, CallFrame& call) {
  world.screen.StartFadeIn(world, call.Int(0), "script");
}

void DoScreenFadeOut(World& world, CallFrame& call) {
  world.screen.StartFadeOut(world, call.Int(0), "script");
}

}  // namespace

void ScreenModel::RegisterNatives(HandlerRegistry& registry) {
  registry.Add("IS_SCREEN_FADING_OUT", IsScreenFadingOut);
  registry.Add("IS_SCREEN_FADED_OUT", IsScreenFadedOut);
  registry.Add("DO_SCREEN_FADE_IN", DoScreenFadeIn);
  registry.Add("DO_SCREEN_FADE_OUT", DoScreenFadeOut);
}

// The game fading the screen by itself, as a cut-scene or a mission would:
// {"frame": 200, "fadeOut": 1000} or {"frame": 260, "fadeIn": 500}.
bool ScreenModel::ParseEvent(const ScenarioNode& event, EventList& out) {
  const bool fadeOut = event.Has("fadeOut");
  if (!fadeOut && !event.Has("fadeIn")) return false;
  const std::int64_t frame = EventFrame(event);
  const auto ms =
      static_cast<std::int32_t>(event.Child(fadeOut ? "fadeOut" : "fadeIn").AsInt(0, INT32_MAX));
  const std::string what = std::string(fadeOut ? "the game fades out" : "the game fades in") +
                           " over " + std::to_string(ms) + " ms";
  out.push_back(ScheduledEvent{frame, what, [fadeOut, ms](World& world) {
                                 if (fadeOut) {
                                   world.screen.StartFadeOut(world, ms, "game");
                                 } else {
                                   world.screen.StartFadeIn(world, ms, "game");
                                 }
                               }});
  return true;
}

}  // namespace sim
