// What the simulated host refuses: everything the real host or game would not
// accept stops the run with a message naming the frame, the native and the
// fault.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
// The host functions as a plug-in declares them, to call them as a faulty one.
#include "src/host/host_api.h"
#include "tests/support/sim_harness.h"

namespace {

// Natives are named; the simulator's table knows their hashes.
std::uint64_t HashOf(std::string_view name) { return sim::FindNativeByName(name)->hash; }

const std::uint64_t kPlayerPedId = HashOf("PLAYER_PED_ID");
const std::uint64_t kGetEntityHealth = HashOf("GET_ENTITY_HEALTH");
const std::uint64_t kSetTextScale = HashOf("SET_TEXT_SCALE");
const std::uint64_t kSetEntityCoords = HashOf("SET_ENTITY_COORDS");
const std::uint64_t kBeginFeedPost = HashOf("BEGIN_TEXT_COMMAND_THEFEED_POST");
const std::uint64_t kGetHudColour = HashOf("GET_HUD_COLOUR");
const std::uint64_t kDrawSprite = HashOf("DRAW_SPRITE");

void Call(std::uint64_t hash, std::initializer_list<std::uint64_t> slots) {
  nativeInit(hash);
  for (std::uint64_t s : slots) nativePush64(s);
  nativeCall();
}

struct Refusal {
  const char* what;
  std::function<void()> script;
  const char* expected;  // part of the fault message
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.what; }

class Refusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusals, StopTheRunNamingFrameNativeAndFault) {
  const Refusal& r = GetParam();
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 10})"));
  simulation.SetScript([&r] {
    // Two good frames first, so the fault lands in frame 2.
    Call(kPlayerPedId, {});
    scriptWait(0);
    Call(kPlayerPedId, {});
    scriptWait(0);
    r.script();
    for (;;) scriptWait(0);
  });
  EXPECT_FALSE(simulation.Run());
  const std::string fault = simulation.Fault();
  EXPECT_NE(fault.find("frame 2"), std::string::npos) << fault;
  EXPECT_NE(fault.find(r.expected), std::string::npos) << fault;
  EXPECT_EQ(simulation.FramesRun(), 3) << "the run stops in the faulting frame";
}

INSTANTIATE_TEST_SUITE_P(
    Host, Refusals,
    ::testing::Values(
        Refusal{"unknown hash", [] { Call(0x1234567812345678, {}); },
                "0x1234567812345678 is not a native of the game"},
        Refusal{"too few arguments", [] { Call(kGetEntityHealth, {}); },
                "GET_ENTITY_HEALTH (0xEEF059FAD016D209): 0 arguments pushed, it takes 1"},
        Refusal{"too many arguments", [] { Call(kPlayerPedId, {1}); },
                "PLAYER_PED_ID (0xD80958FC74E988A6): 1 argument pushed, it takes 0"},
        Refusal{
            "sign-extended integer", [] { Call(kGetEntityHealth, {0xFFFFFFFFFFFFFFFFULL}); },
            "GET_ENTITY_HEALTH (0xEEF059FAD016D209): argument 1 (int) has its upper 32 bits set"},
        Refusal{
            "float widened to 64 bits",
            [] {
              Call(kSetTextScale, {0, 0x3FE0000000000000ULL});
            },
            "SET_TEXT_SCALE (0x07C837F9A01C34C9): argument 2 (float) has its upper 32 bits set"},
        Refusal{"boolean with upper bits",
                [] {
                  Call(kSetEntityCoords, {1, 0, 0, 0, 0x100000001ULL, 0, 0, 0});
                },
                "argument 5 (bool) has its upper 32 bits set"},
        Refusal{"boolean of 2",
                [] {
                  Call(kSetEntityCoords, {1, 0, 0, 0, 2, 0, 0, 0});
                },
                "argument 5 (bool) is 2, not 0 or 1"},
        Refusal{"null text", [] { Call(kBeginFeedPost, {0}); },
                "BEGIN_TEXT_COMMAND_THEFEED_POST (0x202709F4C58A0424): argument 1 (text) is a null "
                "text pointer"},
        Refusal{"null out-variable",
                [] {
                  Call(kGetHudColour, {2, 0, 0, 0, 0});
                },
                "argument 2 (out int) is a null pointer"},
        Refusal{"push without init", [] { nativePush64(1); }, "nativePush64 without nativeInit"},
        Refusal{"call without init", [] { nativeCall(); }, "nativeCall without nativeInit"},
        Refusal{"init inside an open call",
                [] {
                  nativeInit(kGetEntityHealth);
                  nativeInit(kPlayerPedId);
                },
                "nativeInit(PLAYER_PED_ID) before the call of GET_ENTITY_HEALTH was run"}),
    [](const ::testing::TestParamInfo<Refusal>& param) {
      std::string name = param.param.what;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

// The trace of a stopped run ends with a line that says where: the frame,
// the index of the refused call among the frame's calls, what was wrong and
// the call with its arguments (a slot its kind refuses as its raw bits).
struct FaultLine {
  const char* what;
  std::function<void()> script;
  const char* line;  // the whole line
};

void PrintTo(const FaultLine& f, std::ostream* os) { *os << f.what; }

class FaultLines : public ::testing::TestWithParam<FaultLine> {};

TEST_P(FaultLines, EndTheTraceWithFrameCallReasonAndRefusedCall) {
  const FaultLine& f = GetParam();
  std::ostringstream streamed;
  sim::SimOptions options;
  options.traceStream = &streamed;
  // A key due after the fault, in the same frame: nothing after the fault is
  // traced.
  sim::Simulation simulation(
      test::ScenarioFrom(R"({"frames": 10, "events": [{"frame": 2, "key": {"code": 65},
                                                       "atCall": 5}]})"),
      options);
  simulation.SetScript([&f] {
    Call(kPlayerPedId, {});
    scriptWait(0);
    Call(kPlayerPedId, {});
    scriptWait(0);
    Call(kPlayerPedId, {});  // the frame's call 0; the fault is about its call 1
    f.script();
    for (;;) scriptWait(0);
  });
  EXPECT_FALSE(simulation.Run());
  const sim::Trace& trace = simulation.GetTrace();
  ASSERT_TRUE(trace.Fault().has_value());
  EXPECT_EQ(sim::Trace::ToJson(*trace.Fault()), f.line);
  EXPECT_EQ(trace.Entries().back().Name(), "PLAYER_PED_ID");
  const std::string text = streamed.str();
  EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), std::string(f.line) + "\n");
  std::ostringstream written;
  trace.WriteJsonLines(written);
  EXPECT_EQ(written.str(), text) << "the kept trace writes what was streamed";
}

