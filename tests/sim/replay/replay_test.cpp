// Replay against the built plug-in: seeded traces of shipped scenarios replay
// with no difference, in the recorder's form too (header, its own calls,
// repeats); an altered recording stops at the first call the change affects,
// named by its frame and index; and the check's other ends (a cut recording,
// a dropped line, a missing unregister, an unreadable line) say so.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/base/alloc_counter.h"
#include "sim/host/simulation.h"
#include "sim/platform/fibre.h"
#include "sim/recording/trace_reader.h"
#include "sim/replay/replay.h"

namespace {

using Lines = std::vector<std::string>;
using Json = nlohmann::ordered_json;

std::string Scenario(const char* name) {
  return std::string(REBOUND_SOURCE_DIR) + "/scenarios/" + name;
}

// The seeded trace of a run, one JSON line an entry.
Lines TraceOf(sim::Scenario scenario, const char* module) {
  sim::Simulation simulation(
      std::move(scenario), sim::SimOptions{.recordTrace = true, .keepDrawings = false, .seed = 5});
  EXPECT_TRUE(simulation.LoadPlugin(module)) << simulation.Fault();
  EXPECT_TRUE(simulation.Run()) << simulation.Fault();
  if (simulation.PluginLoaded()) simulation.UnloadPlugin();
  Lines lines;
  for (const sim::TraceEntry& e : simulation.GetTrace().Entries()) {
    lines.push_back(sim::Trace::ToJson(e));
  }
  return lines;
}

// Made once a scenario and kept: the tests alter copies.
const Lines& TraceOfScenario(const std::string& name) {
  static std::map<std::string, Lines> traces;
  auto it = traces.find(name);
  if (it == traces.end()) {
    it = traces
             .emplace(name,
                      TraceOf(sim::Scenario::Load(Scenario(name.c_str())), REBOUND_PLUGIN_PATH))
             .first;
  }
  return it->second;
}

sim::ReplayResult ReplayOf(const Lines& lines, const char* module = REBOUND_PLUGIN_PATH,
                           bool recordedDraws = true) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  std::unique_ptr<sim::TraceReader> reader = sim::TraceReader::FromText(text, "altered.jsonl");
  sim::ReplayOptions options;
  options.recordedDraws = recordedDraws;
  sim::Replay replay(*reader, options);
  return replay.Run(module);
}

bool Has(const std::string& line, const std::string& part) {
  return line.find(part) != std::string::npos;
}

// Whether the line is one of the plug-in's calls, which replay counts. (Read
// as text: parsing every line of a trace is slow in a debug build.)
bool IsCall(const std::string& line) {
  if (Has(line, "\"native\":")) return !Has(line, "\"by\":\"recorder\"");
  for (const char* host : {"scriptWait", "randomDraw", "scriptRegister", "keyboardHandlerRegister",
                           "scriptUnregister", "keyboardHandlerUnregister"}) {
    if (Has(line, std::string("\"host\":\"") + host + "\"")) return true;
  }
  return false;
}

// The index replay gives the call on line `at` (from 0): the calls before it.
std::uint64_t CallIndex(const Lines& lines, std::size_t at) {
  std::uint64_t calls = 0;
  for (std::size_t i = 0; i < at; ++i) calls += IsCall(lines[i]) ? 1 : 0;
  return calls;
}

// The first line from `from` on that `match` accepts.
std::size_t Find(const Lines& lines, const std::function<bool(const std::string&)>& match,
                 std::size_t from = 0) {
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (match(lines[i])) return i;
  }
  ADD_FAILURE() << "no such line";
  return lines.size();
}

std::function<bool(const std::string&)> Named(const std::string& name) {
  return [part = "\"name\":\"" + name + "\""](const std::string& line) { return Has(line, part); };
}

std::function<bool(const std::string&)> NamedWith(const std::string& name,
                                                  const std::string& part) {
  return [name, part](const std::string& line) { return Named(name)(line) && Has(line, part); };
}

std::function<bool(const std::string&)> Host(const std::string& host) {
  return [part = "\"host\":\"" + host + "\""](const std::string& line) { return Has(line, part); };
}

