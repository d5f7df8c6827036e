// Scaleform movies: requests and their handles, loading some frames later (or
// never), method calls with their parameters and text strings, full-screen
// drawing (into the frame's draw list), and release.
//
// A failed request answers its handle (-1 or 0, as the game does when it has
// no room) and gives out no movie: that handle never loads, and draws and
// methods on it do nothing. An evicted movie (the game throws it out of
// memory) reads as not loaded for good (it is never reloaded; only a new
// request brings the movie back), and draws and methods on it do nothing.
// The settings (world.scaleform) and the evictMovie event are in the scenario
// guide, docs/scenarios.md.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/game/handlers.h"

namespace sim {

struct ScaleformParam {
  enum class Kind { Int, String };
  Kind kind = Kind::Int;
  std::int32_t integer = 0;
  std::string text;        // a string parameter as the movie shows it
  bool nullEntry = false;  // the string command was begun with a null text entry
};

struct ScaleformMethodCall {
  std::int64_t frame = 0;
  std::string method;
  std::vector<ScaleformParam> params;  // in the order they were added
};

struct ScaleformMovie {
  std::int32_t handle = 0;
  std::string name;
  std::int64_t requestedFrame = 0;
  std::optional<std::int64_t> loadFrame;  // frame it loads in; none when it never does
  bool loaded = false;
  bool released = false;
  bool evicted = false;  // thrown out by the game after it loaded
  // Completed method calls, in order: the first kKeptMethods of them (the
  // timeline tells of every one), so that a movie kept for a long run stays small.
  static constexpr std::size_t kKeptMethods = 64;
  std::vector<ScaleformMethodCall> methods;
  // What a SHOW_SHARD_... method last put on screen; cleared by RESET_MOVIE.
  bool shardShown = false;
  std::string shardTitle;
  std::string shardMessage;
  std::string shardMethod;  // the SHOW_SHARD_... method that filled it
  std::int64_t releasedFrame = -1;
  std::int64_t timesDrawn = 0;
  std::int64_t firstDrawnFrame = -1;
  std::int64_t lastDrawnFrame = -1;
  bool notedDrawBeforeLoad = false;  // the timeline tells of such a draw once
};

// How many frames after its request a movie loads; none means never.
struct MovieLoading {
  std::optional<std::int64_t> frames;
};

struct ScaleformModel : QuietArea {
  MovieLoading defaultLoading{5};
  std::map<std::string, MovieLoading> loadingByName;
  std::int64_t failRequests = 0;  // requests still to fail, from the first
  std::int32_t failHandle = -1;   // what a failed request answers
  std::int32_t requestsFailed = 0;

  // Every movie given out from handle firstKeptHandle on, in handle order
  // (movies[n - firstKeptHandle] has handle n). Released movies are forgotten
  // from the front once more than kKeptMovies are held, so that a run of many
  // deaths holds no more than a few; a handle that was forgotten still reads
  // as released.
  static constexpr std::size_t kKeptMovies = 8;
  std::deque<ScaleformMovie> movies;
  std::int32_t firstKeptHandle = 1;
  std::int32_t nextHandle = 1;
  std::set<std::int32_t> notedUnknownDraws;  // handles whose draw the timeline told of

  // The method call being built between BEGIN_ and END_SCALEFORM_MOVIE_METHOD.
  bool methodOpen = false;
  std::int32_t methodMovie = 0;
  ScaleformMethodCall pending;
  // The string parameter being built between BEGIN_ and END_TEXT_COMMAND_SCALEFORM_STRING.
  bool stringOpen = false;
  bool stringEntryNull = false;
  std::string stringEntry;
  std::vector<std::string> stringComponents;

  static constexpr const char* kName = "scaleform";  // the area's name in notes and checks
  // The area's natives' handlers, by the natives' names.
  static void RegisterNatives(HandlerRegistry& registry);
  // Takes the event if it is one of this area's kinds.
  static bool ParseEvent(const ScenarioNode& event, EventList& out);
  void Configure(const ScenarioNode& root);
  // Loads what is due.
  // Most frames nothing moves: the checks are inline, the work is not.
  void BeginFrame(World& world) {
    if (HasFrameWork(world)) LoadMovies(world);
  }
  bool HasFrameWork(const World& /*world*/) const { return !movies.empty(); }
  void LoadMovies(World& world);

  // The movie with this handle, or nullptr for a handle never given out. A
  // forgotten handle finds a stand-in that reads as released, its frame unknown.
  ScaleformMovie* Find(std::int32_t handle);
  const ScaleformMovie* Find(std::int32_t handle) const;
  // Forgets released movies at the front while more than kKeptMovies are held.
  void ForgetReleased();
  // The game throws the loaded movies of this name out of memory.
  void Evict(World& world, const std::string& name);

 private:
  mutable ScaleformMovie forgotten_;
};

ScheduledEvent EvictMovieEvent(std::int64_t frame, std::string name);

}  // namespace sim
