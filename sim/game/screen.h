// Screen fades: fading out, faded out, fading in, faded in. A fade runs in
// game time and is advanced at the start of each frame, before the script
// sees the frame; the script, the game's own death sequence and scenario
// events (the game fading by itself: docs/scenarios.md) start fades.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/game/handlers.h"

namespace sim {

enum class FadeState { FadedIn, FadingOut, FadedOut, FadingIn };
const char* FadeStateName(FadeState state);

struct ScreenModel : QuietArea {
  FadeState fade = FadeState::FadedIn;
  float level = 0.0F;            // 0 = clear, 1 = black, as of the latest update
  float fadeFromLevel = 0.0F;    // the level the current fade started from
  std::int64_t fadeStartMs = 0;  // game time the current fade started
  std::int32_t fadeDurationMs = 0;
  std::string fadeBy;               // who started the current or last fade: "script" or "game"
  std::int64_t fadeDoneFrame = -1;  // frame in which the last fade completed

  static constexpr const char* kName = "screen";  // the area's name in notes and checks
  // The area's natives' handlers, by the natives' names.
  static void RegisterNatives(HandlerRegistry& registry);
  // Takes the event if it is one of this area's kinds.
  static bool ParseEvent(const ScenarioNode& event, EventList& out);
  void Configure(const ScenarioNode& root);
  // Advances a running fade to the frame's game time.
  // Most frames nothing moves: the checks are inline, the work is not.
  void BeginFrame(World& world) {
    if (fade == FadeState::FadingOut || fade == FadeState::FadingIn) AdvanceFade(world);
  }
  // Files the frame's level for the pictures when it moved; most frames it
  // did not, and this is one comparison.
  void EndFrame(World& world) {
    if (level != keptLevel_) [[unlikely]]
      KeepLevel(world);
  }
  // A fade under way moves the level; a level not yet kept for the pictures
  // is filed at the frame's end.
  bool HasFrameWork(const World& /*world*/) const {
    return fade == FadeState::FadingOut || fade == FadeState::FadingIn || level != keptLevel_;
  }
  void AdvanceFade(World& world);

  // How dark the screen was at the end of a frame, 0 clear to 1 black, as the
  // pictures show it. Known while the draw lists are kept (drawing's
  // keepFrames); frames before the oldest kept change read as clear.
  float LevelAtFrame(std::int64_t frame) const;
  // The level changes kept for LevelAtFrame: from `frame` on, `level`. The
  // oldest are dropped beyond kKeptLevelChanges.
  struct LevelChange {
    std::int64_t frame;
    float level;
  };
  static constexpr std::size_t kKeptLevelChanges = 40000;
  const std::vector<LevelChange>& LevelChanges() const { return levelChanges_; }

  // A fade runs from the current level to black (or clear) over `ms`; one of
  // 0 ms (or less) completes at once, in the call. A fade towards the state
  // the screen is already fully in changes nothing.
  void StartFadeOut(World& world, std::int32_t ms, const char* by);
  void StartFadeIn(World& world, std::int32_t ms, const char* by);

 private:
  void Start(World& world, bool out, std::int32_t ms, const char* by);
  void Complete(World& world);
  void KeepLevel(World& world);

  float keptLevel_ = 0.0F;  // the level as of the last change kept
  std::vector<LevelChange> levelChanges_;
};

}  // namespace sim