void ExpectSame(const sim::ReplayResult& r, const Lines& lines) {
  EXPECT_EQ(r.outcome, sim::ReplayResult::Outcome::Same) << r.error;
  EXPECT_FALSE(r.difference.has_value())
      << "at frame " << r.difference->frame << ", call " << r.difference->call << ":\n- "
      << r.difference->expected << "\n+ " << r.difference->actual;
  EXPECT_EQ(r.endNote, "");
  EXPECT_EQ(r.callsChecked, CallIndex(lines, lines.size()));
}

// A difference at `frame`, call `call`, where the recording has `expected`.
void ExpectDifference(const sim::ReplayResult& r, std::int64_t frame, std::uint64_t call,
                      const std::string& expected) {
  ASSERT_EQ(r.outcome, sim::ReplayResult::Outcome::Differs) << r.error << r.endNote;
  ASSERT_TRUE(r.difference.has_value());
  EXPECT_EQ(r.difference->frame, frame);
  EXPECT_EQ(r.difference->call, call);
  EXPECT_EQ(r.difference->expected, expected);
  EXPECT_NE(r.difference->actual, expected);
  EXPECT_EQ(r.difference->before.size(), 10U);
  EXPECT_EQ(r.callsChecked, call);
}

TEST(ReplayOfTraces, ShippedScenariosReplayWithoutADifference) {
  for (const char* name : {"plain-death.json", "restarts.json", "misbehaving-world.json"}) {
    SCOPED_TRACE(name);
    const Lines lines = TraceOfScenario(name);
    const sim::ReplayResult r = ReplayOf(lines);
    ExpectSame(r, lines);
    EXPECT_TRUE(r.modelDifferences.empty());
  }
}

// A trace of an older simulator has the seed but not the draws: the plug-in
// draws from the seed's sequence.
TEST(ReplayOfTraces, ATraceWithoutDrawsReplaysFromItsSeed) {
  Lines lines;
  for (const std::string& line : TraceOfScenario("plain-death.json")) {
    if (line.find("\"randomDraw\"") == std::string::npos) lines.push_back(line);
  }
  ExpectSame(ReplayOf(lines, REBOUND_PLUGIN_PATH, false), lines);
}

// The trace as the recorder writes it: a header, no names, its own frame
// count and timer after each start and wait, keyboard lines without frame
// and time, and idle stretches as repeat lines.
// Whether two frames of lines are alike but for their frame, time and the
// recorder's own answers, which a repeat line leaves out.
bool SameFrame(const std::vector<Json>& a, const std::vector<Json>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    Json x = a[i], y = b[i];
    for (Json* j : {&x, &y}) {
      j->erase("frame");
      j->erase("time");
      if (j->contains("by")) j->erase("result");
    }
    if (x != y) return false;
  }
  return true;
}

// The recorder's own reads of the frame count and the timer.
std::vector<Json> RecorderCalls(std::int64_t frame, std::int64_t time) {
  return std::vector<Json>{{{"frame", frame},
                            {"time", time},
                            {"native", "0xFC8202EFC642E6F2"},
                            {"args", Json::array()},
                            {"result", frame + 1000},
                            {"by", "recorder"}},
                           {{"frame", frame},
                            {"time", time},
                            {"native", "0x9CD27B0045628463"},
                            {"args", Json::array()},
                            {"result", time},
                            {"by", "recorder"}}};
}

