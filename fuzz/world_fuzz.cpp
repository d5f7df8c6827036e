// Runs the plug-in, linked in, inside the simulator in a world the input bytes
// make up: the frame rate and the game timer (near its wrap or anywhere),
// deaths, kills, heals and injuries at any frame, taps and holds, fades the
// game starts, languages, the busy spinner, keyboard messages with any key
// code from the other thread, movies and texture dictionaries that load late
// or never, any outcome and duration of the spawn search, result counts that
// disagree with the results, positions that are NaN, infinite or huge, no road
// node, labels that are missing, empty, long or multi-byte, and the seed of
// the plug-in's random draws. After every frame it checks:
//   - the host accepted every call (the simulator raised no fault);
//   - the panel lists at most one bar;
//   - the flow moves only along the transitions of its table, one a frame;
//   - every spawn search is cancelled before the search returns;
//   - no result index outside 0..n-1 of the count the game gave is asked for.
// A broken invariant prints what broke, at which frame, and aborts.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/held_stacks.h"
#include "fuzz/world_fuzz_bytes.h"
#include "sim/base/seed.h"
#include "sim/host/simulation.h"
#include "src/host/library_entry.h"
#include "src/host/process_state.h"
#include "src/hud/panel.h"
#include "src/respawn/death_flow.h"
#include "src/spawn/random_detail.h"

