#include "sim/game/scaleform.h"

#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "sim/game/world.h"

namespace sim {

namespace {

constexpr std::int64_t kMaxLoadFrames = 1'000'000;

MovieLoading ReadLoading(const ScenarioNode& node) {
  if (node.Json().is_string() && node.AsString() == "never") return MovieLoading{std::nullopt};
  if (!node.Json().is_number()) {
    node.Fail("expected a number of frames or \"never\", got " + JsonTypeName(node.Json()));
  }
  return MovieLoading{node.AsInt(0, kMaxLoadFrames)};
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string MovieName(const ScaleformMovie& movie) {
  return "movie " + movie.name + " (handle " + std::to_string(movie.handle) + ")";
}

std::string Describe(const ScaleformMethodCall& call) {
  std::string out = call.method + "(";
  for (std::size_t i = 0; i < call.params.size(); ++i) {
    const ScaleformParam& p = call.params[i];
    if (i > 0) out += ", ";
    out += p.kind == ScaleformParam::Kind::Int ? std::to_string(p.integer) : Quoted(p.text);
  }
  return out + ")";
}

}  // namespace

// "scaleform": {"loadFrames": 5, "MP_BIG_MESSAGE_FREEMODE": {"loadFrames": "never"}}:
// the frames from request to load for every movie, and for movies by name.
void ScaleformModel::Configure(const ScenarioNode& root) {
  auto world = root.Optional("world");
  if (!world) return;
  world->ExpectObject();
  auto node = world->Optional("scaleform");
  if (!node) return;
  node->ExpectObject();
  for (const std::string& key : node->Keys()) {
    const ScenarioNode child = node->Child(key);
    if (key == "loadFrames") {
      defaultLoading = ReadLoading(child);
      continue;
    }
    if (key == "failRequests") {
      failRequests = child.AsInt(0, INT32_MAX);
      continue;
    }
    if (key == "failHandle") {
      failHandle = static_cast<std::int32_t>(child.AsInt(-1, 0));
      continue;
    }
    if (!child.IsObject()) {
      child.Fail("expected the movie's settings {\"loadFrames\": ...}, got " +
                 JsonTypeName(child.Json()));
    }
    loadingByName[key] = ReadLoading(child.Child("loadFrames"));
  }
}

void ScaleformModel::LoadMovies(World& world) {
  for (ScaleformMovie& movie : movies) {
    if (movie.loaded || movie.released || movie.evicted || !movie.loadFrame) continue;
    if (world.clock.frame >= *movie.loadFrame) {
      movie.loaded = true;
      world.Note("scaleform", MovieName(movie) + " loaded");
    }
  }
}

void ScaleformModel::Evict(World& world, const std::string& name) {
  bool any = false;
  for (ScaleformMovie& movie : movies) {
    if (movie.name != name || !movie.loaded || movie.released) continue;
    movie.loaded = false;
    movie.evicted = true;
    movie.notedDrawBeforeLoad = false;  // the timeline tells of a draw after the eviction too
    if (methodOpen && methodMovie == movie.handle) {
      methodOpen = false;
      stringOpen = false;
    }
    world.Note("scaleform", MovieName(movie) + " evicted by the game: no longer loaded");
    any = true;
  }
  if (!any) world.Note("scaleform", "no loaded movie " + name + " to evict");
}

ScheduledEvent EvictMovieEvent(std::int64_t frame, std::string name) {
  const std::string what = "the game evicts movie " + name;
  return ScheduledEvent{
      frame, what, [name = std::move(name)](World& world) { world.scaleform.Evict(world, name); }};
}

const ScaleformMovie* ScaleformModel::Find(std::int32_t handle) const {
  if (handle < 1 || handle >= nextHandle) return nullptr;
  if (handle < firstKeptHandle) {
    forgotten_.handle = handle;
    forgotten_.name = "released earlier";
    forgotten_.released = true;
    return &forgotten_;
  }
  return &movies[static_cast<std::size_t>(handle - firstKeptHandle)];
}

void ScaleformModel::ForgetReleased() {
  while (movies.size() > kKeptMovies && movies.front().released) {
    movies.pop_front();
    ++firstKeptHandle;
  }
}

ScaleformMovie* ScaleformModel::Find(std::int32_t handle) {
  return const_cast<ScaleformMovie*>(std::as_const(*this).Find(handle));
}

namespace {

void RequestScaleformMovie(World& world, CallFrame& call) {
  ScaleformModel& model = world.scaleform;
  if (model.failRequests > 0) {
    --model.failRequests;
    ++model.requestsFailed;
    world.Note("scaleform", std::string("request of movie ") + call.Text(0) +
                                " failed: the game answers " + std::to_string(model.failHandle));
    call.ReturnInt(model.failHandle);
    return;
  }
  ScaleformMovie movie;
  movie.handle = model.nextHandle++;
  movie.name = call.Text(0);
  movie.requestedFrame = world.clock.frame;
  const auto byName = model.loadingByName.find(movie.name);
  const MovieLoading loading =
      byName != model.loadingByName.end() ? byName->second : model.defaultLoading;
  std::string when = "never loads";
  if (loading.frames) {
    movie.loadFrame = world.clock.frame + *loading.frames;
    // A movie already in memory is there at once, within the request's frame.
    movie.loaded = *loading.frames == 0;
    when = movie.loaded ? "loaded at once" : "loads in frame " + std::to_string(*movie.loadFrame);
  }
  world.Note("scaleform", MovieName(movie) + " requested; " + when);
  model.movies.push_back(std::move(movie));
  world.NoteWork();
  call.ReturnInt(model.movies.back().handle);
}

void HasScaleformMovieLoaded(World& world, CallFrame& call) {
  const ScaleformMovie* movie = world.scaleform.Find(call.Int(0));
  call.ReturnBool(movie != nullptr && movie->loaded && !movie->released);
}

void BeginScaleformMovieMethod(World& world, CallFrame& call) {
  ScaleformModel& model = world.scaleform;
  const std::int32_t handle = call.Int(0);
  const std::string method = call.Text(1);
  if (model.methodOpen) {
    world.Note("scaleform", "method " + model.pending.method + " was never ended: dropped");
  }
  model.methodOpen = false;
  model.stringOpen = false;
  const ScaleformMovie* movie = model.Find(handle);
  if (movie == nullptr) {
    world.Note("scaleform", "method " + method + " on movie handle " + std::to_string(handle) +
                                ", which the game never gave out: ignored");
    call.ReturnBool(false);
    return;
  }
  if (movie->released) {
    world.RaiseGameFault("scaleform", "BEGIN_SCALEFORM_MOVIE_METHOD(" + std::to_string(handle) +
                                          ", " + method + ") on " + MovieName(*movie) +
                                          " after it was released");
    call.ReturnBool(false);
    return;
  }
  if (!movie->loaded) {
    world.Note("scaleform", "method " + method + " on " + MovieName(*movie) +
                                (movie->evicted ? " after the game evicted it: ignored"
                                                : " before it has loaded: ignored"));
    call.ReturnBool(false);
    return;
  }
  model.methodOpen = true;
  model.methodMovie = handle;
  model.pending = ScaleformMethodCall{world.clock.frame, method, {}};
  call.ReturnBool(true);
}

void ScaleformMovieMethodAddParamInt(World& world, CallFrame& call) {
  ScaleformModel& model = world.scaleform;
  if (!model.methodOpen) {
    world.Note("scaleform", "integer parameter outside a method call: ignored");
    return;
  }
  ScaleformParam param;
  param.integer = call.Int(0);
  model.pending.params.push_back(param);
}

void BeginTextCommandScaleformString(World& world, CallFrame& call) {
  ScaleformModel& model = world.scaleform;
  if (!model.methodOpen) {
    world.Note("scaleform", "string parameter outside a method call: ignored");
    return;
  }
  if (model.stringOpen) world.Note("scaleform", "string parameter never ended: dropped");
  model.stringOpen = true;
  model.stringEntryNull = call.Raw(0) == 0;
  model.stringEntry = model.stringEntryNull ? std::string() : std::string(call.Text(0));
  model.stringComponents.clear();
}

// A label shows its text in the current language; a label the game lacks
// shows its own key, as the game prints unknown labels.
std::string LabelText(const World& world, const std::string& key) {
  const std::string* text = world.labels.Find(world.drawing.language, key);
  return text != nullptr ? *text : key;
}

void AddTextComponentSubstringTextLabel(World& world, CallFrame& call) {
  ScaleformModel& model = world.scaleform;
  if (!model.stringOpen) {
    world.Note("scaleform",
               std::string("text label ") + call.Text(0) + " outside a text command: ignored");
    return;
  }
  model.stringComponents.push_back(LabelText(world, call.Text(0)));
}

void EndTextCommandScaleformString(World& world, CallFrame& /*call*/) {
  ScaleformModel& model = world.scaleform;
  if (!model.stringOpen) {
    world.Note("scaleform", "end of a string parameter that was never begun: ignored");
    return;
  }
  model.stringOpen = false;
  ScaleformParam param;
  param.kind = ScaleformParam::Kind::String;
  param.nullEntry = model.stringEntryNull;
  if (model.stringEntryNull) {
    world.Note("scaleform", "string parameter begun with a null text entry: shown empty");
  } else if (model.stringEntry == "STRING") {
    // "STRING" is the entry that shows its components one after another.
    for (const std::string& component : model.stringComponents) param.text += component;
  } else if (!model.stringEntry.empty()) {
    param.text = LabelText(world, model.stringEntry);
  }
  model.pending.params.push_back(std::move(param));
}

void EndScaleformMovieMethod(World& world, CallFrame& /*call*/) {
  ScaleformModel& model = world.scaleform;
  if (!model.methodOpen) {
    world.Note("scaleform", "end of a method call that was never begun: ignored");
    return;
  }
  if (model.stringOpen) world.Note("scaleform", "string parameter never ended: dropped");
  model.methodOpen = false;
  model.stringOpen = false;
  ScaleformMovie* movie = model.Find(model.methodMovie);
  if (movie == nullptr) return;
  const ScaleformMethodCall& call = model.pending;
  if (call.method == "RESET_MOVIE") {
    movie->shardShown = false;
    movie->shardTitle.clear();
    movie->shardMessage.clear();
    movie->shardMethod.clear();
  } else if (std::string_view(call.method).starts_with("SHOW_SHARD_")) {
    // A shard shows its first string as the title and its second as the message.
    std::vector<std::string> strings;
    for (const ScaleformParam& p : call.params) {
      if (p.kind == ScaleformParam::Kind::String) strings.push_back(p.text);
    }
    movie->shardShown = true;
    movie->shardTitle = strings.size() > 0 ? strings[0] : std::string();
    movie->shardMessage = strings.size() > 1 ? strings[1] : std::string();
    movie->shardMethod = call.method;
  }
  world.Note("scaleform", MovieName(*movie) + ": " + Describe(call));
  if (movie->methods.size() < ScaleformMovie::kKeptMethods) movie->methods.push_back(call);
}

void DrawScaleformMovieFullscreen(World& world, CallFrame& call) {
  ScaleformModel& model = world.scaleform;
  const std::int32_t handle = call.Int(0);
  ScaleformMovie* movie = model.Find(handle);
  if (movie == nullptr) {
    // The game draws nothing for a handle it never gave out.
    if (model.notedUnknownDraws.insert(handle).second) {
      world.Note("scaleform", "full-screen draw of movie handle " + std::to_string(handle) +
                                  ", which the game never gave out: nothing drawn");
    }
    return;
  }
  if (movie->released) {
    world.RaiseGameFault("scaleform", "DRAW_SCALEFORM_MOVIE_FULLSCREEN(" + std::to_string(handle) +
                                          ") of " + MovieName(*movie) + " after it was released" +
                                          (movie->releasedFrame >= 0
                                               ? " in frame " + std::to_string(movie->releasedFrame)
                                               : std::string()));
    return;
  }
  if (!movie->loaded) {
    if (!movie->notedDrawBeforeLoad) {
      movie->notedDrawBeforeLoad = true;
      world.Note("scaleform", "full-screen draw of " + MovieName(*movie) +
                                  (movie->evicted ? " after the game evicted it: nothing drawn"
                                                  : " before it has loaded: nothing drawn"));
    }
    return;
  }
  if (world.drawing.keepFrames) {
    DrawItem item;
    item.kind = DrawKind::Movie;
    item.x = 0.5F;
    item.y = 0.5F;
    item.width = 1.0F;
    item.height = 1.0F;
    item.colour = Colour{call.Int(1), call.Int(2), call.Int(3), call.Int(4)};
    item.texture = movie->name;
    if (movie->shardShown) {
      item.text = movie->shardTitle;
      item.components = {movie->shardTitle, movie->shardMessage};
      item.entry = movie->shardMethod;
    }
    AddDrawItem(world, std::move(item));
  }
  if (movie->timesDrawn++ == 0) {
    movie->firstDrawnFrame = world.clock.frame;
    world.Note("scaleform",
               MovieName(*movie) + " drawn full-screen for the first time" +
                   (movie->shardShown ? ", showing the shard " + Quoted(movie->shardTitle)
                                      : std::string()));
  }
  movie->lastDrawnFrame = world.clock.frame;
}

// The handle travels by address; the game clears the caller's copy.
void SetScaleformMovieAsNoLongerNeeded(World& world, CallFrame& call) {
  ScaleformModel& model = world.scaleform;
  std::int32_t* handle = call.IntPtr(0);
  ScaleformMovie* movie = model.Find(*handle);
  if (movie == nullptr) {
    world.Note("scaleform", "release of movie handle " + std::to_string(*handle) +
                                ", which the game never gave out: ignored");
    return;
  }
  if (movie->released) {
    world.Note("scaleform", MovieName(*movie) + " released again: ignored");
  } else {
    movie->released = true;
    movie->releasedFrame = world.clock.frame;
    if (model.methodOpen && model.methodMovie == movie->handle) {
      model.methodOpen = false;
      model.stringOpen = false;
    }
    world.Note("scaleform", MovieName(*movie) + " released");
    model.ForgetReleased();
  }
  *handle = 0;
}

}  // namespace

void ScaleformModel::RegisterNatives(HandlerRegistry& registry) {
  registry.Add("REQUEST_SCALEFORM_MOVIE", RequestScaleformMovie);
  registry.Add("HAS_SCALEFORM_MOVIE_LOADED", HasScaleformMovieLoaded);
  registry.Add("BEGIN_SCALEFORM_MOVIE_METHOD", BeginScaleformMovieMethod);
  registry.Add("END_SCALEFORM_MOVIE_METHOD", EndScaleformMovieMethod);
  registry.Add("BEGIN_TEXT_COMMAND_SCALEFORM_STRING", BeginTextCommandScaleformString);
  registry.Add("ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL", AddTextComponentSubstringTextLabel);
  registry.Add("END_TEXT_COMMAND_SCALEFORM_STRING", EndTextCommandScaleformString);
  registry.Add("SCALEFORM_MOVIE_METHOD_ADD_PARAM_INT", ScaleformMovieMethodAddParamInt);
  registry.Add("DRAW_SCALEFORM_MOVIE_FULLSCREEN", DrawScaleformMovieFullscreen);
  registry.Add("SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED", SetScaleformMovieAsNoLongerNeeded);
}

bool ScaleformModel::ParseEvent(const ScenarioNode& event, EventList& out) {
  if (!event.Has("evictMovie")) return false;
  const std::int64_t frame = EventFrame(event);
  out.push_back(EvictMovieEvent(frame, event.Child("evictMovie").AsString()));
  return true;
}

}  // namespace sim
