// The scenario scenario-from writes: the fit's settings and events as a
// scenario file, with taps that repeat merged into spans, settings indented
// one member to a line and each event on a line of its own, as people read
// and edit it.
#include <algorithm>
#include <string>

#include "sim/replay/scenario_fitter.h"

namespace sim::fit {

namespace {

// Taps the fit made one by one, written as spans where they repeat: a fresh
// press in each of consecutive frames as one span of every frame, and taps
// at an even spacing (three or more) as one span of that spacing. Each span
// stands at its first frame.
void MergeTaps(std::map<std::int64_t, std::vector<Json>>& byFrame) {
  struct Tap {
    std::int64_t frame;
    bool again;
  };
  // By pad and control, in frame order.
  std::map<std::pair<std::int64_t, std::int64_t>, std::vector<Tap>> taps;
  for (auto& [frame, events] : byFrame) {
    std::vector<Json> kept;
    for (Json& event : events) {
      const std::int64_t pad = event.contains("pad") ? event["pad"].get<std::int64_t>() : 0;
      if (event.contains("tap") && !event.contains("frames")) {
        taps[{pad, event["tap"].get<std::int64_t>()}].push_back(Tap{frame, false});
      } else if (event.contains("tapEveryFrames") && event["from"] == event["to"]) {
        taps[{pad, event["control"].get<std::int64_t>()}].push_back(Tap{frame, true});
      } else {
        kept.push_back(std::move(event));
      }
    }
    events = std::move(kept);
  }
  for (const auto& [key, list] : taps) {
    const auto [pad, control] = key;
    for (std::size_t i = 0; i < list.size();) {
      // The longest run from i of one kind at one spacing.
      std::size_t j = i + 1;
      const std::int64_t every = j < list.size() ? list[j].frame - list[i].frame : 0;
      while (j < list.size() && list[j].again == list[i].again &&
             list[j].frame - list[j - 1].frame == every && (!list[i].again || every == 1)) {
        ++j;
      }
      const std::size_t length = j - i;
      Json event;
      if (list[i].again) {
        const std::size_t n = every == 1 ? length : 1;
        event = Json{{"from", list[i].frame},
                     {"to", list[i + n - 1].frame},
                     {"tapEveryFrames", 1},
                     {"control", control}};
        j = i + n;
      } else if (length >= 3) {
        event = Json{{"from", list[i].frame},
                     {"to", list[j - 1].frame},
                     {"tapEveryFrames", every},
                     {"control", control}};
      } else {
        event = Json{{"frame", list[i].frame}, {"tap", control}};
        j = i + 1;
      }
      if (pad != 0) event["pad"] = pad;
      byFrame[list[i].frame].push_back(std::move(event));
      i = j;
    }
  }
}

Json LabelsJson(const LabelTable& table) {
  Json out = Json::object();
  for (const auto& [key, text] : table) out[key] = text;
  return out;
}

// The scenario's clock: its rate, length and where its timer and frame count
// start.
Json ClockJson(const RecordingOutline& outline) {
  Json doc;
  doc["fps"] = outline.fps;
  doc["frames"] = outline.frames;
  doc["startGameTime"] = std::min<std::int64_t>(outline.startGameTime, UINT32_MAX);
  if (outline.startFrameCount != 0) doc["startFrameCount"] = outline.startFrameCount;
  return doc;
}

Json PlayerJson(const Settings& s) {
  Json player = Json::object();
  if (s.pedHandle) player["pedHandle"] = *s.pedHandle;
  if (s.playerId) player["playerId"] = *s.playerId;
  if (s.health) player["health"] = *s.health;
  if (s.maxHealth) player["maxHealth"] = *s.maxHealth;
  if (s.position) player["position"] = Point(*s.position);
  return player;
}

// The spawn search's and road nodes' settings into `world`.
void AddSpawnSettings(const Settings& s, Json& world) {
  if (s.searchFrames || s.searchOutcome || s.searchResults) {
    Json search = Json::object();
    if (s.searchFrames) search["frames"] = *s.searchFrames;
    if (s.searchOutcome) search["outcome"] = SearchOutcomeName(*s.searchOutcome);
    if (s.searchResults) {
      Json points = Json::array();
      for (const Vec3& p : *s.searchResults) points.push_back(Point(p));
      search["results"] = points;
    }
    if (s.searchResultCount) search["resultCount"] = *s.searchResultCount;
    world["spawnSearch"] = search;
  }
  if (!s.roadNodes.empty()) {
    Json nodes = Json::array();
    for (const RoadNode& n : s.roadNodes) {
      nodes.push_back(Json{
          {"position", Point(n.position)}, {"heading", Number(n.heading)}, {"lanes", n.lanes}});
    }
    world["roadNodes"] = nodes;
  }
}

// Movies' and texture dictionaries' settings into `world`.
void AddStreamingSettings(const Settings& s, Json& world) {
  if (!s.movieLoadFrames.empty() || s.failRequests) {
    Json scaleform = Json::object();
    for (const auto& [movie, frames] : s.movieLoadFrames) {
      scaleform[movie] = Json{{"loadFrames", frames ? Json(*frames) : Json("never")}};
    }
    if (s.failRequests) {
      scaleform["failRequests"] = *s.failRequests;
      scaleform["failHandle"] = s.failHandle;
    }
    world["scaleform"] = scaleform;
  }
  if (!s.texturesLoaded.empty() || !s.textureLoadFrames.empty() || !s.texturesNever.empty()) {
    Json textures = Json::object();
    if (!s.textureLoadFrames.empty()) {
      Json per = Json::object();
      for (const auto& [dictionary, frames] : s.textureLoadFrames) per[dictionary] = frames;
      textures["perDictionary"] = per;
    }
    if (!s.texturesNever.empty()) textures["never"] = s.texturesNever;
    if (!s.texturesLoaded.empty()) textures["loaded"] = s.texturesLoaded;
    world["textures"] = textures;
  }
}

// Labels, language and the screen's settings into `world`.
void AddScreenSettings(const Settings& s, Json& world) {
  if (s.labels) world["labels"] = LabelsJson(*s.labels);
  if (!s.labelsByLanguage.empty()) {
    Json tables = Json::object();
    for (const auto& [language, table] : s.labelsByLanguage) {
      tables[std::to_string(language)] = LabelsJson(table);
    }
    world["labelsByLanguage"] = tables;
  }
  if (s.language) world["language"] = *s.language;
  if (s.busySpinner) world["busySpinner"] = *s.busySpinner;
  if (!s.hudColours.empty()) {
    Json colours = Json::object();
    for (const auto& [index, c] : s.hudColours) {
      colours[std::to_string(index)] = Json::array({c.red, c.green, c.blue, c.alpha});
    }
    world["hudColours"] = colours;
  }
  if (s.nullOrEmptyTextAnswer) world["nullOrEmptyTextAnswer"] = *s.nullOrEmptyTextAnswer;
}

Json WorldJson(const Settings& s) {
  Json world = Json::object();
  AddSpawnSettings(s, world);
  AddStreamingSettings(s, world);
  AddScreenSettings(s, world);
  return world;
}

// A recorded keyboard message, restart or unload as a scenario event.
Json HostEventJson(const RecordedHostEvent& e) {
  Json event = Json{{"frame", e.frame}};
  switch (e.kind) {
    case RecordedHostEvent::Kind::Key: {
      static const char* const kNames[7] = {"code", "repeats",       "scanCode", "extended",
                                            "alt",  "wasDownBefore", "isUp"};
      static const std::int64_t kDefaults[7] = {-1, 1, 0, 0, 0, 0, 0};
      Json key = Json::object();
      for (std::size_t i = 0; i < 7; ++i) {
        const auto value = static_cast<std::int64_t>(
            i >= 3 ? static_cast<std::int64_t>(static_cast<std::int32_t>(e.key.args[i]))
                   : static_cast<std::int64_t>(e.key.args[i]));
        if (value != kDefaults[i]) key[kNames[i]] = value;
      }
      event["key"] = key;
      if (e.key.atCall != kAtFrameStart) event["atCall"] = e.key.atCall;
      break;
    }
    case RecordedHostEvent::Kind::Restart:
      event["restartScript"] = true;
      break;
    case RecordedHostEvent::Kind::Unload:
      event["unload"] = true;
      break;
  }
  return event;
}

// A value on one line, a space after each comma and colon.
std::string Inline(const Json& value) {
  if (value.is_object()) {
    std::string out = "{";
    for (const auto& [key, member] : value.items()) {
      if (out.size() > 1) out += ", ";
      out += Json(key).dump() + ": " + Inline(member);
    }
    return out + "}";
  }
  if (value.is_array()) {
    std::string out = "[";
    for (const Json& item : value) out += (out.size() > 1 ? ", " : "") + Inline(item);
    return out + "]";
  }
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Writes `value` as people read a scenario: objects one member to a line,
// short arrays (a point, a colour, a list of names) and each event on one.
void WriteReadable(std::string& out, const Json& value, int indent) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  if (value.is_object() && !value.empty()) {
    out += "{";
    bool first = true;
    for (const auto& [key, member] : value.items()) {
      out += (first ? "\n" : ",\n") + pad + "  " + Json(key).dump() + ": ";
      first = false;
      WriteReadable(out, member, indent + 2);
    }
    out += "\n" + pad + "}";
    return;
  }
  constexpr std::size_t kShortLine = 60;
  if (value.is_array() && !value.empty()) {
    bool flat = true;
    for (const Json& item : value) flat = flat && !item.is_object();
    if (flat && Inline(value).size() <= kShortLine) {
      out += Inline(value);
      return;
    }
    out += "[";
    for (std::size_t i = 0; i < value.size(); ++i) {
      out += (i > 0 ? ",\n" : "\n") + pad + "  ";
      if (value[i].is_object()) {
        out += Inline(value[i]);
      } else {
        WriteReadable(out, value[i], indent + 2);
      }
    }
    out += "\n" + pad + "]";
    return;
  }
  out += Inline(value);
}

}  // namespace

Json Fitter::Document(const std::string& name) const {
  Json doc;
  doc["name"] = name;
  doc.update(ClockJson(outline_));
  const Json player = PlayerJson(settings_);
  if (!player.empty()) doc["player"] = player;
  const Json world = WorldJson(settings_);
  if (!world.empty()) doc["world"] = world;
  const Json events = EventsJson();
  if (!events.empty()) doc["events"] = events;
  return doc;
}

// Each frame's events in the order the fit applied them: the hitch, the
// host's events as recorded, then the fitted ones.
Json Fitter::EventsJson() const {
  std::map<std::int64_t, std::vector<Json>> byFrame;
  for (const auto& [frame, ms] : outline_.hitches) {
    byFrame[frame].push_back(Json{{"frame", frame}, {"hitchMs", ms}});
  }
  for (const RecordedHostEvent& e : outline_.hostEvents)
    byFrame[e.frame].push_back(HostEventJson(e));
  for (const auto& [frame, events] : fixEvents_) {
    for (const Json& event : events) byFrame[frame].push_back(event);
  }
  MergeTaps(byFrame);
  Json events = Json::array();
  for (const auto& [frame, list] : byFrame) {
    for (const Json& event : list) events.push_back(event);
  }
  return events;
}

// The outline's timing and host events alone, as a scenario: the fit's
// starting point.
Scenario BaseScenario(const RecordingOutline& outline) {
  Json doc = ClockJson(outline);
  Json events = Json::array();
  for (const auto& [frame, ms] : outline.hitches) {
    events.push_back(Json{{"frame", frame}, {"hitchMs", ms}});
  }
  for (const RecordedHostEvent& e : outline.hostEvents) {
    if (e.kind == RecordedHostEvent::Kind::Restart) {
      events.push_back(Json{{"frame", e.frame}, {"restartScript", true}});
    } else if (e.kind == RecordedHostEvent::Kind::Unload) {
      events.push_back(Json{{"frame", e.frame}, {"unload", true}});
    }
  }
  doc["events"] = events;
  return Scenario::Parse("(the recording's timing)", doc.dump());
}

// The scenario's text: settings indented, one event to a line.
std::string WriteScenario(const Json& doc) {
  std::string out;
  WriteReadable(out, doc, 0);
  return out + "\n";
}

}  // namespace sim::fit
