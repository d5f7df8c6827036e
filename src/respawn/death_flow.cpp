#include "src/respawn/death_flow.h"

#include <cmath>
#include <string>

#include "src/host/host_api.h"
#include "src/host/natives.h"
#include "src/hud/bar_drawing.h"
#include "src/hud/panel.h"
#include "src/respawn/event_timers.h"
#include "src/respawn/revive_player.h"
#include "src/spawn/random.h"

namespace rebound {

using namespace natives;

DeathFlow deathFlow;

namespace {

// ---- Timing and points of the flow ------------------------------------------
constexpr std::int32_t kStageTimer = 0;     // phases of the sequence
constexpr std::int32_t kProgressTimer = 1;  // paces the bar's own filling
constexpr std::int32_t kDeathPauseMs = 300;
constexpr std::int32_t kShardDelayMs = 400;
constexpr std::int32_t kProgressStepMs = 60;
constexpr std::int32_t kPointsPerTap = 4;
constexpr std::int32_t kPointsPerStep = 1;
constexpr std::int32_t kRespawnThreshold = 100;
constexpr std::int32_t kRespawnPad = 0;
constexpr std::int32_t kRespawnControl = 223;
constexpr std::int32_t kFadeMs = 1500;
constexpr float kSearchOffset = 100.0F;  // metres from the place of death
constexpr float kSpawnDistanceLimit = 300.0F;
constexpr const char* kShardMovie = "MP_BIG_MESSAGE_FREEMODE";
constexpr const char* kShardTitleLabel = "RESPAWN_W";
constexpr const char* kBarLabel = "KS_RESPAWN_B";

bool StageTimerPast(std::int32_t id, std::int32_t ms) {
  return EventTimerElapsed(FindEventTimer(id)) > ms;
}

void EnterDeath() {
  DeathFlow& flow = deathFlow;
  DISPLAY_HUD(true);
  DISPLAY_RADAR(true);
  PAUSE_DEATH_ARREST_RESTART(true);
  flow.movieHandle = REQUEST_SCALEFORM_MOVIE(kShardMovie);
  flow.shardHidden = true;
  StartEventTimer(kStageTimer);
  StartEventTimer(kProgressTimer);
  const NativeVector3 where = GET_ENTITY_COORDS(PLAYER_PED_ID(), true);
  flow.deathPosition = Vector3(where.x, where.y, where.z);
  flow.state = DeathFlowState::DeathPause;
}

// Holds the dead character at 1 health and the game in normal play, so the
// game never starts its own death sequence.
void KeepAlive() {
  FORCE_GAME_STATE_PLAYING();
  NATIVE_0x5A7F62FDA59759BD();
  NATIVE_0x7669F9E39DC17063();
  REVIVE_INJURED_PED(PLAYER_PED_ID());
  SET_ENTITY_HEALTH(PLAYER_PED_ID(), 1, 0);
  SET_TIME_SCALE(1.0F);
}

void StepDeathPause() {
  if (!StageTimerPast(kStageTimer, kDeathPauseMs)) return;
  StartEventTimer(kStageTimer);
  deathFlow.state = DeathFlowState::ShardDelay;
}

void FillShard(std::int32_t movie) {
  BEGIN_SCALEFORM_MOVIE_METHOD(movie, "RESET_MOVIE");
  END_SCALEFORM_MOVIE_METHOD();
  BEGIN_SCALEFORM_MOVIE_METHOD(movie, "SHOW_SHARD_WASTED_MP_MESSAGE");
  BEGIN_TEXT_COMMAND_SCALEFORM_STRING("STRING");
  ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL(kShardTitleLabel);
  END_TEXT_COMMAND_SCALEFORM_STRING();
  // The message line stays empty: the game answers whether a null text counts
  // as empty, and the line is opened with the empty text or with none.
  const std::int32_t nullIsEmpty = NATIVE_0xCA042B6957743895(0);
  BEGIN_TEXT_COMMAND_SCALEFORM_STRING(nullIsEmpty != 0 ? "" : nullptr);
  END_TEXT_COMMAND_SCALEFORM_STRING();
  SCALEFORM_MOVIE_METHOD_ADD_PARAM_INT(0);
  SCALEFORM_MOVIE_METHOD_ADD_PARAM_INT(0);
  SCALEFORM_MOVIE_METHOD_ADD_PARAM_INT(0);
  END_SCALEFORM_MOVIE_METHOD();
}

void CreateRespawnBar() {
  DeathFlow& flow = deathFlow;
  flow.respawnBar = std::make_unique<HudBar>(std::string(), std::string());
  HudBar& bar = *flow.respawnBar;
  AppendToPanel(&bar);
  bar.barFillColour = Rgba{224, 50, 52, 140};
  bar.barBackColour = Rgba{83, 20, 26, 140};
  bar.compact = true;
  // Copied at once; a label the game lacks comes back as empty text.
  std::string label = GET_FILENAME_FOR_AUDIO_CONVERSATION(kBarLabel);
  bar.SetLabel(std::move(label));
}

void StepShardDelay() {
  CancelFadeOut();
  if (!StageTimerPast(kStageTimer, kShardDelayMs)) return;
  // Nothing else of the flow runs while the movie loads: no keep-alive, no
  // drawing; the fibre just yields a frame at a time.
  while (!HAS_SCALEFORM_MOVIE_LOADED(deathFlow.movieHandle)) scriptWait(0);
  FillShard(deathFlow.movieHandle);
  deathFlow.shardHidden = false;
  CreateRespawnBar();
  deathFlow.state = DeathFlowState::BarFilling;
}

void StepBarFilling() {
  DeathFlow& flow = deathFlow;
  CancelFadeOut();
  if (IS_CONTROL_JUST_PRESSED(kRespawnPad, kRespawnControl)) flow.respawnProgress += kPointsPerTap;
  if (flow.respawnBar) SetBarProgress(*flow.respawnBar, flow.respawnProgress * 0.01);
  DrawPanelFrame();
  if (StageTimerPast(kProgressTimer, kProgressStepMs)) {
    StartEventTimer(kProgressTimer);
    flow.respawnProgress += kPointsPerStep;
  }
  if (flow.respawnProgress > kRespawnThreshold) {
    DO_SCREEN_FADE_OUT(kFadeMs);
    StartEventTimer(kStageTimer);
    flow.state = DeathFlowState::Respawning;
  }
}

// A point kSearchOffset metres from the place of death in a random direction,
// at the same height. Two draws of exactly 0.5 give no direction at all: the
// centre is then the place of death itself.
Vector3 SearchCentre(const Vector3& death) {
  float a = RandomFloat01() - 0.5F;
  float b = RandomFloat01() - 0.5F;
  const float length = std::sqrt(b * b + a * a);
  if (length != 0.0F) {
    a = a * (1.0F / length);
    b = b * (1.0F / length);
  }
  return Vector3(a * kSearchOffset + death.x, b * kSearchOffset + death.y, death.z);
}

void FinishRespawn();

// Searches around a random point near the place of death. A point too far
// away (or no answer at all, a NaN distance) gives way to the
// place of death itself, facing 0.
void SearchForSpawnPoint() {
  DeathFlow& flow = deathFlow;
  // The game holds a search until it is cancelled, and one started over it
  // would not be the only one.
  if (flow.searchUnderWay) SPAWNPOINTS_CANCEL_SEARCH();
  const float searchZ = flow.deathPosition.z;
  const Vector3 centre = SearchCentre(flow.deathPosition);
  flow.searchUnderWay = true;
  flow.spawnPoint = FindSpawnPoint(centre, searchZ);
  flow.searchUnderWay = false;
  const Vector3& death = flow.deathPosition;
  const Vector3& spawn = flow.spawnPoint.position;
  const float distance = VDIST(death.x, death.y, death.z, spawn.x, spawn.y, spawn.z);
  if (!(distance <= kSpawnDistanceLimit)) {
    flow.spawnPoint.position = flow.deathPosition;
    flow.spawnPoint.rotation = Vector3(0.0F, 0.0F, 0.0F);
  }
}

// Brings the character back with the game paused and in normal play, then
// lets a frame pass for it to settle.
void ReviveInPausedGame() {
  DeathFlow& flow = deathFlow;
  SET_GAME_PAUSED(true);
  NATIVE_0x80C8B1846639BB19(0);
  SET_TIME_SCALE(1.0F);
  FORCE_GAME_STATE_PLAYING();
  const bool revivalCutShort = flow.revivalUnderWay;
  flow.revivalUnderWay = true;
  RevivePlayer();
  // The character brought back by the revival the host cut short is alive
  // and held at 1 health, which this revival does not see as needing help.
  // Two statements: the order of the game calls must not be left to the
  // compiler's choice of argument order.
  if (revivalCutShort) {
    const std::int32_t fullHealth = GET_ENTITY_MAX_HEALTH(PLAYER_PED_ID());
    SET_ENTITY_HEALTH(PLAYER_PED_ID(), fullHealth, 0);
  }
  scriptWait(1);
}

// Puts the player at the spawn point, turned to its heading, and no longer
// ignored by the police.
void PlaceAtSpawnPoint() {
  const SpawnPoint& point = deathFlow.spawnPoint;
  FORCE_GAME_STATE_PLAYING();
  const Vector3& target = point.position;
  SET_ENTITY_COORDS(PLAYER_PED_ID(), target.x, target.y, target.z, true, false, false, false);
  SET_ENTITY_HEADING(PLAYER_PED_ID(), point.rotation.z);
  SET_POLICE_IGNORE_PLAYER(PLAYER_ID(), false);
}

// Lets go of the shard and the bar, gives the game back its own settings and
// display, and fades the screen in.
void RestoreAfterRespawn() {
  DeathFlow& flow = deathFlow;
  SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED(&flow.movieHandle);
  flow.movieHandle = -1;
  // The panel lets go of the bar before the bar goes.
  EmptyPanel();
  flow.respawnBar.reset();
  SET_FADE_IN_AFTER_DEATH_ARREST(false);
  SET_FADE_OUT_AFTER_ARREST(false);
  SET_FADE_OUT_AFTER_DEATH(false);
  SET_GAME_PAUSED(false);
  DISPLAY_HUD(true);
  DISPLAY_RADAR(true);
  ANIMPOSTFX_STOP_ALL();
  DO_SCREEN_FADE_IN(kFadeMs);
  scriptWait(10);
}

void StepRespawning() {
  if (!IS_SCREEN_FADED_OUT()) return;
  // A revival that the host cut short had its spawn point already, and left
  // the game paused: a search now would run in a paused game, so the point
  // found before is used.
  if (!deathFlow.revivalUnderWay) SearchForSpawnPoint();
  ReviveInPausedGame();
  PlaceAtSpawnPoint();
  RestoreAfterRespawn();
  FinishRespawn();
}

// The respawn's last step: the game may restart a dead player again, and the
// flow watches.
void FinishRespawn() {
  deathFlow.revivalUnderWay = false;
  PAUSE_DEATH_ARREST_RESTART(false);
  deathFlow.respawnProgress = 0;
  deathFlow.state = DeathFlowState::Watching;
}

// The host may drop the script at any wait and start it afresh; the flow's
// state survives. Every wait but one leaves a state whose next tick carries
// on. The one after the respawn's fade-in leaves `Respawning` with the movie
// and the bar already let go and the screen fading in, which never reads
// faded out again: without this the player would be held at 1 health for
// ever.
bool RespawnStoppedAfterFadeIn() {
  const DeathFlow& flow = deathFlow;
  return flow.state == DeathFlowState::Respawning && flow.movieHandle == -1 && !flow.respawnBar;
}

}  // namespace

void CancelFadeOut() {
  if (IS_SCREEN_FADING_OUT()) DO_SCREEN_FADE_IN(0);
}

namespace {

// A tick while the player is down (or has just gone down): out of the way of
// the alive tick, which runs every frame and should keep no frame of its own.
[[gnu::noinline]] void TickDown(bool justDied) {
  DeathFlow& flow = deathFlow;
  if (justDied) EnterDeath();

  if (RespawnStoppedAfterFadeIn()) [[unlikely]] {
    FinishRespawn();
    return;
  }

  KeepAlive();

  switch (flow.state) {
    case DeathFlowState::DeathPause:
      StepDeathPause();
      break;
    case DeathFlowState::ShardDelay:
      StepShardDelay();
      break;
    case DeathFlowState::BarFilling:
      StepBarFilling();
      break;
    case DeathFlowState::Respawning:
      StepRespawning();
      break;
    case DeathFlowState::Watching:
      break;
  }

  if (flow.movieHandle != -1 && !flow.shardHidden) {
    DRAW_SCALEFORM_MOVIE_FULLSCREEN(flow.movieHandle, 255, 255, 255, 255, 0);
  }
}

}  // namespace

void TickDeathFlow() {
  if (deathFlow.state != DeathFlowState::Watching) return TickDown(false);
  const Ped ped = PLAYER_PED_ID();
  if (GET_ENTITY_HEALTH(ped) >= 1) return;
  TickDown(true);
}

}  // namespace rebound
