// Scaleform movies as the script sees them: handles, a movie that loads late
// or never, the shard's method calls with their strings resolved, full-screen
// drawing into the frame's draw list, and release.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/host/simulation.h"
#include "src/host/natives.h"
#include "tests/support/sim_harness.h"

namespace {

namespace natives = rebound::natives;
using test::RunScript;

constexpr const char* kShard = "MP_BIG_MESSAGE_FREEMODE";

// The shard filled the way the respawn flow fills it; the second string is
// begun with the empty text, or with a null entry.
void FillShard(std::int32_t movie, bool nullEntry) {
  natives::BEGIN_SCALEFORM_MOVIE_METHOD(movie, "RESET_MOVIE");
  natives::END_SCALEFORM_MOVIE_METHOD();
  natives::BEGIN_SCALEFORM_MOVIE_METHOD(movie, "SHOW_SHARD_WASTED_MP_MESSAGE");
  natives::BEGIN_TEXT_COMMAND_SCALEFORM_STRING("STRING");
  natives::ADD_TEXT_COMPONENT_SUBSTRING_TEXT_LABEL("RESPAWN_W");
  natives::END_TEXT_COMMAND_SCALEFORM_STRING();
  natives::BEGIN_TEXT_COMMAND_SCALEFORM_STRING(nullEntry ? nullptr : "");
  natives::END_TEXT_COMMAND_SCALEFORM_STRING();
  for (int i = 0; i < 3; ++i) natives::SCALEFORM_MOVIE_METHOD_ADD_PARAM_INT(0);
  natives::END_SCALEFORM_MOVIE_METHOD();
}

TEST(Scaleform, HandlesCountUpAndAreNeverReused) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 2})"));
  std::vector<std::int32_t> handles;
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame != 0) return;
    handles.push_back(natives::REQUEST_SCALEFORM_MOVIE(kShard));
    handles.push_back(natives::REQUEST_SCALEFORM_MOVIE(kShard));
    std::int32_t released = handles.back();
    natives::SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED(&released);
    EXPECT_EQ(released, 0) << "the game clears the caller's handle";
    handles.push_back(natives::REQUEST_SCALEFORM_MOVIE("OTHER"));
  })) << simulation.Fault();
  EXPECT_EQ(handles, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_TRUE(simulation.GetWorld().scaleform.movies[1].released);
}

struct LoadCase {
  const char* what;
  const char* settings;  // "world.scaleform"
  const char* movie;
  std::int64_t loadedFrame;  // first frame HAS_SCALEFORM_MOVIE_LOADED is true; -1 never
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.what; }

class MovieLoading : public ::testing::TestWithParam<LoadCase> {};

TEST_P(MovieLoading, LoadsTheConfiguredFramesAfterTheRequestOrNever) {
  const LoadCase& c = GetParam();
  sim::Simulation simulation(test::ScenarioFrom(
      std::string(R"({"frames": 200, "world": {"scaleform": )") + c.settings + "}}"));
  std::int32_t movie = -1;
  std::vector<std::int64_t> loaded;
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame == 2) movie = natives::REQUEST_SCALEFORM_MOVIE(c.movie);
    if (movie != -1 && natives::HAS_SCALEFORM_MOVIE_LOADED(movie)) loaded.push_back(frame);
  })) << simulation.Fault();
  if (c.loadedFrame < 0) {
    EXPECT_TRUE(loaded.empty());
    return;
  }
  ASSERT_FALSE(loaded.empty());
  EXPECT_EQ(loaded.front(), c.loadedFrame);
  EXPECT_EQ(loaded.size(), static_cast<std::size_t>(200 - c.loadedFrame)) << "stays loaded";
}