INSTANTIATE_TEST_SUITE_P(
    Host, FaultLines,
    ::testing::Values(
        FaultLine{
            "unknown hash", [] { Call(0x1234567812345678, {7}); },
            R"({"frame":2,"time":100033,"host":"fault","call":1,)"
            R"("reason":"native 0x1234567812345678 is not a native of the game",)"
            R"("refused":{"native":"0x1234567812345678","args":[{"slot":"0x0000000000000007"}]}})"},
        FaultLine{"boolean of 2",
                  [] {
                    Call(kSetEntityCoords, {1, 0x43570000, 0, 0, 2, 0, 1, 0});
                  },
                  R"({"frame":2,"time":100033,"host":"fault","call":1,"reason":"native )"
                  R"(SET_ENTITY_COORDS (0x06843DA7060A026B): argument 5 (bool) is 2, not 0 or 1",)"
                  R"("refused":{"native":"0x06843DA7060A026B","name":"SET_ENTITY_COORDS","args":)"
                  R"([1,215.0,0.0,0.0,{"slot":"0x0000000000000002"},false,true,false]}})"},
        FaultLine{"too many arguments", [] { Call(kPlayerPedId, {1}); },
                  R"({"frame":2,"time":100033,"host":"fault","call":1,"reason":"native )"
                  R"(PLAYER_PED_ID (0xD80958FC74E988A6): 1 argument pushed, it takes 0",)"
                  R"("refused":{"native":"0xD80958FC74E988A6","name":"PLAYER_PED_ID","args":)"
                  R"([{"slot":"0x0000000000000001"}]}})"},
        FaultLine{"init inside an open call",
                  [] {
                    nativeInit(kGetEntityHealth);
                    nativeInit(kPlayerPedId);
                  },
                  R"({"frame":2,"time":100033,"host":"fault","call":1,"reason":"nativeInit)"
                  R"((PLAYER_PED_ID) before the call of GET_ENTITY_HEALTH was run","refused":)"
                  R"({"native":"0xD80958FC74E988A6","name":"PLAYER_PED_ID","args":[]}})"},
        FaultLine{"push without init", [] { nativePush64(1); },
                  R"({"frame":2,"time":100033,"host":"fault","call":1,)"
                  R"("reason":"nativePush64 without nativeInit"})"},
        FaultLine{
            "sprite from a dictionary not loaded",
            [] {
              Call(kDrawSprite, {reinterpret_cast<std::uint64_t>("commonmenu"),
                                 reinterpret_cast<std::uint64_t>("gradient_bgd"), 0, 0, 0, 0, 0,
                                 255, 0, 0, 0, 255, 0});
            },
            R"({"frame":2,"time":100033,"host":"fault","call":1,"reason":"DRAW_SPRITE of )"
            R"(\"gradient_bgd\" from texture dictionary \"commonmenu\", which is not loaded",)"
            R"("refused":{"native":"0xE7FFAE5EBF23D890","name":"DRAW_SPRITE","args":)"
            R"(["commonmenu","gradient_bgd",0.0,0.0,0.0,0.0,0.0,255,0,0,0,255,0]}})"}),
    [](const ::testing::TestParamInfo<FaultLine>& param) {
      std::string name = param.param.what;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(FaultLines, AReportWatcherIsToldOfTheFaultOnce) {
  struct Watcher : sim::RunWatcher {
    void OnNativeCall(const sim::NativeSignature&) override {}
    void OnHostEvent(const sim::RunView&, std::string_view) override {}
    void OnFrameEnd(const sim::RunView&) override {}
    void OnFault(const sim::RunView& run, const sim::TraceFault& fault) override {
      faults.push_back(fault.reason + " @" + std::to_string(run.world.clock.frame));
    }
    std::vector<std::string> faults;
  } watcher;
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 10})"));
  simulation.SetWatcher(&watcher);
  simulation.SetScript([] {
    scriptWait(0);
    nativeCall();
    for (;;) scriptWait(0);
  });
  EXPECT_FALSE(simulation.Run());
  EXPECT_EQ(watcher.faults, (std::vector<std::string>{"nativeCall without nativeInit @1"}));
  const sim::RunSummary summary = simulation.Summary();
  EXPECT_EQ(summary.faultCall, "") << "no native call was under way";
}

