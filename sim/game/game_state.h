// Game-wide switches (fades after death and arrest, the death/arrest restart,
// pause, time scale, HUD and radar, post-effects) and the game's own wasted
// sequence: what the game does with a dead player when no script holds it off.
// The sequence's timing (world.gameRestart) and the fixed answer of the
// null-or-empty text test (world.nullOrEmptyTextAnswer) are set as the
// scenario guide, docs/scenarios.md, describes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/game/handlers.h"

namespace sim {

// The game's own restart after a death, timed from the frame it begins.
struct GameRestartSettings {
  std::int64_t fadeOutAfterMs = 2000;  // the wasted screen, then the fade-out starts
  std::int32_t fadeOutMs = 1000;
  std::int64_t restartAfterMs = 5000;  // the player is restarted (and the fade-in starts)
  std::int32_t fadeInMs = 1000;
  Vec3 position{340.0F, -1396.0F, 32.5F};  // the hospital the game restarts the player at
  float heading = 50.0F;
};

enum class RestartPhase {
  Idle,     // no sequence under way
  Wasted,   // the wasted screen shows; the fade-out is still to come
  FadeOut,  // the fade-out was started (or skipped); the restart is still to come
};
const char* RestartPhaseName(RestartPhase phase);

struct GameStateModel : QuietArea {
  // The four settings the plug-in switches off at start-up.
  bool fadeInAfterDeathArrest = true;
  bool fadeOutAfterArrest = true;
  bool fadeOutAfterDeath = true;
  bool deathArrestFlag = true;  // set by a game function known by hash only

  bool deathArrestRestartPaused = false;
  bool gamePaused = false;
  float timeScale = 1.0F;
  bool hudShown = true;
  bool radarShown = true;
  std::vector<std::string> postEffects;  // screen post-effects running, oldest first

  GameRestartSettings restart;
  RestartPhase restartPhase = RestartPhase::Idle;
  std::int64_t wastedAtMs = 0;    // game time the running sequence began
  std::int32_t gameRestarts = 0;  // players the game restarted by itself
  std::int32_t sequencesAbandoned = 0;

  // The fixed answer of the null-or-empty text test; none: the game's own test.
  std::optional<std::int32_t> nullOrEmptyTextAnswer;

  static constexpr const char* kName = "state";  // the area's name in notes and checks
  // The area's natives' handlers, by the natives' names.
  static void RegisterNatives(HandlerRegistry& registry);
  void Configure(const ScenarioNode& root);
  // The game's death handling, after the scripts have had their frame.
  void EndFrame(World& world);
  bool HasFrameWork(const World& world) const;

  // Switches with a timeline note on change only (scripts repeat them every frame).
  void SetTimeScale(World& world, float scale, const char* by);
  void SetHudShown(World& world, bool shown, const char* by);
  void SetRadarShown(World& world, bool shown, const char* by);
  void SetGamePaused(World& world, bool paused);
  void SetDeathArrestRestartPaused(World& world, bool paused);
  void StopAllPostEffects(World& world);

 private:
  void BeginWasted(World& world);
  void StepWasted(World& world);
};

}  // namespace sim
