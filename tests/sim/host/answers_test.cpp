// A scenario's answers: refused with file, line and field when they do not fit
// the native's signature; in a run, what the plug-in reads back in their span
// (the trace showing it), while the native's handler still does its work.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sim/base/number_format.h"
#include "src/host/natives.h"
#include "tests/support/sim_harness.h"

namespace {

namespace natives = rebound::natives;

std::string Answers(const std::string& entries) { return "{\"answers\": [\n" + entries + "]}"; }

TEST(Answers, MistakesNameFileLineAndField) {
  const std::string health = R"("native": "GET_ENTITY_HEALTH")";
  const std::string node = R"("native": "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING")";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"from": 0, "to": 9, "native": "GET_ENTITY_HEALTHY", "result": 1})",
       "bad.json:2: field 'answers[0].native': unknown native \"GET_ENTITY_HEALTHY\""},
      {R"({"from": 0, "to": 9, "native": "0x1234", "result": 1})",
       "field 'answers[0].native': no native has the hash 0x1234 (rebound-sim natives lists the "
       "natives the game knows; --natives FILE adds those of your own catalogue)"},
      {R"({"from": 0, "to": 9, )" + health + R"(, "result": true})",
       "field 'answers[0].result': GET_ENTITY_HEALTH returns an integer, got a boolean"},
      {R"({"from": 0, "to": 9, "native": "IS_PED_INJURED", "result": 2})",
       "field 'answers[0].result': expected true or false"},
      {R"({"from": 0, "to": 9, "native": "VDIST", "result": [1, 2, 3]})",
       "field 'answers[0].result': VDIST returns a float, got an array"},
      {R"({"from": 0, "to": 9, "native": "GET_ENTITY_COORDS", "result": 1})",
       "GET_ENTITY_COORDS returns a vector [x, y, z], got an integer"},
      {R"({"from": 0, "to": 9, "native": "SET_ENTITY_HEALTH", "result": 0})",
       "field 'answers[0].result': SET_ENTITY_HEALTH returns nothing: there is no result to "
       "answer\n"},
      {R"({"from": 0, "to": 9, "native": "SPAWNPOINTS_GET_SEARCH_RESULT", "result": 0})",
       "SPAWNPOINTS_GET_SEARCH_RESULT returns nothing: there is no result to answer (its "
       "out-variables are answered with 'outs')"},
      {R"({"from": 0, "to": 9, )" + health + R"(, "outs": [1]})",
       "field 'answers[0].outs': GET_ENTITY_HEALTH has no out-variables"},
      {R"({"from": 0, "to": 9, )" + node + R"(, "outs": [[1, 2, 3], 4]})",
       "field 'answers[0].outs': GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING has 3 "
       "out-variables (out vector, out float, out int), got 2 values"},
      {R"({"from": 0, "to": 9, )" + node + R"(, "outs": [[1, 2, 3], 4, 1.5]})",
       "field 'answers[0].outs[2]': expected an integer, got a number"},
      {R"({"from": 0, "to": 9, )" + node + R"(, "outs": [[1, 2, 3], [4], 1]})",
       "field 'answers[0].outs[1]': GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING's argument 6 "
       "(out float) takes a float, got an array"},
      {R"({"from": 0, "to": 9, )" + node + R"(, "outs": [1, 4, 1]})",
       "argument 5 (out vector) takes a vector [x, y, z], got an integer"},
      {R"({"from": 9, "to": 8, )" + health + R"(, "result": 1})",
       "field 'answers[0].to': expected a frame at or after 'from' (9)"},
      {R"({"from": 0, "to": 9, )" + health + "}",
       "bad.json:2: field 'answers[0]': an answer needs 'result', 'outs' or both"},
      // The same native by name and by hash; the later span is named.
      {R"({"from": 0, "to": 9, )" + health + R"(, "result": 1},
{"from": 0, "to": 3, "native": "GET_ENTITY_MAX_HEALTH", "result": 1},
{"from": 9, "to": 12, "native": "0xeef059fad016d209", "result": 2})",
       "bad.json:4: field 'answers[2].from': frames 9 to 12 overlap answers[0] (frames 0 to 9) "
       "for the same native GET_ENTITY_HEALTH"},
  };
  for (const auto& [entries, expected] : cases) {
    std::string error = "(no error)";
    try {
      // A native the game lacks is looked up once the catalogue is known:
      // here there is none.
      sim::Scenario scenario = sim::Scenario::Parse("bad.json", Answers(entries));
      sim::ResolveCatalogueAnswers(scenario.answers, scenario.catalogueAnswers, nullptr);
    } catch (const sim::ScenarioError& e) {
      error = std::string(e.what()) + "\n";
    }
    EXPECT_NE(error.find(expected), std::string::npos) << entries << "\n  gave: " << error;
  }
}