// Natives and waits belong to the script fibre: the keyboard handler runs on
// another thread and must not make them.
namespace offfibre {
void HandlerCallingNative(std::uint32_t, std::uint16_t, std::uint8_t, std::int32_t, std::int32_t,
                          std::int32_t, std::int32_t) {
  Call(kPlayerPedId, {});
}
void HandlerWaiting(std::uint32_t, std::uint16_t, std::uint8_t, std::int32_t, std::int32_t,
                    std::int32_t, std::int32_t) {
  scriptWait(0);
}
}  // namespace offfibre

TEST(RefusalsOutsideTheFibre, NativeFromTheKeyboardThreadStopsTheRun) {
  for (auto handler : {&offfibre::HandlerCallingNative, &offfibre::HandlerWaiting}) {
    sim::Simulation simulation(
        test::ScenarioFrom(R"({"frames": 10, "events": [{"frame": 4, "key": {"code": 65}}]})"));
    simulation.HostKeyboardHandlerRegister(handler);
    simulation.SetScript([] {
      for (;;) scriptWait(0);
    });
    EXPECT_FALSE(simulation.Run());
    EXPECT_NE(simulation.Fault().find("frame 4"), std::string::npos) << simulation.Fault();
    EXPECT_NE(simulation.Fault().find("outside the script fibre"), std::string::npos)
        << simulation.Fault();
    simulation.HostKeyboardHandlerUnregister(handler);
  }
}

TEST(RefusalsOutsideTheFibre, ScriptEntryThatReturnsStopsTheRun) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 5})"));
  simulation.SetScript([] { scriptWait(0); });
  EXPECT_FALSE(simulation.Run());
  EXPECT_NE(simulation.Fault().find("frame 1"), std::string::npos) << simulation.Fault();
  EXPECT_NE(simulation.Fault().find("must loop for ever"), std::string::npos);
}

TEST(RefusalsOutsideTheFibre, AGoodScriptRunsEveryFrame) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 30})"));
  simulation.SetScript([] {
    for (;;) {
      Call(kPlayerPedId, {});
      scriptWait(0);
    }
  });
  EXPECT_TRUE(simulation.Run()) << simulation.Fault();
  EXPECT_EQ(simulation.GetTrace().Count("PLAYER_PED_ID"), 30U);
  EXPECT_EQ(simulation.Summary().nativeCalls, 30U);
}

// The game's frame count starts where the scenario says and wraps as the
// game's 32-bit count does.
TEST(SimulationClock, TheFrameCountStartsWhereTheScenarioSays) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 3, "startFrameCount": 2147483646})"));
  simulation.SetScript([] {
    for (;;) {
      Call(HashOf("GET_FRAME_COUNT"), {});
      scriptWait(0);
    }
  });
  ASSERT_TRUE(simulation.Run()) << simulation.Fault();
  const auto answers = simulation.GetTrace().Find("GET_FRAME_COUNT");
  ASSERT_EQ(answers.size(), 3U);
  const std::int64_t expected[] = {2147483646, 2147483647, -2147483648LL};
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(answers[i]->result->integer, expected[i]) << i;
}

}  // namespace
