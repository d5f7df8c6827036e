// scenario-from on recordings written by hand: what each kind of recorded
// answer becomes in the scenario, and which ones no scenario can give, named
// by native and first frame.
#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/base/native_table.h"
#include "sim/base/number_format.h"
#include "sim/replay/scenario_fit.h"

namespace {

using nlohmann::json;
using Line = nlohmann::ordered_json;  // a recording's keys stand in the format's order

// A recording written line by line, the frames at 60 fps from game time
// 100000 unless a frame is given its own time.
class Recording {
 public:
  // Lines from here on are frame `frame`'s, at its fixed time or `time`.
  Recording& At(std::int64_t frame, std::int64_t time = -1) {
    frame_ = frame;
    time_ = time >= 0 ? time : 100000 + frame * 1000 / 60;
    return *this;
  }
  Recording& Call(const char* native, json args, std::optional<json> result = std::nullopt,
                  std::optional<json> outs = std::nullopt) {
    const sim::NativeSignature* signature = sim::FindNativeByName(native);
    EXPECT_NE(signature, nullptr) << native;
    Line line = Place();
    line["native"] = sim::HexHash(signature->hash);
    line["args"] = std::move(args);
    if (outs) line["outs"] = std::move(*outs);
    if (result) line["result"] = std::move(*result);
    return Write(line);
  }
  Recording& Host(const char* event, json values = json::object()) {
    Line line = Place();
    line["host"] = event;
    for (const auto& [key, value] : values.items()) line[key] = value;
    return Write(line);
  }
  Recording& Wait(std::int64_t ms = 0) { return Host("scriptWait", {{"ms", ms}}); }
  Recording& Key(std::int64_t code) {
    return Host("keyboard", {{"key", code},
                             {"repeats", 1},
                             {"scanCode", 0},
                             {"extended", 0},
                             {"alt", 0},
                             {"wasDownBefore", 0},
                             {"isUp", 0}});
  }
  // A frame in which the plug-in only looks at the player's health.
  Recording& Health(std::int64_t frame, std::int64_t health) {
    return At(frame)
        .Call("PLAYER_PED_ID", json::array(), 1)
        .Call("GET_ENTITY_HEALTH", {1}, health)
        .Wait();
  }
  Recording& Raw(std::string line) {
    text_ += line + "\n";
    return *this;
  }
  const std::string& Text() const { return text_; }

