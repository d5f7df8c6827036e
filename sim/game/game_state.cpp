#include "sim/game/game_state.h"

#include <algorithm>

#include "sim/base/number_format.h"
#include "sim/game/world.h"

namespace sim {

namespace {

// The wasted screen's look: slow motion and the game's death post-effect.
constexpr float kWastedTimeScale = 0.2F;
constexpr const char* kDeathPostEffect = "DeathFailOut";

void NoteSetting(World& world, const char* name, bool& field, bool value) {
  world.Note("settings", std::string(name) + " " + (value ? "true" : "false"));
  field = value;
}

}  // namespace

const char* RestartPhaseName(RestartPhase phase) {
  switch (phase) {
    case RestartPhase::Idle:
      return "idle";
    case RestartPhase::Wasted:
      return "wasted";
    case RestartPhase::FadeOut:
      return "fade-out";
  }
  return "unknown";
}

// "gameRestart": {"fadeOutAfterMs": 2000, "fadeOutMs": 1000, "restartAfterMs": 5000,
//                 "fadeInMs": 1000, "position": [x, y, z], "heading": h}
void GameStateModel::Configure(const ScenarioNode& root) {
  auto world = root.Optional("world");
  if (!world) return;
  world->ExpectObject();
  if (auto answer = world->Optional("nullOrEmptyTextAnswer")) {
    nullOrEmptyTextAnswer = static_cast<std::int32_t>(answer->AsInt(INT32_MIN, INT32_MAX));
  }
  auto node = world->Optional("gameRestart");
  if (!node) return;
  node->ExpectObject();
  restart.fadeOutAfterMs = node->Int("fadeOutAfterMs", restart.fadeOutAfterMs, 0, INT32_MAX);
  restart.fadeOutMs =
      static_cast<std::int32_t>(node->Int("fadeOutMs", restart.fadeOutMs, 0, INT32_MAX));
  restart.restartAfterMs = node->Int("restartAfterMs", restart.restartAfterMs, 0, INT32_MAX);
  if (restart.restartAfterMs < restart.fadeOutAfterMs) {
    node->Child("restartAfterMs")
        .Fail("expected a time at or after fadeOutAfterMs (" +
              std::to_string(restart.fadeOutAfterMs) + " ms)");
  }
  restart.fadeInMs =
      static_cast<std::int32_t>(node->Int("fadeInMs", restart.fadeInMs, 0, INT32_MAX));
  restart.position = node->Vector("position", restart.position);
  restart.heading = node->Float("heading", restart.heading);
}

void GameStateModel::EndFrame(World& world) {
  // The game looks at a dead player after the scripts have run, so a script
  // that pauses the restart in the frame of the death keeps it from starting.
  if (restartPhase == RestartPhase::Idle && world.player.dead && !deathArrestRestartPaused &&
      !gamePaused) {
    BeginWasted(world);
  }
  // Deadlines are in game time; a paused game takes the step once it resumes.
  if (restartPhase != RestartPhase::Idle && !gamePaused) StepWasted(world);
}

bool GameStateModel::HasFrameWork(const World& world) const {
  if (gamePaused) return false;
  return restartPhase != RestartPhase::Idle || (world.player.dead && !deathArrestRestartPaused);
}

void GameStateModel::BeginWasted(World& world) {
  restartPhase = RestartPhase::Wasted;
  wastedAtMs = world.clock.nowMs;
  world.Note("state", "wasted: the game starts its own restart sequence");
  SetTimeScale(world, kWastedTimeScale, "game");
  SetHudShown(world, false, "game");
  SetRadarShown(world, false, "game");
  if (std::find(postEffects.begin(), postEffects.end(), kDeathPostEffect) == postEffects.end()) {
    postEffects.emplace_back(kDeathPostEffect);
    world.Note("state", std::string("post-effect ") + kDeathPostEffect + " started");
  }
}

void GameStateModel::StepWasted(World& world) {
  const std::int64_t elapsed = world.clock.nowMs - wastedAtMs;
  if (restartPhase == RestartPhase::Wasted && elapsed >= restart.fadeOutAfterMs) {
    restartPhase = RestartPhase::FadeOut;
    if (fadeOutAfterDeath) {
      world.screen.StartFadeOut(world, restart.fadeOutMs, "game");
    } else {
      world.Note("state", "the game skips its fade-out after death (switched off)");
    }
  }
  if (restartPhase != RestartPhase::FadeOut || elapsed < restart.restartAfterMs) return;
  restartPhase = RestartPhase::Idle;
  ++gameRestarts;
  postEffects.erase(std::remove(postEffects.begin(), postEffects.end(), kDeathPostEffect),
                    postEffects.end());
  SetTimeScale(world, 1.0F, "game");
  SetHudShown(world, true, "game");
  SetRadarShown(world, true, "game");
  world.Note("state", "the game restarts the player");
  world.player.Respawn(world, restart.position, restart.heading, "the game's own restart");
  if (fadeInAfterDeathArrest) {
    world.screen.StartFadeIn(world, restart.fadeInMs, "game");
  } else {
    world.Note("state", "the game skips its fade-in after the restart (switched off)");
  }
}

void GameStateModel::SetTimeScale(World& world, float scale, const char* by) {
  if (scale == timeScale) return;
  world.Note("state", "time scale " + FormatNumber(timeScale) + " -> " + FormatNumber(scale) +
                          " (" + by + ")");
  timeScale = scale;
}

void GameStateModel::SetHudShown(World& world, bool shown, const char* by) {
  if (shown == hudShown) return;
  hudShown = shown;
  world.Note("state", std::string("HUD ") + (shown ? "shown" : "hidden") + " (" + by + ")");
}

void GameStateModel::SetRadarShown(World& world, bool shown, const char* by) {
  if (shown == radarShown) return;
  radarShown = shown;
  world.Note("state", std::string("radar ") + (shown ? "shown" : "hidden") + " (" + by + ")");
}

void GameStateModel::SetGamePaused(World& world, bool paused) {
  if (paused == gamePaused) return;
  gamePaused = paused;
  world.NoteWork();
  world.Note("state", paused ? "game paused" : "game resumed");
}

// Pausing the restart while the sequence runs ends the sequence for good: the
// player stays dead and is not restarted. What it already did stays: a fade
// under way runs on, the slow motion, the hidden HUD and the post-effect stay
// until a script undoes them. Lifting the pause while the player is still
// dead starts a new sequence from the beginning.
void GameStateModel::SetDeathArrestRestartPaused(World& world, bool paused) {
  if (paused == deathArrestRestartPaused) return;
  deathArrestRestartPaused = paused;
  world.NoteWork();
  world.Note("state", paused ? "death/arrest restart paused" : "death/arrest restart resumed");
  if (paused && restartPhase != RestartPhase::Idle) {
    world.Note("state", std::string("the game's restart sequence stops in its ") +
                            RestartPhaseName(restartPhase) + " phase");
    restartPhase = RestartPhase::Idle;
    ++sequencesAbandoned;
  }
}

void GameStateModel::StopAllPostEffects(World& world) {
  if (postEffects.empty()) return;
  std::string names;
  for (const std::string& name : postEffects) names += (names.empty() ? "" : ", ") + name;
  postEffects.clear();
  world.Note("state", "post-effects stopped: " + names);
}

namespace {

void SetFadeInAfterDeathArrest(World& world, CallFrame& call) {
  NoteSetting(world, "fade in after death/arrest", world.state.fadeInAfterDeathArrest,
              call.Bool(0));
}
void SetFadeOutAfterArrest(World& world, CallFrame& call) {
  NoteSetting(world, "fade out after arrest", world.state.fadeOutAfterArrest, call.Bool(0));
}
void SetFadeOutAfterDeath(World& world, CallFrame& call) {
  NoteSetting(world, "fade out after death", world.state.fadeOutAfterDeath, call.Bool(0));
}
void SetDeathArrestFlag(World& world, CallFrame& call) {
  NoteSetting(world, ReadableNativeName(call.Signature()).c_str(), world.state.deathArrestFlag,
              call.Bool(0));
}

void PauseDeathArrestRestart(World& world, CallFrame& call) {
  world.state.SetDeathArrestRestartPaused(world, call.Bool(0));
}
void SetGamePaused(World& world, CallFrame& call) {
  world.state.SetGamePaused(world, call.Bool(0));
}
void SetTimeScale(World& world, CallFrame& call) {
  world.state.SetTimeScale(world, call.Float(0), "script");
}
void DisplayHud(World& world, CallFrame& call) {
  world.state.SetHudShown(world, call.Bool(0), "script");
}
void DisplayRadar(World& world, CallFrame& call) {
  world.state.SetRadarShown(world, call.Bool(0), "script");
}
void AnimpostfxStopAll(World& world, CallFrame& /*call*/) { world.state.StopAllPostEffects(world); }

// The game's test of whether a text is null or empty. Its argument is the
// text's address cut to 32 bits: 0 is a null text; any other value is taken
// as a text that is not empty.
// A scenario may fix the answer, so that either of a caller's branches runs.
void IsNullOrEmptyText(World& world, CallFrame& call) {
  call.ReturnInt(world.state.nullOrEmptyTextAnswer.value_or(call.Int(0) == 0 ? 1 : 0));
}

}  // namespace

void GameStateModel::RegisterNatives(HandlerRegistry& registry) {
  registry.Add("SET_FADE_IN_AFTER_DEATH_ARREST", SetFadeInAfterDeathArrest);
  registry.Add("SET_FADE_OUT_AFTER_ARREST", SetFadeOutAfterArrest);
  registry.Add("SET_FADE_OUT_AFTER_DEATH", SetFadeOutAfterDeath);
  registry.Add("death arrest flag", SetDeathArrestFlag);
  registry.Add("PAUSE_DEATH_ARREST_RESTART", PauseDeathArrestRestart);
  registry.Add("SET_GAME_PAUSED", sim::SetGamePaused);  // not the member
  registry.Add("SET_TIME_SCALE", sim::SetTimeScale);    // not the member
  registry.Add("DISPLAY_HUD", DisplayHud);
  registry.Add("DISPLAY_RADAR", DisplayRadar);
  registry.Add("ANIMPOSTFX_STOP_ALL", AnimpostfxStopAll);
  registry.Add("null or empty text test", IsNullOrEmptyText);
}

}  // namespace sim
