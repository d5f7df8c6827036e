#include "sim/host/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "sim/game/world.h"

namespace sim {

namespace {

constexpr std::size_t kMaxScenarioBytes = std::size_t{16} << 20;

// The default run: the player dies in the street, taps the respawn control a
// few times while the bar fills, and comes back about 100 m away.
constexpr std::string_view kDefaultScenario = R"({
  "name": "death, a few taps and a respawn",
  "fps": 60,
  "frames": 720,
  "startGameTime": 100000,
  "player": { "health": 200, "maxHealth": 200, "position": [215.0, -810.0, 30.7], "heading": 90.0 },
  "world": {
    "spawnSearch": { "frames": 10, "outcome": "complete",
                     "results": [[290.0, -760.0, 29.5], [150.0, -880.0, 30.1], [230.0, -910.0, 30.4]] }
  },
  "events": [
    { "frame": 30, "key": { "code": 87, "scanCode": 17 } },
    { "frame": 34, "key": { "code": 87, "scanCode": 17, "wasDownBefore": 1, "isUp": 1 } },
    { "frame": 60, "health": 0 },
    { "from": 180, "to": 300, "tapEveryFrames": 15, "control": 223 }
  ]
})";

void ParseKeyEvent(const ScenarioNode& event, EventList& out) {
  const std::int64_t frame = EventFrame(event);
  const ScenarioNode key = event.Child("key");
  key.ExpectObject();
  const std::uint32_t args[7] = {
      static_cast<std::uint32_t>(key.Child("code").AsInt(0, UINT32_MAX)),
      static_cast<std::uint32_t>(key.Int("repeats", 1, 0, UINT16_MAX)),
      static_cast<std::uint32_t>(key.Int("scanCode", 0, 0, UINT8_MAX)),
      static_cast<std::uint32_t>(key.Int("extended", 0, INT32_MIN, INT32_MAX)),
      static_cast<std::uint32_t>(key.Int("alt", 0, INT32_MIN, INT32_MAX)),
      static_cast<std::uint32_t>(key.Int("wasDownBefore", 0, INT32_MIN, INT32_MAX)),
      static_cast<std::uint32_t>(key.Int("isUp", 0, INT32_MIN, INT32_MAX))};
  const auto atCall =
      static_cast<std::int32_t>(event.Int("atCall", kAtFrameStart, 0, kMaxCallsInFrame));
  out.push_back(KeyboardEvent(frame, args, atCall));
}

// A host event flag must say true: false would read as "do nothing".
void ExpectTrue(const ScenarioNode& event, const char* key) {
  const ScenarioNode node = event.Child(key);
  if (!node.AsBool()) node.Fail("expected true");
}

}  // namespace

ScheduledEvent KeyboardEvent(std::int64_t frame, const std::uint32_t (&args)[7],
                             std::int32_t atCall) {
  ScheduledEvent e;
  e.frame = frame;
  e.kind = EventKind::Keyboard;
  for (int i = 0; i < 7; ++i) e.keyArgs[i] = args[i];
  e.atCall = atCall;
  e.description = "key " + std::to_string(args[0]) + (args[6] != 0 ? " up" : " down");
  if (atCall != kAtFrameStart) e.description += " at native call " + std::to_string(atCall);
  return e;
}

namespace {

// An event that the host itself carries out, with nothing but its frame.
ScheduledEvent HostEvent(std::int64_t frame, EventKind kind, const char* description) {
  ScheduledEvent e;
  e.frame = frame;
  e.kind = kind;
  e.description = description;
  return e;
}

}  // namespace

ScheduledEvent RestartScriptEvent(std::int64_t frame) {
  return HostEvent(frame, EventKind::RestartScript, "the host restarts the script");
}

ScheduledEvent UnloadEvent(std::int64_t frame) {
  return HostEvent(frame, EventKind::Unload, "the host unloads the plug-in");
}

std::string_view Scenario::DefaultText() { return kDefaultScenario; }

Scenario Scenario::Parse(const std::string& fileName, std::string_view text) {
  Scenario s;
  s.fileName = fileName;
  s.document = ScenarioDocument::Parse(fileName, text);
  const ScenarioNode root = ScenarioNode::Root(s.document);
  root.ExpectObject();
  // Where an editor finds the schema of the file; nothing to the run.
  if (auto schema = root.Optional("$schema")) schema->AsString();
  s.name = root.String("name", s.name);
  s.fps = static_cast<std::int32_t>(root.Int("fps", s.fps, 1, 1000));
  s.frames = root.Int("frames", s.frames, 0, kMaxFrames);
  s.startGameTime = root.Int("startGameTime", s.startGameTime, 0, UINT32_MAX);
  s.startFrameCount =
      static_cast<std::int32_t>(root.Int("startFrameCount", s.startFrameCount, 0, INT32_MAX));

  if (auto events = root.Optional("events")) {
    for (const ScenarioNode& event : events->Items()) {
      event.ExpectObject();
      if (event.Has("key")) {
        ParseKeyEvent(event, s.events);
      } else if (event.Has("restartScript")) {
        ExpectTrue(event, "restartScript");
        s.events.push_back(RestartScriptEvent(EventFrame(event)));
      } else if (event.Has("unload")) {
        ExpectTrue(event, "unload");
        s.events.push_back(UnloadEvent(EventFrame(event)));
      } else if (!World::ParseEvent(event, s.events)) {
        const auto keys = event.Keys();
        std::string kinds;
        for (const auto& k : keys) kinds += (kinds.empty() ? "" : ", ") + k;
        event.Fail("unknown kind of event (fields: " + kinds + ")");
      }
    }
  }
  if (auto world = root.Optional("world")) world->ExpectObject();
  if (auto answers = root.Optional("answers")) {
    s.answers = ParseAnswers(*answers, s.catalogueAnswers);
  }
  if (auto expect = root.Optional("expect")) s.expectations = ParseExpectedCalls(*expect);
  s.services = ServiceSettings::Parse(root);

  // Every area reads its settings now, so that a mistake in them stops the
  // run before it starts, and anything left unread is a typo.
  World check;
  check.Configure(root);
  s.document->RejectUnknownFields();

  std::stable_sort(
      s.events.begin(), s.events.end(),
      [](const ScheduledEvent& a, const ScheduledEvent& b) { return a.frame < b.frame; });
  return s;
}

Scenario Scenario::Load(const std::string& path) {
  const auto refuse = [&path](const char* what, int error) {
    throw ScenarioError(path + ": " + what + ": " + std::generic_category().message(error));
  };
  // Opening a directory succeeds on some systems and fails on others; the
  // reason is the same everywhere.
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    refuse("cannot read the scenario file", static_cast<int>(std::errc::is_a_directory));
  }
  errno = 0;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
  if (!file) refuse("cannot open the scenario file", errno);
  // A scenario is a few kilobytes; a device or a pipe that never ends is not one.
  std::string text;
  char buffer[8192];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    text.append(buffer, got);
    if (text.size() > kMaxScenarioBytes) {
      throw ScenarioError(path + ": the scenario file is larger than " +
                          std::to_string(kMaxScenarioBytes >> 20) + " MiB");
    }
  }
  if (std::ferror(file.get())) refuse("cannot read the scenario file", errno);
  return Parse(path, text);
}

Scenario Scenario::Default() { return Parse(std::string(kDefaultFileName), kDefaultScenario); }

}  // namespace sim