 private:
  Line Place() const {
    Line line = Line::object();
    line["frame"] = frame_;
    line["time"] = time_;
    return line;
  }
  Recording& Write(const Line& line) {
    text_ += line.dump() + "\n";
    return *this;
  }
  std::string text_;
  std::int64_t frame_ = 0;
  std::int64_t time_ = 100000;
};

// The start every recording here shares: the plug-in loaded and its script
// started in frame 0.
Recording Started() {
  Recording r;
  r.At(-1, 100000).Host("attach").Host("scriptRegister").Host("keyboardHandlerRegister");
  r.At(0).Host("scriptStart");
  return r;
}

sim::ScenarioFromRecording FromText(const std::string& text) {
  return sim::MakeScenarioFromRecording(
      [text] { return sim::RecordingFrames::FromText(text, "hand.jsonl"); });
}

struct Listed {
  std::string what;
  std::int64_t firstFrame;
};

struct FitCase {
  const char* name;
  Recording recording;
  // JSON pointers into the scenario and what they hold.
  std::vector<std::pair<std::string, json>> expected;
  std::vector<Listed> listed;  // what could not be expressed, in order
};

Recording Hitch() {
  Recording r = Started();
  const std::int64_t times[] = {100000, 100016, 100033, 100550, 100566, 100583};
  for (std::int64_t f = 0; f < 6; ++f)
    r.At(f, times[f]).Call("GET_GAME_TIMER", json::array(), times[f]).Wait();
  return r;
}

Recording TimeBack() {
  Recording r = Started();
  r.At(0, 100000).Wait().At(1, 100016).Wait().At(2, 100010).Wait();
  return r;
}

// A movie requested in frame 0 and checked in the frames given, the script
// running every frame.
Recording MovieAt(std::initializer_list<std::pair<std::int64_t, bool>> checks) {
  Recording r = Started();
  r.At(0).Call("REQUEST_SCALEFORM_MOVIE", {"MP_BIG_MESSAGE_FREEMODE"}, 1);
  std::int64_t frame = 0;
  for (const auto& [f, loaded] : checks) {
    for (; frame < f; ++frame) r.Wait().At(frame + 1);
    r.Call("HAS_SCALEFORM_MOVIE_LOADED", {1}, loaded);
  }
  return r.Wait();
}

Recording FailedSearch() {
  Recording r = Started();
  r.At(0).Call("SPAWNPOINTS_START_SEARCH", {1.0, 2.0, 3.0, 35.0, 45.0, 8, 1.0, 5000}).Wait();
  for (std::int64_t f = 1; f <= 3; ++f) {
    r.At(f)
        .Call("SPAWNPOINTS_IS_SEARCH_COMPLETE", json::array(), false)
        .Call("SPAWNPOINTS_IS_SEARCH_FAILED", json::array(), f == 3)
        .Wait();
  }
  return r.At(4).Call("SPAWNPOINTS_CANCEL_SEARCH", json::array()).Wait();
}

Recording SearchResults() {
  Recording r = Started();
  r.At(0).Call("SPAWNPOINTS_START_SEARCH", {1.0, 2.0, 3.0, 35.0, 45.0, 8, 1.0, 5000}).Wait();
  r.At(1)
      .Call("SPAWNPOINTS_IS_SEARCH_COMPLETE", json::array(), true)
      .Call("SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", json::array(), 3)
      .Call("SPAWNPOINTS_GET_SEARCH_RESULT", {2, "out", "out", "out"}, std::nullopt,
            json{7.5, 8.5, 9.5})
      .Call("SPAWNPOINTS_CANCEL_SEARCH", json::array())
      .Wait();
  return r;
}

Recording Labels() {
  Recording r = Started();
  r.At(0)
      .Call("GET_CURRENT_LANGUAGE", json::array(), 2)
      .Call("GET_FILENAME_FOR_AUDIO_CONVERSATION", {"KS_RESPAWN_B"}, "Neu starten")
      .Call("GET_FILENAME_FOR_AUDIO_CONVERSATION", {"RESPAWN_W"}, nullptr)
      .Wait();
  r.At(1)
      .Call("GET_CURRENT_LANGUAGE", json::array(), 3)
      .Call("GET_FILENAME_FOR_AUDIO_CONVERSATION", {"KS_RESPAWN_B"}, "Reaparecer")
      .Wait();
  return r;
}

Recording KeysMidFrame() {
  Recording r = Started();
  r.At(0)
      .Call("PLAYER_PED_ID", json::array(), 1)
      .Key(87)
      .Call("PLAYER_PED_ID", json::array(), 1)
      .Wait();
  r.At(1).Key(65).Call("PLAYER_PED_ID", json::array(), 1).Wait();
  return r;
}

Recording DeathAndHeal() {
  Recording r = Started();
  return r.Health(0, 200).Health(1, 0).Health(2, 0).Health(3, 200);
}

Recording Taps() {
  Recording r = Started();
  for (std::int64_t f = 0; f < 7; ++f) {
    r.At(f).Call("IS_CONTROL_JUST_PRESSED", {0, 223}, f == 1 || f == 2 || f == 5).Wait();
  }
  return r;
}

Recording EarlyWake() {
  Recording r = Started();
  return r.At(0).Wait(100).At(1).Call("PLAYER_PED_ID", json::array(), 1).Wait();
}

// A game's recording: a header, the recorder's own frame count and timer
// lines, and the game's frame count where the plug-in asks it, counting
// `step` a frame (a game that skipped frames the script never saw).
Recording GameFrameCount(std::int64_t step = 1) {
  Recording r;
  r.Raw(R"({"format":"rebound-recording","version":1,"rebound":"0.1.0","build":"recorder",)"
        R"("platform":"windows","hostFile":null,"hostVersion":null,"gameFile":null,)"
        R"("gameVersion":null,"frameBase":5000})");
  r.At(-1).Host("attach");
  for (std::int64_t f = 0; f < 3; ++f) {
    const std::int64_t time = 100000 + f * 1000 / 60;
    r.At(f).Raw(R"({"frame":)" + std::to_string(f) + R"(,"time":)" + std::to_string(time) +
                R"(,"native":"0xFC8202EFC642E6F2","args":[],"result":)" + std::to_string(5000 + f) +
                R"(,"by":"recorder"})");
    if (f == 0) r.Host("scriptStart");
    r.Call("GET_FRAME_COUNT", json::array(), 5000 + f * step).Wait();
  }
  return r;
}

Recording RoadNode() {
  Recording r = Started();
  return r.At(0)
      .Call("GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING",
            {10.0, 20.0, 30.0, 1, "out", "out", "out", 0, 3.0, 0.0}, true,
            json{json{40.0, 50.0, 60.0}, 90.0, 2})
      .Wait();
}

// The game fades out by itself in frame 2, and is black in frame 5.
Recording GameFade() {
  Recording r = Started();
  for (std::int64_t f = 0; f < 6; ++f) {
    r.At(f)
        .Call("IS_SCREEN_FADING_OUT", json::array(), f >= 2 && f < 5)
        .Call("IS_SCREEN_FADED_OUT", json::array(), f == 5)
        .Wait();
  }
  return r;
}

// A texture dictionary asked for in frame 0 and there in frame 1.
Recording Textures() {
  Recording r = Started();
  r.At(0)
      .Call("REQUEST_STREAMED_TEXTURE_DICT", {"timerbars", false})
      .Call("HAS_STREAMED_TEXTURE_DICT_LOADED", {"timerbars"}, false)
      .Wait();
  r.At(1).Call("HAS_STREAMED_TEXTURE_DICT_LOADED", {"timerbars"}, true).Wait();
  return r;
}

// The recorder's buffer was full after frame 3: nothing after is whole.
Recording Dropped() {
  Recording r = Started();
  for (std::int64_t f = 0; f < 4; ++f) r.Health(f, 200);
  r.At(8).Host("dropped", {{"frames", 4}});
  for (std::int64_t f = 8; f < 10; ++f) r.Health(f, 0);
  return r;
}

// The player as another game had it: its ped and id, its most health and
// where it stands, read before anything relied on them, then moved.
Recording PlayerSettings() {
  Recording r = Started();
  r.At(0)
      .Call("PLAYER_PED_ID", json::array(), 7)
      .Call("PLAYER_ID", json::array(), 3)
      .Call("GET_ENTITY_MAX_HEALTH", {7}, 300)
      .Call("GET_ENTITY_COORDS", {7, true}, json{1.5, 2.5, 3.5})
      .Wait();
  return r.At(1).Call("GET_ENTITY_COORDS", {7, true}, json{4.0, 5.0, 6.0}).Wait();
}

Recording Injured() {
  Recording r = Started();
  r.Health(0, 200);
  return r.At(1).Call("PLAYER_PED_ID", json::array(), 1).Call("IS_PED_INJURED", {1}, true).Wait();
}

// What the screen shows: the busy spinner, a HUD colour and the game's
// null-or-empty text test, which the catalogue knows by hash only.
Recording Display() {
  Recording r = Started();
  r.At(0)
      .Call("BUSYSPINNER_IS_ON", json::array(), true)
      .Call("GET_HUD_COLOUR", {6, "out", "out", "out", "out"}, std::nullopt, json{10, 20, 30, 255})
      .Call("null or empty text test", {0}, 0)
      .Wait();
  return r.At(1).Call("BUSYSPINNER_IS_ON", json::array(), false).Wait();
}

Recording RestartAndUnload() {
  Recording r = Started();
  r.At(0).Wait().At(1).Wait(500).At(2).Host("scriptStart").Wait();
  return r.At(3).Wait().At(4).Host("detach").Host("scriptUnregister");
}

std::vector<FitCase> Cases() {
  return {
      {"a hitch",
       Hitch(),
       {{"/fps", 60},
        {"/frames", 6},
        {"/startGameTime", 100000},
        {"/events", json::array({{{"frame", 3}, {"hitchMs", 517}}})}},
       {}},
      {"game time going back", TimeBack(), {}, {{"GET_GAME_TIMER", 2}}},
      {"a movie loaded later in the frame that read it not loaded",
       MovieAt({{0, false}, {0, true}}),
       {},
       {{"HAS_SCALEFORM_MOVIE_LOADED", 0}}},
      {"a movie loaded within its request",
       MovieAt({{0, true}}),
       {{"/world/scaleform/MP_BIG_MESSAGE_FREEMODE/loadFrames", 0}},
       {}},
      {"a movie three frames after its request",
       MovieAt({{1, false}, {2, false}, {3, true}}),
       {{"/world/scaleform/MP_BIG_MESSAGE_FREEMODE/loadFrames", 3}},
       {}},
      {"a movie that never loads",
       MovieAt({{4, false}, {9, false}}),
       {{"/world/scaleform/MP_BIG_MESSAGE_FREEMODE/loadFrames", "never"}},
       {}},
      {"a failed search",
       FailedSearch(),
       {{"/world/spawnSearch/frames", 3}, {"/world/spawnSearch/outcome", "failed"}},
       {}},
      {"search results, one read",
       SearchResults(),
       {{"/world/spawnSearch/frames", 1},
        {"/world/spawnSearch/results",
         json::array({{1.0, 2.0, 3.0}, {1.0, 2.0, 3.0}, {7.5, 8.5, 9.5}})}},
       {}},
      {"language and labels",
       Labels(),
       {{"/world/language", 2},
        {"/world/labels", {{"KS_RESPAWN_B", "Neu starten"}}},
        {"/world/labelsByLanguage/3", {{"KS_RESPAWN_B", "Reaparecer"}}},
        {"/events", json::array({{{"frame", 1}, {"language", 3}}})}},
       {}},
      {"keyboard messages at a frame's start and mid-frame",
       KeysMidFrame(),
       {{"/events", json::array({{{"frame", 0}, {"key", {{"code", 87}}}, {"atCall", 1}},
                                 {{"frame", 1}, {"key", {{"code", 65}}}}})}},
       {}},
      {"a death and a heal",
       DeathAndHeal(),
       {{"/events", json::array({{{"frame", 1}, {"health", 0}}, {{"frame", 3}, {"heal", true}}})}},
       {}},
      {"taps, two of them adjacent",
       Taps(),
       {{"/events", json::array({{{"frame", 1}, {"tap", 223}},
                                 {{"from", 2}, {"to", 2}, {"tapEveryFrames", 1}, {"control", 223}},
                                 {{"frame", 5}, {"tap", 223}}})}},
       {}},
      {"a wait that returned early", EarlyWake(), {}, {{"scriptWait", 0}}},
      {"the game's frame count",
       GameFrameCount(),
       {{"/frames", 3}, {"/startFrameCount", 5000}},
       {}},
      {"a frame count that skips",
       GameFrameCount(2),
       {{"/startFrameCount", 5000}},
       {{"GET_FRAME_COUNT", 1}}},
      {"a road node",
       RoadNode(),
       {{"/world/roadNodes",
         json::array({{{"position", {40.0, 50.0, 60.0}}, {"heading", 90.0}, {"lanes", 2}}})}},
       {}},
      {"a fade the game started",
       GameFade(),
       {{"/events",
         json::array({{{"frame", 2}, {"fadeOut", 1000}}, {{"frame", 5}, {"fadeOut", 0}}})}},
       {}},
      {"a texture dictionary a frame after its request",
       Textures(),
       {{"/world/textures/perDictionary/timerbars", 1}},
       {}},
      {"the player's ped, id, most health and place",
       PlayerSettings(),
       {{"/player/pedHandle", 7},
        {"/player/playerId", 3},
        {"/player/maxHealth", 300},
        {"/player/position", {1.5, 2.5, 3.5}},
        {"/events", json::array({{{"frame", 1}, {"position", {4.0, 5.0, 6.0}}}})}},
       {}},
      {"an injured player",
       Injured(),
       {{"/events", json::array({{{"frame", 1}, {"injure", true}}})}},
       {}},
      {"the busy spinner, a HUD colour and the null-or-empty text test",
       Display(),
       {{"/world/busySpinner", true},
        {"/world/hudColours/6", {10, 20, 30, 255}},
        {"/world/nullOrEmptyTextAnswer", 0},
        {"/events", json::array({{{"frame", 1}, {"busySpinner", false}}})}},
       {}},
      {"frames the recorder dropped", Dropped(), {{"/frames", 4}}, {}},
      {"a restart and an unload",
       RestartAndUnload(),
       {{"/frames", 5},
        {"/events",
         json::array({{{"frame", 2}, {"restartScript", true}}, {{"frame", 4}, {"unload", true}}})}},
       {}},
  };
}

TEST(ScenarioFromRecording, EachKindOfAnswerBecomesItsSettingOrEventOrIsListed) {
  for (const FitCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const sim::ScenarioFromRecording made = FromText(c.recording.Text());
    const json scenario = json::parse(made.text);
    for (const auto& [pointer, value] : c.expected) {
      const json::json_pointer at(pointer);
      ASSERT_TRUE(scenario.contains(at)) << pointer << " in\n" << made.text;
      EXPECT_EQ(scenario.at(at), value) << pointer << " in\n" << made.text;
    }
    std::vector<std::pair<std::string, std::int64_t>> listed;
    for (const sim::Unexpressed& item : made.unexpressed.Items()) {
      listed.emplace_back(item.what, item.firstFrame);
    }
    std::vector<std::pair<std::string, std::int64_t>> expected;
    for (const Listed& l : c.listed) expected.emplace_back(l.what, l.firstFrame);
    EXPECT_EQ(listed, expected) << sim::DescribeUnexpressed(made.unexpressed);
    // The name says whether anything was left out.
    EXPECT_EQ(scenario["name"].get<std::string>().find("could not express") != std::string::npos,
              !c.listed.empty());
  }
}

TEST(ScenarioFromRecording, FitsNativesOfTheCatalogueEachNamedOnceAndNoneByHash) {
  const std::vector<std::string_view> names = sim::ScenarioFitNatives();
  EXPECT_GE(names.size(), 20U);
  std::set<const sim::NativeSignature*> seen;
  for (std::string_view name : names) {
    SCOPED_TRACE(name);
    const sim::NativeSignature* native = sim::FindNativeByName(name);
    ASSERT_NE(native, nullptr) << "a name the catalogue lacks is never fitted";
    EXPECT_TRUE(seen.insert(native).second) << "named twice: the second entry is never read";
    EXPECT_FALSE(name.starts_with("0x")) << "the catalogue alone spells a hash";
  }
}

TEST(ScenarioFromRecording, ListsEachKindOnceWithItsCountAndTheFirstAnswer) {
  const sim::ScenarioFromRecording made = FromText(GameFrameCount(2).Text());
  ASSERT_EQ(made.unexpressed.Items().size(), 1U);
  const sim::Unexpressed& item = made.unexpressed.Items()[0];
  EXPECT_EQ(item.count, 2U);
  EXPECT_EQ(item.detail, "the game answered 5002, the simulated game answers 5001");
  EXPECT_EQ(sim::DescribeUnexpressed(made.unexpressed),
            "  GET_FRAME_COUNT, from frame 1 (2 answers): the game answered 5002, the simulated "
            "game answers 5001\n");
}

TEST(ScenarioFromRecording, ABrokenRecordingIsRefusedNamingLineAndField) {
  Recording r = Started();
  r.Raw(R"({"frame":0,"time":100000,"native":"0xD80958FC74E988A6","args":[],"result":"x"})");
  try {
    FromText(r.Text());
    FAIL() << "read";
  } catch (const sim::RecordingError& e) {
    EXPECT_NE(std::string(e.what()).find("hand.jsonl:5: field \"result\""), std::string::npos)
        << e.what();
  }
}

TEST(ScenarioFromRecording, AnIdleStretchTakesTheClocksTimesAndInventsNoHitch) {
  // Frames 1..300 repeat frame 0 as the recorder writes them: only the
  // stretch's first and last time are known, the ones between interpolated
  // and a millisecond off the 60 fps clock at most frames.
  Recording r = Started();
  r.Health(0, 200);
  const std::int64_t last = 300;
  r.At(last).Host("repeat", {{"frames", last}, {"firstFrame", 1}, {"firstTime", 100016}});
  r.Health(last + 1, 200);
  const sim::ScenarioFromRecording made = FromText(r.Text());
  EXPECT_TRUE(made.unexpressed.Items().empty()) << sim::DescribeUnexpressed(made.unexpressed);
  const json scenario = json::parse(made.text);
  EXPECT_EQ(scenario["fps"], 60);
  EXPECT_EQ(scenario["frames"], last + 2);
  for (const json& event : scenario.value("events", json::array()))
    EXPECT_FALSE(event.contains("hitchMs")) << event.dump();
}

}  // namespace