namespace {

using nlohmann::json;
using rebound::DeathFlowState;
using rebound::fuzz::Bytes;

constexpr std::int64_t kMaxFrames = 3000;
constexpr std::size_t kScriptStack = 64 * 1024;  // four times the deepest seen

// Positions the world may hand the plug-in beyond what a scenario file can
// hold: not a number, infinities, the largest floats, the smallest.
float SpecialFloat(Bytes& in, float ordinary) {
  switch (in.Byte() % 10) {
    case 7:
      return std::numeric_limits<float>::quiet_NaN();
    case 1:
      return std::numeric_limits<float>::infinity();
    case 2:
      return -std::numeric_limits<float>::infinity();
    case 3:
      return std::numeric_limits<float>::max();
    case 4:
      return -std::numeric_limits<float>::max();
    case 5:
      return std::numeric_limits<float>::denorm_min();
    case 6:
      return 1.0e30F;
    default:
      return ordinary;
  }
}

json Position(Bytes& in) {
  return json::array({static_cast<double>(in.Range(-4000, 4000)) + 0.5,
                      static_cast<double>(in.Range(-4000, 4000)) - 0.25,
                      static_cast<double>(in.Range(-300, 1000))});
}

std::string Label(Bytes& in) {
  switch (in.Byte() % 5) {
    case 4:
      return "";
    case 1:
      return std::string(static_cast<std::size_t>(in.Range(100, 600)), 'W');
    case 2:
      // Two-, three- and four-byte UTF-8 sequences, cut anywhere by the game's
      // own limits.
      return "R\xC3\xA9"
             "apparition \xE2\x98\xA0 \xF0\x9F\x92\x80 \xE5\x86\x8D\xE7\x94\x9F";
    case 3: {
      std::string s;
      const auto n = static_cast<std::size_t>(in.Range(1, 40));
      for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(0x20 + in.Byte() % 0x5F);
      return s;
    }
    default:
      return "Respawn";
  }
}

std::int32_t Fps(Bytes& in) {
  static constexpr std::int32_t kFps[] = {60, 30, 144, 1, 7, 1000, 59, 240};
  return in.Bool() ? kFps[in.Byte() % 8] : static_cast<std::int32_t>(in.Range(1, 1000));
}

std::int64_t StartGameTime(Bytes& in) {
  switch (in.Byte() % 4) {
    case 1:  // a few seconds before the signed timer wraps
      return 2147483647 - in.Range(0, 20000);
    case 2:  // ... or the unsigned one
      return 4294967295 - in.Range(0, 20000);
    case 3:
      return static_cast<std::int64_t>(in.U32());
    default:
      return 100000;
  }
}

// A count of results that may disagree with the results the game holds.
void AddResultCount(Bytes& in, json& search, std::int64_t resultCount) {
  switch (in.Byte() % 8) {
    case 7:
      search["resultCount"] = -1;
      break;
    case 1:
      search["resultCount"] = std::numeric_limits<std::int32_t>::min();
      break;
    case 2:
      search["resultCount"] = 0;
      break;
    case 3:
      search["resultCount"] = resultCount + in.Range(1, 3);
      break;
    case 4:
      search["resultCount"] = std::numeric_limits<std::int32_t>::max();
      break;
    default:
      break;
  }
}

json SpawnSearch(Bytes& in) {
  static constexpr const char* kOutcomes[] = {"complete", "failed", "inactive", "never"};
  json search = {{"frames", in.Bool() ? in.Range(0, 40) : in.Range(0, 1000000)},
                 {"outcome", kOutcomes[in.Byte() % 4]}};
  const auto resultCount = in.Range(0, 4);
  if (resultCount > 0 || in.Bool()) {
    json results = json::array();
    for (std::int64_t i = 0; i < resultCount; ++i) results.push_back(Position(in));
    search["results"] = results;
  }
  AddResultCount(in, search, resultCount);
  return search;
}

json RoadNodes(Bytes& in) {
  json nodes = json::array();
  for (std::int64_t i = in.Range(0, 3); i > 0; --i) {
    nodes.push_back({{"position", Position(in)}, {"heading", in.Range(-720, 720)}});
  }
  return nodes;
}

json Scaleform(Bytes& in) {
  json scaleform = json::object();
  const auto loadFrames = [&in]() -> json {
    if (in.Byte() % 5 == 4) return "never";
    return in.Bool() ? in.Range(0, 10) : in.Range(0, 400);
  };
  scaleform["loadFrames"] = loadFrames();
  if (in.Bool()) scaleform["MP_BIG_MESSAGE_FREEMODE"] = {{"loadFrames", loadFrames()}};
  return scaleform;
}

json Textures(Bytes& in) {
  json textures = {{"loadFrames", in.Range(0, 300)}};
  json never = json::array();
  if (in.Byte() % 4 == 3) never.push_back("timerbars");
  if (in.Byte() % 4 == 3) never.push_back("commonmenu");
  textures["never"] = never;
  return textures;
}

void AddLabels(Bytes& in, json& world) {
  json labels = json::object();
  for (const char* key : {"KS_RESPAWN_B", "RESPAWN_W"}) {
    if (in.Byte() % 4 != 3) labels[key] = Label(in);  // left out: a null text
  }
  world["labels"] = labels;
  if (in.Bool()) {
    json byLanguage = json::object();
    byLanguage[std::to_string(in.Range(0, 12))] = {{"KS_RESPAWN_B", Label(in)}};
    world["labelsByLanguage"] = byLanguage;
  }
}

// The scenario's "world": the search, road nodes, movies, textures, labels.
json WorldJson(Bytes& in) {
  json world = json::object();
  world["spawnSearch"] = SpawnSearch(in);
  world["roadNodes"] = RoadNodes(in);
  world["scaleform"] = Scaleform(in);
  world["textures"] = Textures(in);
  AddLabels(in, world);
  world["language"] = in.Range(0, 12);
  world["busySpinner"] = in.Bool();
  // The first movie requests may fail outright, as a game short of memory
  // answers them; and the shard's text test may answer one way whatever it is
  // asked, so that its other branch runs.
  if (in.Byte() % 4 == 3) {
    world["scaleform"]["failRequests"] = in.Range(1, 3);
    world["scaleform"]["failHandle"] = in.Bool() ? -1 : 0;
  }
  if (const auto answer = in.Byte() % 3; answer != 0) world["nullOrEmptyTextAnswer"] = answer - 1;
  return world;
}

// Events 0 to 7 of an event's kind: the player's health, taps and holds.
void AddPlayerEvent(Bytes& in, int kind, std::int64_t frame, json& e) {
  switch (kind) {
    case 0:
    case 1: {
      static constexpr std::int64_t kDeath[] = {0, 0, -1, -100, -2147483648LL};
      e["health"] = kDeath[in.Byte() % 5];
      break;
    }
    case 2:
      e["heal"] = true;
      break;
    case 3:
      e["injure"] = true;
      break;
    case 4: {
      static constexpr std::int64_t kAlive[] = {1, 50, 200, 2147483647};
      e["health"] = kAlive[in.Byte() % 4];
      break;
    }
    case 5:
      e["tap"] = in.Byte() % 4 != 3 ? 223 : in.Range(0, 1000);
      break;
    case 6:
      e["hold"] = in.Byte() % 4 != 3 ? 223 : in.Range(0, 1000);
      e["frames"] = in.Range(1, 300);
      break;
    default: {  // 7
      e.erase("frame");
      const std::int64_t from = frame;
      e["from"] = from;
      e["to"] = from + in.Range(0, 600);
      e["tapEveryFrames"] = in.Range(2, 12);
      e["control"] = 223;
      break;
    }
  }
}

json KeyMessage(Bytes& in) {
  return {{"code", in.U32()},
          {"repeats", in.Range(0, 65535)},
          {"scanCode", in.Range(0, 255)},
          {"extended", in.Range(0, 1)},
          {"alt", in.Range(0, 1)},
          {"wasDownBefore", in.Range(0, 1)},
          {"isUp", in.Range(0, 1)}};
}

// Events 8 to 19 of an event's kind: the game's and the host's doings.
void AddWorldOrHostEvent(Bytes& in, int kind, std::int64_t frame, json& e) {
  switch (kind) {
    case 8:
      e[in.Bool() ? "fadeOut" : "fadeIn"] = in.Bool() ? in.Range(0, 3000) : in.Range(0, 2147483647);
      break;
    case 9:
      e["language"] = in.Range(0, 12);
      break;
    case 10:
      e["busySpinner"] = in.Bool();
      break;
    case 11:
      if (in.Bool()) e["atCall"] = in.Range(0, 40);  // from the other thread, mid-frame
      e["key"] = KeyMessage(in);
      break;
    case 13:
    case 14:
      // The host drops the script wherever it stands and starts it again.
      e["restartScript"] = true;
      break;
    case 15:
      // Rarely: the host unloads the plug-in, which ends the run.
      e[in.Byte() % 4 == 3 ? "unload" : "restartScript"] = true;
      break;
    case 16:
      // The game stalls: this frame comes long after the one before.
      e["hitchMs"] = in.Bool() ? in.Range(0, 3000) : in.Range(0, 2147483647);
      break;
    case 17:
      // A character switch: a handle the plug-in kept goes stale.
      e["switchCharacter"] = {{"pedHandle", in.Range(-2, 1000)}, {"playerId", in.Range(-2, 40)}};
      break;
    case 18:
      e["evictMovie"] = in.Byte() % 4 != 3 ? "MP_BIG_MESSAGE_FREEMODE" : "SOME_OTHER_MOVIE";
      break;
    case 19:
      // A fresh press in every frame for a while.
      e.erase("frame");
      e["from"] = frame;
      e["to"] = frame + in.Range(0, 300);
      e["tapEveryFrames"] = 1;
      e["control"] = 223;
      break;
    default:  // 12
      e["position"] = Position(in);
      break;
  }
}

json Events(Bytes& in, std::int64_t frames) {
  json events = json::array();
  for (std::int64_t n = in.Range(0, 24); n > 0 && !in.Empty(); --n) {
    // Early frames more often: most inputs stop long before their last frame.
    const std::int64_t frame =
        in.Bool() ? in.Range(0, std::min<std::int64_t>(frames - 1, 200)) : in.Range(0, frames - 1);
    json e = {{"frame", frame}};
    const int kind = in.Byte() % 20;
    if (kind < 8) {
      AddPlayerEvent(in, kind, frame, e);
    } else {
      AddWorldOrHostEvent(in, kind, frame, e);
    }
    events.push_back(e);
  }
  return events;
}

// The scenario file's part of the world.
json ScenarioJson(Bytes& in, std::int64_t frames) {
  const std::int32_t fps = Fps(in);
  const std::int64_t start = StartGameTime(in);
  static constexpr std::int64_t kHealth[] = {200, 1, 0, -1, 100, 2147483647};
  json scenario = {{"name", "world fuzz"},
                   {"fps", fps},
                   {"frames", frames},
                   {"startGameTime", start},
                   {"player", {{"health", kHealth[in.Byte() % 6]}, {"position", Position(in)}}}};
  scenario["world"] = WorldJson(in);
  scenario["events"] = Events(in, frames);
  return scenario;
}

// What the scenario file cannot hold: non-finite and huge positions.
void PatchWorld(Bytes& in, sim::World& world) {
  const auto patch = [&in](sim::Vec3& v) {
    v.x = SpecialFloat(in, v.x);
    v.y = SpecialFloat(in, v.y);
    v.z = SpecialFloat(in, v.z);
  };
  if (world.spawn.configuredResults) {
    for (sim::Vec3& v : *world.spawn.configuredResults) patch(v);
  }
  for (sim::RoadNode& node : world.spawn.roadNodes) {
    patch(node.position);
    node.heading = SpecialFloat(in, node.heading);
  }
  if (in.Byte() % 8 == 7) patch(world.player.position);
}

[[noreturn]] void Broken(const sim::Simulation& simulation, const std::string& what) {
  std::fprintf(stderr, "world_fuzz: frame %lld (game time %d): %s\n",
               static_cast<long long>(simulation.GetWorld().clock.frame),
               simulation.GetWorld().clock.gameTimer, what.c_str());
  std::abort();
}

const char* StateName(DeathFlowState state) {
  switch (state) {
    case DeathFlowState::Watching:
      return "Watching";
    case DeathFlowState::DeathPause:
      return "DeathPause";
    case DeathFlowState::ShardDelay:
      return "ShardDelay";
    case DeathFlowState::BarFilling:
      return "BarFilling";
    case DeathFlowState::Respawning:
      return "Respawning";
  }
  return "(not a state)";
}

DeathFlowState Next(DeathFlowState state) {
  switch (state) {
    case DeathFlowState::Watching:
      return DeathFlowState::DeathPause;
    case DeathFlowState::DeathPause:
      return DeathFlowState::ShardDelay;
    case DeathFlowState::ShardDelay:
      return DeathFlowState::BarFilling;
    case DeathFlowState::BarFilling:
      return DeathFlowState::Respawning;
    case DeathFlowState::Respawning:
      return DeathFlowState::Watching;
  }
  return state;
}

// A fault the simulator raised for a result index: the plug-in's fault when
// the index lies outside 0..n-1 of the count the game gave it, the world's
// own inconsistency (a count larger than its list) otherwise.
bool IsWorldsMiscount(const sim::Simulation& simulation, const std::string& fault) {
  const std::string marker = "SPAWNPOINTS_GET_SEARCH_RESULT(";
  const std::size_t at = fault.find(marker);
  if (at == std::string::npos || fault.find("index out of range") == std::string::npos) {
    return false;
  }
  const long long index = std::strtoll(fault.c_str() + at + marker.size(), nullptr, 10);
  const auto& spawn = simulation.GetWorld().spawn;
  const std::int32_t count = spawn.reportedCount.value_or(
      static_cast<std::int32_t>(spawn.configuredResults ? spawn.configuredResults->size() : 1));
  if (index < 0 || index >= count) {
    Broken(simulation, "the plug-in asked for search result " + std::to_string(index) +
                           ", outside 0.." + std::to_string(count - 1) +
                           " of the count the game gave: " + fault);
  }
  return count > 0 && static_cast<std::size_t>(count) > spawn.results.size();
}

// Whether the host restarts the script (or unloads the plug-in) in the frame;
// any frame for -1.
bool RestartDueAt(const sim::Scenario& scenario, std::int64_t frame) {
  for (const sim::ScheduledEvent& e : scenario.events) {
    if ((frame < 0 || e.frame == frame) &&
        (e.kind == sim::EventKind::RestartScript || e.kind == sim::EventKind::Unload)) {
      return true;
    }
  }
  return false;
}

// Frames run over the whole process, for the fuzzing summary.
std::uint64_t framesRun = 0;
std::uint64_t inputsRun = 0;

void WriteFrameCount() {
  if (const char* path = std::getenv("REBOUND_FUZZ_FRAMES_FILE")) {
    if (std::FILE* f = std::fopen(path, "w")) {
      std::fprintf(f, "%llu frames %llu inputs\n", static_cast<unsigned long long>(framesRun),
                   static_cast<unsigned long long>(inputsRun));
      std::fclose(f);
    }
  }
}

// The scenario the bytes make, parsed as a scenario file is.
sim::Scenario MadeScenario(const json& scenarioJson) {
  sim::Scenario scenario;
  try {
    scenario = sim::Scenario::Parse("world-fuzz.json", scenarioJson.dump());
  } catch (const sim::ScenarioError& e) {
    // The world is made to be valid: a refusal is a fault of this program.
    std::fprintf(stderr, "world_fuzz: the scenario made was refused: %s\n%s\n", e.what(),
                 scenarioJson.dump().c_str());
    std::abort();
  }
  if (std::getenv("REBOUND_WORLD_FUZZ_SHOW") != nullptr) {
    // Shown before the run, which may end in an abort that flushes nothing.
    std::printf("%s\n", scenarioJson.dump(1).c_str());
    std::fflush(stdout);
  }
  return scenario;
}

// The flow moves one step of its table a frame, starts the respawn with a
// full bar and comes back to Watching with its load values.
void CheckFlow(const sim::Simulation& simulation, DeathFlowState before, DeathFlowState now) {
  const rebound::DeathFlow& flow = rebound::deathFlow;
  if (now != before) {
    if (now != Next(before)) {
      Broken(simulation,
             std::string("the flow went from ") + StateName(before) + " to " + StateName(now));
    }
    if (now == DeathFlowState::Respawning &&
        (flow.respawnProgress <= 100 || flow.respawnProgress > 105)) {
      Broken(simulation, "the flow started the respawn with " +
                             std::to_string(flow.respawnProgress) + " points, not 101..105");
    }
    if (now == DeathFlowState::Watching &&
        (flow.movieHandle != -1 || flow.respawnBar || !rebound::hudBarPanel.bars.empty() ||
         flow.respawnProgress != 0 || flow.shardHidden)) {
      Broken(simulation, "the flow is back to Watching without its load values");
    }
  }
  if (now != DeathFlowState::Watching && now != DeathFlowState::DeathPause &&
      now != DeathFlowState::ShardDelay && now != DeathFlowState::BarFilling &&
      now != DeathFlowState::Respawning) {
    Broken(simulation, "the flow's state is " + std::to_string(static_cast<int>(now)));
  }
}

// A search is held only inside the search: from its start to its cancel,
// which comes before the game is paused for the revival and before the flow
// leaves Respawning. It is never dropped by a new start, unless the host
// dropped the script inside the search, which then never got to cancel it.
void CheckSearch(const sim::Simulation& simulation, DeathFlowState now, bool searchHeld,
                 std::int32_t droppedBefore) {
  const sim::World& world = simulation.GetWorld();
  const sim::SpawnModel& spawn = world.spawn;
  if (spawn.state != sim::SearchState::None &&
      (now != DeathFlowState::Respawning || world.state.gamePaused)) {
    Broken(simulation, std::string("a spawn search outlived the search, in ") + StateName(now) +
                           (world.state.gamePaused ? ", game paused" : ""));
  }
  if (spawn.searchesDropped != droppedBefore &&
      !(searchHeld && RestartDueAt(simulation.GetScenario(), world.clock.frame))) {
    Broken(simulation, "a spawn search was started while another was held");
  }
}

// Runs the frames, checking every invariant after each. True when the run
// stopped at a fault (the world's own miscount; any other fault aborts).
bool RunCheckedFrames(sim::Simulation& simulation, std::int64_t frames) {
  const sim::World& world = simulation.GetWorld();
  DeathFlowState before = rebound::deathFlow.state;
  std::int32_t droppedBefore = 0;
  while (simulation.FramesRun() < frames && !simulation.Ended()) {
    const bool searchHeld = world.spawn.state != sim::SearchState::None;
    simulation.RunFrames(1);
    ++framesRun;
    if (simulation.Faulted()) {
      const std::string fault = simulation.Fault();
      if (IsWorldsMiscount(simulation, fault)) return true;
      Broken(simulation, "the host refused a call: " + fault);
    }
    if (rebound::hudBarPanel.bars.size() > 1) {
      Broken(simulation,
             "the panel lists " + std::to_string(rebound::hudBarPanel.bars.size()) + " bars");
    }
    const DeathFlowState now = rebound::deathFlow.state;
    CheckFlow(simulation, before, now);
    CheckSearch(simulation, now, searchHeld, droppedBefore);
    droppedBefore = world.spawn.searchesDropped;
    before = now;
  }
  return false;
}

void ShowRun(const sim::Simulation& simulation) {
  const auto& deaths = simulation.Flow().Deaths();
  std::printf(
      "ran %lld frames (script stack peak %zu bytes): %llu deaths taken over, %zu "
      "respawns done, flow in %s%s%s\n",
      static_cast<long long>(simulation.FramesRun()), simulation.ScriptStack().peak,
      static_cast<unsigned long long>(simulation.Flow().DeathCount()),
      static_cast<std::size_t>(
          std::count_if(deaths.begin(), deaths.end(),
                        [](const sim::DeathRecord& d) { return d.respawnFrame >= 0; })),
      StateName(rebound::deathFlow.state), simulation.Faulted() ? "; stopped: " : "",
      simulation.Faulted() ? simulation.Fault().c_str() : "");
}

// Attaches the plug-in, runs the world and detaches it unless the run ended
// otherwise. True when the run stopped at a fault.
bool RunSimulation(Bytes& in, sim::Scenario scenario, std::int64_t frames) {
  sim::SimOptions options;
  options.recordTrace = false;
  options.keepDrawings = false;
  options.stackSize = kScriptStack;
  sim::Simulation simulation(std::move(scenario), options);
  PatchWorld(in, simulation.GetWorld());
  static int moduleTag = 0;
  if (rebound::LibraryEntry(&moduleTag, rebound::kProcessAttach) != 1 || simulation.Faulted()) {
    Broken(simulation, "the plug-in's attach failed: " + simulation.Fault());
  }
  const bool faulted = RunCheckedFrames(simulation, frames);
  if (std::getenv("REBOUND_WORLD_FUZZ_SHOW") != nullptr) ShowRun(simulation);
  if (!simulation.Faulted() && !simulation.Ended()) {
    rebound::LibraryEntry(&moduleTag, rebound::kProcessDetach);
    if (simulation.Faulted()) Broken(simulation, "detach: " + simulation.Fault());
  }
  return faulted;
}

void RunWorld(const std::uint8_t* data, std::size_t size) {
  Bytes in(data, size);
  const std::uint64_t seed = in.U64();
  const std::int64_t frames = in.Bool() ? in.Range(1, 400) : in.Range(1, kMaxFrames);
  sim::Scenario scenario = MadeScenario(ScenarioJson(in, frames));
  const bool hostDrops = RestartDueAt(scenario, -1);
  rebound::testing_seam::ResetProcessStateForTesting();
  sim::StartSeedSequence(seed);
  rebound::testing_seam::SetSeedSourceForTesting(&sim::NextSeed);
  const bool faulted = RunSimulation(in, std::move(scenario), frames);
  // The script's stack was given up with the simulation. A run stopped at a
  // fault keeps it: the frames of the fault's own call, suspended there for
  // good, hold what they allocated.
  // So does a fibre the host dropped (a restart, an unload).
  for (auto& fibre : sim::TakeAbandonedFibres()) {
    if (faulted || hostDrops) rebound::fuzz::KeepWhatItHolds(std::move(fibre));
  }
  rebound::testing_seam::ResetProcessStateForTesting();
  ++inputsRun;
  if (inputsRun % 256 == 0) WriteFrameCount();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = [] { return std::atexit(&WriteFrameCount) == 0; }();
  (void)registered;
  RunWorld(data, size);
  return 0;
}