Lines AsRecording(const Lines& trace) {
  Lines out = {R"({"format":"rebound-recording","version":1,"rebound":"0.1.0","build":"recorder",)"
               R"("platform":"linux","hostFile":null,"hostVersion":null,"gameFile":null,)"
               R"("gameVersion":null,"frameBase":1000})"};
  std::vector<Json> frameLines;  // the lines since the last wait
  std::vector<Json> lastFrame;   // the frame before, as written
  std::int64_t repeats = 0, firstFrame = 0, firstTime = 0, lastTime = 0, lastNumber = 0;
  const auto flush = [&] {
    if (repeats == 0) return;
    out.push_back(Json{
        {"frame", lastNumber},
        {"time", lastTime},
        {"host", "repeat"},
        {"frames", repeats},
        {"firstFrame", firstFrame},
        {"firstTime",
         firstTime}}.dump());
    repeats = 0;
  };
  bool afterWait = false;
  for (const std::string& text : trace) {
    Json j = Json::parse(text);
    j.erase("name");
    const std::string host = j.value("host", "");
    if (host == "seed") continue;
    // The game's frame count starts at the frame base; the plug-in's own
    // calls read it too.
    if (j.value("native", "") == "0xFC8202EFC642E6F2")
      j["result"] = j["result"].get<std::int64_t>() + 1000;
    // A script started again never returns from the wait it was dropped in.
    if (host == "scriptStart") afterWait = false;
    if (afterWait && j.contains("frame") &&
        (j.contains("native") || host == "scriptWait" || host == "randomDraw")) {
      for (Json& r : RecorderCalls(j["frame"], j["time"])) frameLines.insert(frameLines.begin(), r);
      afterWait = false;
    }
    if (host == "keyboard") {
      j.erase("frame");
      j.erase("time");
    }
    frameLines.push_back(j);
    if (host == "scriptStart") {
      for (Json& r : RecorderCalls(j["frame"], j["time"])) frameLines.push_back(r);
    }
    if (host != "scriptWait") continue;
    afterWait = true;
    const std::int64_t frame = j["frame"];
    if (!lastFrame.empty() && SameFrame(frameLines, lastFrame) && frame == lastNumber + 1) {
      if (repeats++ == 0) {
        firstFrame = frame;
        firstTime = j["time"];
      }
      lastNumber = frame;
      lastTime = j["time"];
    } else {
      flush();
      for (const Json& line : frameLines) out.push_back(line.dump());
      lastFrame = frameLines;
      lastNumber = frame;
    }
    frameLines.clear();
  }
  flush();
  for (const Json& line : frameLines) out.push_back(line.dump());
  return out;
}

TEST(ReplayOfTraces, TheRecordersFormReplaysAlike) {
  const Lines trace = TraceOfScenario("restarts.json");
  const Lines recording = AsRecording(trace);
  // Idle stretches are repeats.
  EXPECT_LT(recording.size(), trace.size() * 9 / 10);
  EXPECT_GT(std::count_if(recording.begin(), recording.end(), Host("repeat")), 10);
  const sim::ReplayResult r = ReplayOf(recording);
  EXPECT_EQ(r.outcome, sim::ReplayResult::Outcome::Same) << r.error;
  EXPECT_FALSE(r.difference.has_value()) << r.difference->expected << "\n" << r.difference->actual;
  EXPECT_EQ(r.callsChecked, CallIndex(trace, trace.size()));
  for (const sim::ModelDifferenceReport& m : r.modelDifferences) {
    ADD_FAILURE() << sim::DescribeModelDifference(m);
  }
}