INSTANTIATE_TEST_SUITE_P(
    Scaleform, MovieLoading,
    ::testing::Values(
        LoadCase{"default_five_frames", "{}", kShard, 7},
        LoadCase{"zero_frames_loads_within_the_request", R"({"loadFrames": 0})", kShard, 2},
        LoadCase{"late_by_name", R"({"MP_BIG_MESSAGE_FREEMODE": {"loadFrames": 30}})", kShard, 32},
        LoadCase{"other_names_keep_the_default",
                 R"({"loadFrames": 1, "MP_BIG_MESSAGE_FREEMODE": {"loadFrames": 30}})", "OTHER", 3},
        LoadCase{"never", R"({"loadFrames": "never"})", kShard, -1},
        LoadCase{"never_by_name",
                 R"({"loadFrames": 1, "MP_BIG_MESSAGE_FREEMODE": {"loadFrames": "never"}})", kShard,
                 -1}),
    [](const auto& p) { return std::string(p.param.what); });

struct ShardCase {
  const char* what;
  const char* labels;  // the scenario's label table; empty for the built-in one
  bool nullEntry;
  std::string title;
};

TEST(Scaleform, TheShardRecordsItsMethodsWithTheirStringsResolved) {
  const ShardCase cases[] = {
      {"label from the table", "", false, "WASTED"},
      {"a label the game lacks shows its key", R"({"KS_RESPAWN_B": "Respawn"})", false,
       "RESPAWN_W"},
      {"a null entry reads as empty text", "", true, "WASTED"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string labels = *c.labels != '\0' ? std::string(R"(, "labels": )") + c.labels : "";
    sim::Simulation simulation(test::ScenarioFrom(
        R"({"frames": 12, "world": {"scaleform": {"loadFrames": 3})" + labels + "}}"));
    std::int32_t movie = -1;
    ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
      if (frame == 0) movie = natives::REQUEST_SCALEFORM_MOVIE(kShard);
      if (frame == 5) FillShard(movie, c.nullEntry);
      if (frame == 5 || frame == 6) {
        natives::DRAW_SCALEFORM_MOVIE_FULLSCREEN(movie, 255, 255, 255, 255, 0);
      }
    })) << simulation.Fault();
    const sim::ScaleformMovie& shard = simulation.GetWorld().scaleform.movies.at(0);
    ASSERT_EQ(shard.methods.size(), 2U);
    EXPECT_EQ(shard.methods[0].method, "RESET_MOVIE");
    EXPECT_TRUE(shard.methods[0].params.empty());
    const sim::ScaleformMethodCall& show = shard.methods[1];
    EXPECT_EQ(show.method, "SHOW_SHARD_WASTED_MP_MESSAGE");
    EXPECT_EQ(show.frame, 5);
    ASSERT_EQ(show.params.size(), 5U);
    EXPECT_EQ(show.params[0].text, c.title);
    EXPECT_EQ(show.params[1].kind, sim::ScaleformParam::Kind::String);
    EXPECT_EQ(show.params[1].text, "");
    EXPECT_EQ(show.params[1].nullEntry, c.nullEntry);
    for (int i = 2; i < 5; ++i) {
      EXPECT_EQ(show.params[i].kind, sim::ScaleformParam::Kind::Int);
      EXPECT_EQ(show.params[i].integer, 0);
    }
    EXPECT_TRUE(shard.shardShown);
    EXPECT_EQ(shard.shardTitle, c.title);
    EXPECT_EQ(shard.firstDrawnFrame, 5);
    EXPECT_EQ(shard.lastDrawnFrame, 6);

    const sim::DrawingModel& drawing = simulation.GetWorld().drawing;
    ASSERT_EQ(drawing.DrawList(5).size(), 1U);
    const sim::DrawItem& drawn = drawing.DrawList(5)[0];
    EXPECT_EQ(drawn.kind, sim::DrawKind::Movie);
    EXPECT_EQ(drawn.texture, kShard);
    EXPECT_EQ(drawn.text, c.title);
    EXPECT_EQ(drawn.colour, (sim::Colour{255, 255, 255, 255}));
    EXPECT_TRUE(drawing.DrawList(7).empty()) << "drawing is for one frame";
  }
}