// What the script reads each frame: health, the road node lookup's result and
// out-variables.
struct Reading {
  std::int32_t health;
  bool found;
  float x, heading;
  std::int32_t lanes;
};

constexpr const char* kAnsweredScenario = R"({
  "frames": 6,
  "player": {"health": 180},
  "world": {"roadNodes": [{"position": [10, 20, 30], "heading": 45, "lanes": 2}]},
  "answers": [
    {"from": 2, "to": 2, "native": "GET_ENTITY_HEALTH", "result": 0},
    {"from": 3, "to": 3, "native": "0xeef059fad016d209", "result": 0},
    {"from": 3, "to": 4, "native": "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING",
     "result": false, "outs": [["NaN", 1, 2], null, 7]}
  ]
})";

std::vector<Reading> ReadAnsweredRun(bool traced, sim::Trace* trace) {
  sim::SimOptions options;
  options.recordTrace = traced;
  sim::Simulation simulation(test::ScenarioFrom(kAnsweredScenario), options);
  std::vector<Reading> readings;
  EXPECT_TRUE(test::RunScript(simulation, [&](std::int64_t) {
    rebound::NativeVector3 where;
    float heading = -1;
    std::int32_t lanes = -1;
    Reading r{natives::GET_ENTITY_HEALTH(1), false, 0, 0, 0};
    r.found = natives::GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING(0, 0, 0, 1, &where, &heading,
                                                                 &lanes, 0, 3.0F, 0.0F);
    r.x = where.x;
    r.heading = heading;
    r.lanes = lanes;
    readings.push_back(r);
  })) << simulation.Fault();
  // The handler ran for every call, answered or not; each span is noted once.
  EXPECT_EQ(simulation.GetWorld().spawn.roadNodeLookups, 6);
  std::size_t notes = 0;
  for (const auto& e : simulation.GetWorld().timeline.Entries()) notes += e.category == "answers";
  EXPECT_EQ(notes, 3U);
  if (trace != nullptr) *trace = simulation.GetTrace();
  return readings;
}

TEST(Answers, ReplaceWhatThePlugInReadsInTheirSpanOnly) {
  for (const bool traced : {false, true}) {
    const std::vector<Reading> got = ReadAnsweredRun(traced, nullptr);
    ASSERT_EQ(got.size(), 6U);
    for (std::size_t frame = 0; frame < got.size(); ++frame) {
      const Reading& r = got[frame];
      const bool healthAnswered = frame == 2 || frame == 3;
      const bool nodeAnswered = frame == 3 || frame == 4;
      EXPECT_EQ(r.health, healthAnswered ? 0 : 180) << frame << " traced " << traced;
      EXPECT_EQ(r.found, !nodeAnswered) << frame;
      EXPECT_EQ(std::isnan(r.x), nodeAnswered) << frame;
      if (!nodeAnswered) {
        EXPECT_EQ(r.x, 10.0F) << frame;
      }
      EXPECT_EQ(r.heading, 45.0F) << frame;  // null: as the world wrote it
      EXPECT_EQ(r.lanes, nodeAnswered ? 7 : 2) << frame;
    }
  }
}

TEST(Answers, TheTraceShowsTheAnswerThePlugInGot) {
  sim::Trace trace;
  ReadAnsweredRun(true, &trace);
  std::vector<std::string> health;
  std::vector<std::string> node;
  for (const sim::TraceEntry& e : trace.Entries()) {
    if (e.native == nullptr || !e.result) continue;
    const std::string line = sim::Trace::ToJson(e);
    const std::string tail = line.substr(line.find("\"args\""));
    (e.native->name == "GET_ENTITY_HEALTH" ? health : node).push_back(tail);
  }
  ASSERT_EQ(health.size(), 6U);
  EXPECT_EQ(health[1], R"("args":[1],"result":180})");
  EXPECT_EQ(health[2], R"("args":[1],"result":0})");
  ASSERT_EQ(node.size(), 6U);
  EXPECT_EQ(node[3],
            R"("args":[0.0,0.0,0.0,1,"out","out","out",0,3.0,0.0],"outs":[["NaN",1.0,2.0],45.0,7],)"
            R"("result":false})");
  EXPECT_EQ(
      node[5],
      R"("args":[0.0,0.0,0.0,1,"out","out","out",0,3.0,0.0],"outs":[[10.0,20.0,30.0],45.0,2],)"
      R"("result":true})");
}

}  // namespace