// Each change stops the replay at the first call it affects.
TEST(ReplayOfAlteredRecordings, StopsAtTheFirstCallTheChangeAffects) {
  const Lines trace = TraceOfScenario("plain-death.json");
  struct Case {
    const char* what;
    // Alters the lines; returns the line of the call expected to differ.
    std::function<std::size_t(Lines&)> alter;
  };
  const Case cases[] = {
      {"the movie loads a frame later: not drawn where it was",
       [](Lines& l) {
         const std::size_t at = Find(l, NamedWith("HAS_SCALEFORM_MOVIE_LOADED", "\"result\":true"));
         l[at].replace(l[at].find("\"result\":true"), 13, "\"result\":false");
         return at + 1;
       }},
      {"no results counted: the draw of a result's index is not made",
       [](Lines& l) {
         const std::size_t at = Find(l, Named("SPAWNPOINTS_GET_NUM_SEARCH_RESULTS"));
         l[at].replace(l[at].find("\"result\":"), std::string::npos, "\"result\":0}");
         return at + 1;
       }},
      {"the search fails: its results are not counted",
       [](Lines& l) {
         const std::size_t complete =
             Find(l, NamedWith("SPAWNPOINTS_IS_SEARCH_COMPLETE", "\"result\":true"));
         const std::size_t at = Find(l, Named("SPAWNPOINTS_IS_SEARCH_FAILED"), complete);
         l[at].replace(l[at].find("\"result\":false"), 14, "\"result\":true");
         return at + 1;
       }},
      {"a call removed: the plug-in makes it where the next one was",
       [](Lines& l) {
         const std::size_t at = Find(l, Named("DRAW_RECT"));
         l.erase(l.begin() + static_cast<std::ptrdiff_t>(at));
         return at;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Lines altered = trace;
    const std::size_t at = c.alter(altered);
    const Json expected = Json::parse(altered[at]);
    ExpectDifference(ReplayOf(altered), expected["frame"], CallIndex(altered, at), altered[at]);
  }
}

// The removed call is shown as the plug-in made it.
TEST(ReplayOfAlteredRecordings, ShowsTheCallThePlugInMade) {
  Lines altered = TraceOfScenario("plain-death.json");
  const std::size_t at = Find(altered, Named("DRAW_RECT"));
  const std::string removed = altered[at];
  altered.erase(altered.begin() + static_cast<std::ptrdiff_t>(at));
  const sim::ReplayResult r = ReplayOf(altered);
  ASSERT_TRUE(r.difference.has_value());
  EXPECT_EQ(r.difference->actual, removed);
  EXPECT_EQ(r.difference->before.back(), altered[at - 1]);
}

// The key echo module turns each keyboard message into a call before its
// next one: a message moved in the recording moves that call.
TEST(ReplayOfAlteredRecordings, AKeyboardMessageMovedMovesTheCallItCauses) {
  const Lines trace = TraceOf(sim::Scenario::Parse("keys.json", R"({"frames": 40, "events": [
      {"frame": 5, "key": {"code": 65, "scanCode": 30}},
      {"frame": 12, "key": {"code": 66, "scanCode": 48}, "atCall": 1},
      {"frame": 20, "key": {"code": 67, "scanCode": 46}, "atCall": 2}]})"),
                              REBOUND_KEY_ECHO_MODULE_PATH);
  ExpectSame(ReplayOf(trace, REBOUND_KEY_ECHO_MODULE_PATH), trace);

  const auto keyLine = [](std::int64_t code) {
    return [part = "\"host\":\"keyboard\",\"key\":" + std::to_string(code) +
                   ","](const std::string& line) { return Has(line, part); };
  };
  const auto echo = [](std::int64_t code) {
    return NamedWith("HIDE_HUD_COMPONENT_THIS_FRAME", "\"args\":[" + std::to_string(code) + "]");
  };
  struct Case {
    std::int64_t key;
    std::ptrdiff_t by;  // lines to move the message by
  };
  for (const Case c : {Case{65, 4}, Case{66, -1}, Case{67, 3}, Case{67, -9}}) {
    SCOPED_TRACE("key " + std::to_string(c.key) + " moved by " + std::to_string(c.by));
    Lines altered = trace;
    const std::size_t from = Find(altered, keyLine(c.key));
    // Moved as a message that came while the script waited, without a frame
    // and time of its own: a recording's frames never go back.
    const std::string line = "{" + altered[from].substr(altered[from].find("\"host\""));
    altered.erase(altered.begin() + static_cast<std::ptrdiff_t>(from));
    const std::size_t to = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(from) + c.by);
    altered.insert(altered.begin() + static_cast<std::ptrdiff_t>(to), line);
    // Later: the echo is missing where it was. Earlier: a message between
    // frames is echoed before the script's first call, one that comes inside
    // a call (at its nativeInit) right after that call.
    std::size_t at = 0;
    if (c.by > 0) {
      at = Find(altered, echo(c.key));
    } else {
      at = Find(altered, IsCall, to + 1);
      if (!Host("scriptWait")(altered[to - 1])) {
        at = Find(altered, IsCall, at + 1);
      }
    }
    const Json expected = Json::parse(altered[at]);
    ExpectDifference(ReplayOf(altered, REBOUND_KEY_ECHO_MODULE_PATH), expected["frame"],
                     CallIndex(altered, at), altered[at]);
  }
}

// Replay allocates nothing per call: twice the idle frames, no more blocks.
TEST(ReplayCost, IdleFramesAllocateNothing) {
  const auto allocationsOf = [](std::int64_t frames) {
    const Lines lines =
        TraceOf(sim::Scenario::Parse("idle.json", "{\"frames\": " + std::to_string(frames) + "}"),
                REBOUND_PLUGIN_PATH);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    std::unique_ptr<sim::TraceReader> reader = sim::TraceReader::FromText(text, "idle.jsonl");
    sim::Replay replay(*reader);
    // The fibres that earlier runs left behind go first: the list of them
    // grows by doubling, which would count here.
    sim::TakeAbandonedFibres();
    const sim::AllocationCounts before = sim::CountedAllocations();
    const sim::ReplayResult r = replay.Run(REBOUND_PLUGIN_PATH);
    const sim::AllocationCounts made = sim::CountedAllocations() - before;
    EXPECT_EQ(r.callsChecked, CallIndex(lines, lines.size()));
    return made.plugin + made.simulator;
  };
  allocationsOf(300);  // what is made once a process (the catalogue's index, ...)
  // The loader's own bookkeeping of a module loaded again may differ by a
  // block from one load to the next; 900 more frames of 3 calls must not add
  // any.
  const std::uint64_t shortRun = allocationsOf(300);
  EXPECT_LE(allocationsOf(1200), shortRun);
}