TEST(Scaleform, AMovieNotYetLoadedTakesNoMethodAndDrawsNothing) {
  sim::Simulation simulation(
      test::ScenarioFrom(R"({"frames": 6, "world": {"scaleform": {"loadFrames": "never"}}})"));
  bool begun = true;
  ASSERT_TRUE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame != 1) return;
    const std::int32_t movie = natives::REQUEST_SCALEFORM_MOVIE(kShard);
    begun = rebound::InvokeNative<bool>(0xF6E48914C7A8694E, movie, "RESET_MOVIE");
    natives::END_SCALEFORM_MOVIE_METHOD();
    natives::DRAW_SCALEFORM_MOVIE_FULLSCREEN(movie, 255, 255, 255, 255, 0);
    natives::DRAW_SCALEFORM_MOVIE_FULLSCREEN(-1, 255, 255, 255, 255, 0);
  })) << simulation.Fault();
  EXPECT_FALSE(begun);
  EXPECT_TRUE(simulation.GetWorld().scaleform.movies.at(0).methods.empty());
  EXPECT_TRUE(simulation.GetWorld().drawing.DrawList(1).empty());
}

TEST(Scaleform, DrawingAReleasedMovieStopsTheRun) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 20})"));
  std::int32_t movie = -1;
  std::int32_t kept = -1;
  ASSERT_FALSE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame == 0) movie = kept = natives::REQUEST_SCALEFORM_MOVIE(kShard);
    if (frame == 8) natives::SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED(&movie);
    if (frame >= 6) natives::DRAW_SCALEFORM_MOVIE_FULLSCREEN(kept, 255, 255, 255, 255, 0);
  }));
  const std::string fault = simulation.Fault();
  EXPECT_NE(fault.find("frame 8"), std::string::npos) << fault;
  EXPECT_NE(fault.find("DRAW_SCALEFORM_MOVIE_FULLSCREEN(1) of movie MP_BIG_MESSAGE_FREEMODE "
                       "(handle 1) after it was released in frame 8"),
            std::string::npos)
      << fault;
  EXPECT_EQ(simulation.GetWorld().scaleform.movies.at(0).timesDrawn, 2) << "frames 6 and 7";
}

// One movie a death over a long run: released movies are forgotten, yet the
// first one's handle still reads as released, so that using it stops the run.
TEST(Scaleform, ALongRunHoldsFewMoviesAndAForgottenHandleStaysReleased) {
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 3})"));
  constexpr int kCycles = 100;
  std::int32_t last = 0;
  ASSERT_FALSE(RunScript(simulation, [&](std::int64_t frame) {
    if (frame == 0) {
      for (int i = 0; i < kCycles; ++i) {
        std::int32_t movie = last = natives::REQUEST_SCALEFORM_MOVIE(kShard);
        natives::SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED(&movie);
      }
    }
    if (frame == 1) natives::DRAW_SCALEFORM_MOVIE_FULLSCREEN(1, 255, 255, 255, 255, 0);
  }));
  const sim::ScaleformModel& model = simulation.GetWorld().scaleform;
  EXPECT_EQ(last, kCycles) << "handles still count up";
  EXPECT_EQ(model.movies.size(), sim::ScaleformModel::kKeptMovies);
  EXPECT_EQ(model.movies.front().handle, kCycles - 7);
  EXPECT_NE(simulation.Fault().find("DRAW_SCALEFORM_MOVIE_FULLSCREEN(1) of movie released "
                                    "earlier (handle 1) after it was released"),
            std::string::npos)
      << simulation.Fault();
}

TEST(Scaleform, BadSettingsNameTheField) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"world": {"scaleform": {"loadFrames": "soon"}}})",
       "field 'world.scaleform.loadFrames': expected a number of frames or \"never\", got a "
       "string"},
      {R"({"world": {"scaleform": {"loadFrames": -1}}})",
       "field 'world.scaleform.loadFrames': expected an integer from 0"},
      {R"({"world": {"scaleform": {"MP_BIG_MESSAGE_FREEMODE": 30}}})",
       "field 'world.scaleform.MP_BIG_MESSAGE_FREEMODE': expected the movie's settings"},
      {R"({"world": {"scaleform": {"MP_BIG_MESSAGE_FREEMODE": {"frames": 3}}}})",
       "missing field 'loadFrames'"},
      {R"({"world": {"scaleform": [5]}})", "field 'world.scaleform': expected an object"},
  };
  test::ExpectScenarioErrors("movies.json", cases);
}

}  // namespace
