// Every game function the plug-in calls, with its game name and hash, in one
// file so that each can be checked against the game's documentation. The
// parameter types fix how each argument is pushed (see native_call.h).
// Natives the game documents only by hash are named NATIVE_0x<hash>.
#pragma once

#include <cstdint>
#include <string>

#include "src/host/native_call.h"

namespace rebound::natives {

using Ped = std::int32_t;
using Player = std::int32_t;

// ---- Player and entity --------------------------------------------------------
inline Ped PLAYER_PED_ID() { return InvokeNative<Ped>(0xD80958FC74E988A6); }
inline Player PLAYER_ID() { return InvokeNative<Player>(0x4F8644AF03D0E0D6); }
inline std::int32_t GET_ENTITY_HEALTH(Ped ped) {
  return InvokeNative<std::int32_t>(0xEEF059FAD016D209, ped);
}
inline std::int32_t GET_ENTITY_MAX_HEALTH(Ped ped) {
  return InvokeNative<std::int32_t>(0x15D757606D170C3C, ped);
}
inline void SET_ENTITY_HEALTH(Ped ped, std::int32_t health, std::int32_t instigator) {
  InvokeNative(0x6B76DC1F3AE6E6A3, ped, health, instigator);
}
inline NativeVector3 GET_ENTITY_COORDS(Ped ped, bool alive) {
  return InvokeNative<NativeVector3>(0x3FEF770D40960D5A, ped, alive);
}
inline void SET_ENTITY_COORDS(Ped ped, float x, float y, float z, bool xAxis, bool yAxis,
                              bool zAxis, bool clearArea) {
  InvokeNative(0x06843DA7060A026B, ped, x, y, z, xAxis, yAxis, zAxis, clearArea);
}
inline void SET_ENTITY_HEADING(Ped ped, float heading) {
  InvokeNative(0x8E2530AA8ADA980E, ped, heading);
}
inline void FREEZE_ENTITY_POSITION(Ped ped, bool frozen) {
  InvokeNative(0x428CA6DBD1094446, ped, frozen);
}
inline bool IS_ENTITY_DEAD(Ped ped, bool unknown) {
  return InvokeNative<bool>(0x5F9532F3B5CC2551, ped, unknown);
}
inline bool IS_PED_INJURED(Ped ped) { return InvokeNative<bool>(0x84A2DD9AC37C35C1, ped); }
inline void RESURRECT_PED(Ped ped) { InvokeNative(0x71BC8E838B9C6035, ped); }
inline void REVIVE_INJURED_PED(Ped ped) { InvokeNative(0x8D8ACD8388CD99CE, ped); }
inline void SET_PED_ARMOUR(Ped ped, std::int32_t amount) {
  InvokeNative(0xCEA04D83135264CC, ped, amount);
}
inline void CLEAR_PED_TASKS_IMMEDIATELY(Ped ped) { InvokeNative(0xAAA34F8A7CB32098, ped); }
inline void NATIVE_0x95D2D383D5396B8A(Ped ped, bool flag) {
  InvokeNative(0x95D2D383D5396B8A, ped, flag);
}

// ---- Police and wanted level ----------------------------------------------------
inline void SET_PLAYER_WANTED_LEVEL(Player player, std::int32_t level, bool delay) {
  InvokeNative(0x39FF19C64EF7DA5B, player, level, delay);
}
inline void SET_PLAYER_WANTED_LEVEL_NOW(Player player, bool delay) {
  InvokeNative(0xE0A7D1E497FFCD6F, player, delay);
}
inline void SET_POLICE_IGNORE_PLAYER(Player player, bool ignore) {
  InvokeNative(0x32C62AA929C2DA6A, player, ignore);
}
inline void RESET_PLAYER_ARREST_STATE(Player player) { InvokeNative(0x2D03E13C460760D6, player); }
inline void NATIVE_0xA6F312FCCE9C1DFE(Player player) { InvokeNative(0xA6F312FCCE9C1DFE, player); }

// ---- Game state, death and restart ----------------------------------------------
inline void FORCE_GAME_STATE_PLAYING() { InvokeNative(0xC0AA53F866B3134D); }
inline void NATIVE_0x5A7F62FDA59759BD() { InvokeNative(0x5A7F62FDA59759BD); }
inline void NATIVE_0x7669F9E39DC17063() { InvokeNative(0x7669F9E39DC17063); }
inline void NATIVE_0x80C8B1846639BB19(std::int32_t value) {
  InvokeNative(0x80C8B1846639BB19, value);
}
inline void NATIVE_0xAA391C728106F7AF(bool value) { InvokeNative(0xAA391C728106F7AF, value); }
inline void SET_TIME_SCALE(float scale) { InvokeNative(0x1D408577D440E81E, scale); }
inline void SET_GAME_PAUSED(bool paused) { InvokeNative(0x577D1284D6873711, paused); }
inline void PAUSE_DEATH_ARREST_RESTART(bool paused) { InvokeNative(0x2C2B3493FBF51C71, paused); }
inline void SET_FADE_IN_AFTER_DEATH_ARREST(bool fade) { InvokeNative(0xDA66D2796BA33F12, fade); }
inline void SET_FADE_OUT_AFTER_ARREST(bool fade) { InvokeNative(0x1E0B4DC0D990A4E7, fade); }
inline void SET_FADE_OUT_AFTER_DEATH(bool fade) { InvokeNative(0x4A18E01DF2C87B86, fade); }
inline void DISPLAY_HUD(bool shown) { InvokeNative(0xA6294919E56FF02A, shown); }
inline void DISPLAY_RADAR(bool shown) { InvokeNative(0xA0EBB943C300E693, shown); }
inline void ANIMPOSTFX_STOP_ALL() { InvokeNative(0xB4EDDC19532BFB85); }
// The recording build stamps each frame with these two (src/recorder/), so
// their hashes have names.
inline constexpr std::uint64_t kGameTimerHash = 0x9CD27B0045628463;
inline constexpr std::uint64_t kFrameCountHash = 0xFC8202EFC642E6F2;
inline std::int32_t GET_GAME_TIMER() { return InvokeNative<std::int32_t>(kGameTimerHash); }
inline std::int32_t GET_FRAME_COUNT() { return InvokeNative<std::int32_t>(kFrameCountHash); }
inline float VDIST(float x1, float y1, float z1, float x2, float y2, float z2) {
  return InvokeNative<float>(0x2A488C176D52CCA5, x1, y1, z1, x2, y2, z2);
}

// ---- Screen fades ---------------------------------------------------------------
inline bool IS_SCREEN_FADING_OUT() { return InvokeNative<bool>(0x797AC7CB535BA28F); }
inline bool IS_SCREEN_FADED_OUT() { return InvokeNative<bool>(0xB16FCE9DDC7BA182); }
inline void DO_SCREEN_FADE_IN(std::int32_t ms) { InvokeNative(0xD4E8E24955024033, ms); }
inline void DO_SCREEN_FADE_OUT(std::int32_t ms) { InvokeNative(0x891B5B39AC6302AF, ms); }

// ---- Controls -------------------------------------------------------------------
inline bool IS_CONTROL_JUST_PRESSED(std::int32_t pad, std::int32_t control) {
  return InvokeNative<bool>(0x580417101DDB492F, pad, control);
}

// ---- Scaleform movies -----------------------------------------------------------
inline std::int32_t REQUEST_SCALEFORM_MOVIE(const char* name) {
  return InvokeNative<std::int32_t>(0x11FE353CF9733E6F, name);
}
inline bool HAS_SCALEFORM_MOVIE_LOADED(std::int32_t movie) {
  return InvokeNative<bool>(0x85F01B8D5B90570E, movie);
}
// The result (whether the method was found) is not needed by the plug-in.
inline void BEGIN_SCALEFORM_MOVIE_METHOD(std::int32_t movie, const char* method) {
  InvokeNative(0xF6E48914C7A8694E, movie, method);
}
inline void END_SCALEFORM_MOVIE_METHOD() { InvokeNative(0xC6796A8FFA375E53); }
inline void BEGIN_TEXT_COMMAND_SCALEFORM_STRING(const char* entry) {
  InvokeNative(0x80338406F3475E55, entry);
}
inline void END_TEXT_COMMAND_SCALEFORM_STRING() { InvokeNative(0x362E2D3FE93A9959); }
inline void ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL(const char* label) {
  InvokeNative(0xC63CD5D2920ACBE7, label);
}
// The game's test of whether a text is null or empty; given 0 it tests a null text.
inline std::int32_t NATIVE_0xCA042B6957743895(std::int32_t text) {
  return InvokeNative<std::int32_t>(0xCA042B6957743895, text);
}
inline void SCALEFORM_MOVIE_METHOD_ADD_PARAM_INT(std::int32_t value) {
  InvokeNative(0xC3D0841A0CC546A6, value);
}
inline void DRAW_SCALEFORM_MOVIE_FULLSCREEN(std::int32_t movie, std::int32_t red,
                                            std::int32_t green, std::int32_t blue,
                                            std::int32_t alpha, std::int32_t unused) {
  InvokeNative(0x0DF606929C105BE1, movie, red, green, blue, alpha, unused);
}
inline void SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED(std::int32_t* movie) {
  InvokeNative(0x1D132D614DD86811, movie);
}
// The label's text in the game's language; a label the game lacks may come
// back as a null pointer, which reads as empty text.
inline std::string GET_FILENAME_FOR_AUDIO_CONVERSATION(const char* label) {
  return InvokeNative<std::string>(0x7B5280EBA9840C72, label);
}

// ---- Notification feed ----------------------------------------------------------
inline void BEGIN_TEXT_COMMAND_THEFEED_POST(const char* entry) {
  InvokeNative(0x202709F4C58A0424, entry);
}
// The feed entry's id that the game returns is not needed.
inline void END_TEXT_COMMAND_THEFEED_POST_TICKER(bool blink, bool showInBrief) {
  InvokeNative(0x2ED7843F8F801023, blink, showInBrief);
}

// ---- Spawn points and road nodes ------------------------------------------------
inline void SPAWNPOINTS_START_SEARCH(float x, float y, float z, float radius, float range,
                                     std::int32_t interiorFlags, float scale,
                                     std::int32_t durationMs) {
  InvokeNative(0x2DF9038C90AD5264, x, y, z, radius, range, interiorFlags, scale, durationMs);
}
inline bool SPAWNPOINTS_IS_SEARCH_COMPLETE() { return InvokeNative<bool>(0xA586FBEB32A53DBB); }
inline bool SPAWNPOINTS_IS_SEARCH_FAILED() { return InvokeNative<bool>(0xF445DE8DA80A1792); }
inline bool SPAWNPOINTS_IS_SEARCH_ACTIVE() { return InvokeNative<bool>(0x3C67506996001F5E); }
inline std::int32_t SPAWNPOINTS_GET_NUM_SEARCH_RESULTS() {
  return InvokeNative<std::int32_t>(0xA635C11B8C44AFC2);
}
inline void SPAWNPOINTS_GET_SEARCH_RESULT(std::int32_t index, float* x, float* y, float* z) {
  InvokeNative(0x280C7E3AC7F56E90, index, x, y, z);
}
inline void SPAWNPOINTS_CANCEL_SEARCH() { InvokeNative(0xFEE4A5459472A9F8); }
inline bool GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING(float x, float y, float z, std::int32_t n,
                                                      NativeVector3* outPosition, float* outHeading,
                                                      std::int32_t* outLanes,
                                                      std::int32_t nodeFlags, float p8, float p9) {
  return InvokeNative<bool>(0x80CA6A8B6C094CC4, x, y, z, n, outPosition, outHeading, outLanes,
                            nodeFlags, p8, p9);
}

// ---- Text drawing ---------------------------------------------------------------
inline void SET_TEXT_FONT(std::int32_t font) { InvokeNative(0x66E0276CC5F6B9DA, font); }
inline void SET_TEXT_SCALE(float scale, float size) {
  InvokeNative(0x07C837F9A01C34C9, scale, size);
}
inline void SET_TEXT_COLOUR(std::int32_t red, std::int32_t green, std::int32_t blue,
                            std::int32_t alpha) {
  InvokeNative(0xBE6B23FFA53FB442, red, green, blue, alpha);
}
inline void SET_TEXT_JUSTIFICATION(std::int32_t justification) {
  InvokeNative(0x4E096588B13FFECA, justification);
}
inline void SET_TEXT_WRAP(float start, float end) { InvokeNative(0x63145D9C883A1A70, start, end); }
inline void SET_TEXT_DROP_SHADOW() { InvokeNative(0x1CA3E9EAC9D93E5E); }
inline void BEGIN_TEXT_COMMAND_DISPLAY_TEXT(const char* entry) {
  InvokeNative(0x25FBB336DF1804CB, entry);
}
inline void ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL_HASH_KEY(std::int32_t labelHash) {
  InvokeNative(0x17299B63C7683A2B, labelHash);
}
inline void ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME(const char* text) {
  InvokeNative(0x6C188BE134E074AA, text);
}
inline void END_TEXT_COMMAND_DISPLAY_TEXT(float x, float y, std::int32_t unused) {
  InvokeNative(0xCD015E5BB0D96A57, x, y, unused);
}
inline std::int32_t GET_CURRENT_LANGUAGE() {
  return InvokeNative<std::int32_t>(0x2BDD44CC428A7EAE);
}

// ---- Sprites, rectangles and the HUD ----------------------------------------------
inline void DRAW_SPRITE(const char* dictionary, const char* texture, float x, float y, float width,
                        float height, float heading, std::int32_t red, std::int32_t green,
                        std::int32_t blue, std::int32_t alpha, std::int32_t p11, std::int32_t p12) {
  InvokeNative(0xE7FFAE5EBF23D890, dictionary, texture, x, y, width, height, heading, red, green,
               blue, alpha, p11, p12);
}
inline void DRAW_RECT(float x, float y, float width, float height, std::int32_t red,
                      std::int32_t green, std::int32_t blue, std::int32_t alpha, std::int32_t p8) {
  InvokeNative(0x3A618A217E5154F0, x, y, width, height, red, green, blue, alpha, p8);
}
inline bool HAS_STREAMED_TEXTURE_DICT_LOADED(const char* dictionary) {
  return InvokeNative<bool>(0x0145F696AAAAD2E4, dictionary);
}
inline void REQUEST_STREAMED_TEXTURE_DICT(const char* dictionary, bool p1) {
  InvokeNative(0xDFA2EF8E04127DD5, dictionary, p1);
}
inline void GET_HUD_COLOUR(std::int32_t index, std::int32_t* red, std::int32_t* green,
                           std::int32_t* blue, std::int32_t* alpha) {
  InvokeNative(0x7C9C91AB74A0360F, index, red, green, blue, alpha);
}
inline void HIDE_HUD_COMPONENT_THIS_FRAME(std::int32_t component) {
  InvokeNative(0x6806C51AD12B83B8, component);
}
inline void SET_SCRIPT_GFX_ALIGN(std::int32_t horizontal, std::int32_t vertical) {
  InvokeNative(0xB8A850F20A067EB6, horizontal, vertical);
}
inline void SET_SCRIPT_GFX_ALIGN_PARAMS(float x, float y, float w, float h) {
  InvokeNative(0xF5A2C681787E579D, x, y, w, h);
}
inline void RESET_SCRIPT_GFX_ALIGN() { InvokeNative(0xE3A3DB414A373DAB); }
inline bool BUSYSPINNER_IS_ON() { return InvokeNative<bool>(0xD422FCC5F239A915); }

}  // namespace rebound::natives