TEST(ReplayEnds, ARecordingCutInsideAFrameEndsTheCheckWithANote) {
  Lines lines = TraceOfScenario("plain-death.json");
  const std::size_t at = Find(lines, Named("DRAW_RECT"));
  lines.resize(at);
  const sim::ReplayResult r = ReplayOf(lines);
  EXPECT_EQ(r.outcome, sim::ReplayResult::Outcome::Same);
  EXPECT_FALSE(r.difference.has_value());
  EXPECT_EQ(r.endNote, "the recording ends inside frame " +
                           std::to_string(Json::parse(lines.back())["frame"].get<std::int64_t>()) +
                           ", where the plug-in went on with DRAW_RECT");
  EXPECT_EQ(r.callsChecked, CallIndex(lines, at));
}

TEST(ReplayEnds, ADroppedLineEndsTheCheckThere) {
  Lines lines = TraceOfScenario("plain-death.json");
  const std::size_t at = Find(lines, Named("DRAW_RECT"));
  const std::int64_t frame = Json::parse(lines[at])["frame"];
  // Whole frames dropped: the line stands after a wait.
  std::size_t wait = at;
  wait = Find(lines, Host("scriptWait"), wait);
  lines.insert(
      lines.begin() + static_cast<std::ptrdiff_t>(wait) + 1,
      R"({"frame":)" + std::to_string(frame + 40) + R"(,"time":0,"host":"dropped","frames":39})");
  lines.push_back("{\"frame\":899,\"time\":0,\"native\":\"0x1234567890ABCDEF\",\"args\":[]}");
  const sim::ReplayResult r = ReplayOf(lines);
  EXPECT_EQ(r.outcome, sim::ReplayResult::Outcome::Same) << r.error;
  EXPECT_EQ(r.endNote, "the recording has a dropped line at frame " + std::to_string(frame + 40) +
                           " (altered.jsonl:" + std::to_string(wait + 2) + ")");
  EXPECT_EQ(r.callsChecked, CallIndex(lines, wait + 1));
}

TEST(ReplayEnds, AnUnregisterThePlugInDidNotMakeIsADifference) {
  Lines lines = TraceOfScenario("plain-death.json");
  const std::size_t detach = Find(lines, Host("detach"));
  // The recording says the plug-in unregistered its script twice.
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(detach) + 3, lines[detach + 1]);
  const sim::ReplayResult r = ReplayOf(lines);
  ExpectDifference(r, Json::parse(lines[detach + 3])["frame"], CallIndex(lines, detach + 3),
                   lines[detach + 3]);
  EXPECT_EQ(r.difference->actual, "(nothing: the plug-in is not loaded)");
}

TEST(ReplayEnds, AnUnreadableLineMidRunIsNamed) {
  Lines lines = TraceOfScenario("plain-death.json");
  const std::size_t at = Find(lines, Named("DRAW_RECT"));
  lines[at].replace(lines[at].find("\"args\":[") + 8, 1, "\"x\"");
  const sim::ReplayResult r = ReplayOf(lines);
  EXPECT_EQ(r.outcome, sim::ReplayResult::Outcome::Unreadable);
  EXPECT_EQ(r.error, "altered.jsonl:" + std::to_string(at + 1) +
                         ": field \"args\"[0]: expected a number, got \"x\"");
}

TEST(ReplayEnds, AModuleThatCannotBeLoadedIsNamed) {
  const sim::ReplayResult r = ReplayOf(TraceOfScenario("panel.json"), "/nonexistent/librebound.so");
  EXPECT_EQ(r.outcome, sim::ReplayResult::Outcome::CannotLoad);
  EXPECT_NE(r.error.find("/nonexistent/librebound.so"), std::string::npos) << r.error;
}

}  // namespace
