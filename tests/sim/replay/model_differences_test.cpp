// The rules of where a recording leaves the world model: each breaks on an
// answer the model never gives, and keeps quiet on a like answer it can give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/base/number_format.h"
#include "sim/recording/trace_reader.h"
#include "sim/replay/model_differences.h"

namespace {

using Rule = sim::ModelDifferences::Rule;

// A native line of the trace, by the native's name.
std::string N(std::int64_t frame, std::int64_t time, const char* name, const char* args,
              const char* result = nullptr) {
  const sim::NativeSignature* signature = sim::FindNativeByName(name);
  EXPECT_NE(signature, nullptr) << name;
  std::string line = "{\"frame\":" + std::to_string(frame) + ",\"time\":" + std::to_string(time) +
                     ",\"native\":\"" + sim::HexHash(signature->hash) + "\",\"args\":" + args;
  if (result != nullptr) line += std::string(",\"result\":") + result;
  return line + "}\n";
}

std::string Wait(std::int64_t frame, std::int64_t time, std::int64_t ms) {
  return "{\"frame\":" + std::to_string(frame) + ",\"time\":" + std::to_string(time) +
         ",\"host\":\"scriptWait\",\"ms\":" + std::to_string(ms) + "}\n";
}

struct Case {
  const char* what;
  std::string lines;
  Rule rule;
  std::uint64_t count;  // answers breaking `rule`; every other rule unbroken
};

std::vector<Case> Cases() {
  return {
      {"two times in one frame",
       N(1, 100, "GET_GAME_TIMER", "[]", "100") + N(1, 100, "GET_GAME_TIMER", "[]", "101"),
       Rule::kTimerWithinFrame, 1},
      {"the timer goes back",
       N(1, 100, "GET_GAME_TIMER", "[]", "100") + N(2, 90, "GET_GAME_TIMER", "[]", "90"),
       Rule::kTimerBackwards, 1},
      {"the timer wraps",
       N(1, 0, "GET_GAME_TIMER", "[]", "2147483647") +
           N(2, 0, "GET_GAME_TIMER", "[]", "-2147483630"),
       Rule::kTimerBackwards, 0},
      {"the frame count skips",
       N(0, 0, "GET_FRAME_COUNT", "[]", "1000") + N(1, 0, "GET_FRAME_COUNT", "[]", "1002"),
       Rule::kFrameCount, 1},
      {"the frame count follows the frames",
       N(0, 0, "GET_FRAME_COUNT", "[]", "1000") + N(3, 0, "GET_FRAME_COUNT", "[]", "1003"),
       Rule::kFrameCount, 0},
      {"a wait of 50 ms over in 16", Wait(1, 100, 50) + N(2, 116, "PLAYER_ID", "[]", "0"),
       Rule::kWaitShort, 1},
      {"a wait of 50 ms over in 50", Wait(1, 100, 50) + N(4, 150, "PLAYER_ID", "[]", "0"),
       Rule::kWaitShort, 0},
      {"a wait over in its own frame", Wait(1, 100, 0) + N(1, 100, "PLAYER_ID", "[]", "0"),
       Rule::kWaitSameFrame, 1},
      {"a key after the wait, the call in the next frame",
       Wait(1, 100, 0) +
           R"({"frame":1,"time":100,"host":"keyboard","key":87,"repeats":1,"scanCode":17,"extended":0,"alt":0,"wasDownBefore":0,"isUp":0})"
           "\n" +
           N(2, 116, "PLAYER_ID", "[]", "0"),
       Rule::kWaitSameFrame, 0},
      {"a distance off its points", N(1, 0, "VDIST", "[0.0,0.0,0.0,3.0,4.0,0.0]", "6.0"),
       Rule::kDistance, 1},
      {"a distance of its points",
       N(1, 0, "VDIST", "[0.0,0.0,0.0,3.0,4.0,0.0]", "5.0") +
           N(1, 0, "VDIST", "[\"NaN\",0.0,0.0,3.0,4.0,0.0]", "\"NaN\""),
       Rule::kDistance, 0},
      {"a movie handle given twice",
       N(1, 0, "REQUEST_SCALEFORM_MOVIE", "[\"M\"]", "1") +
           N(2, 0, "REQUEST_SCALEFORM_MOVIE", "[\"M\"]", "1") +
           N(2, 0, "REQUEST_SCALEFORM_MOVIE", "[\"M\"]", "-2"),
       Rule::kMovieHandleReused, 2},
      {"failed movie requests",
       N(1, 0, "REQUEST_SCALEFORM_MOVIE", "[\"M\"]", "-1") +
           N(2, 0, "REQUEST_SCALEFORM_MOVIE", "[\"M\"]", "0"),
       Rule::kMovieHandleReused, 0},
      {"a movie loaded that nobody requested", N(1, 0, "HAS_SCALEFORM_MOVIE_LOADED", "[7]", "true"),
       Rule::kMovieLoadedUnknown, 1},
      {"a movie loaded between two checks of a frame",
       N(1, 0, "REQUEST_SCALEFORM_MOVIE", "[\"M\"]", "1") +
           N(2, 0, "HAS_SCALEFORM_MOVIE_LOADED", "[1]", "false") +
           N(2, 0, "HAS_SCALEFORM_MOVIE_LOADED", "[1]", "true"),
       Rule::kMovieLoadedMidFrame, 1},
      {"a movie loaded within its request, or at a frame's start",
       N(1, 0, "REQUEST_SCALEFORM_MOVIE", "[\"M\"]", "1") +
           N(1, 0, "HAS_SCALEFORM_MOVIE_LOADED", "[1]", "true") +
           N(2, 0, "REQUEST_SCALEFORM_MOVIE", "[\"M\"]", "2") +
           N(2, 0, "HAS_SCALEFORM_MOVIE_LOADED", "[2]", "false") +
           N(3, 0, "HAS_SCALEFORM_MOVIE_LOADED", "[2]", "true"),
       Rule::kMovieLoadedMidFrame, 0},
      {"a texture dictionary unloaded",
       N(1, 0, "HAS_STREAMED_TEXTURE_DICT_LOADED", "[\"d\"]", "true") +
           N(2, 0, "HAS_STREAMED_TEXTURE_DICT_LOADED", "[\"d\"]", "false"),
       Rule::kTextureUnloaded, 1},
      {"a texture dictionary loaded between two checks",
       N(1, 0, "HAS_STREAMED_TEXTURE_DICT_LOADED", "[\"d\"]", "false") +
           N(1, 0, "HAS_STREAMED_TEXTURE_DICT_LOADED", "[\"d\"]", "true"),
       Rule::kTextureLoadedMidFrame, 1},
      {"a texture dictionary loaded within its request",
       N(1, 0, "HAS_STREAMED_TEXTURE_DICT_LOADED", "[\"d\"]", "false") +
           N(1, 0, "REQUEST_STREAMED_TEXTURE_DICT", "[\"d\",false]") +
           N(1, 0, "HAS_STREAMED_TEXTURE_DICT_LOADED", "[\"d\"]", "true"),
       Rule::kTextureLoadedMidFrame, 0},
      {"a search complete and failed",
       N(5, 0, "SPAWNPOINTS_IS_SEARCH_COMPLETE", "[]", "true") +
           N(5, 0, "SPAWNPOINTS_IS_SEARCH_FAILED", "[]", "true"),
       Rule::kSearchTwoStates, 1},
      {"results counted for a search not complete",
       N(5, 0, "SPAWNPOINTS_IS_SEARCH_COMPLETE", "[]", "false") +
           N(5, 0, "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", "[]", "2"),
       Rule::kSearchCountNotComplete, 1},
      {"a search completing from one frame to the next",
       N(5, 0, "SPAWNPOINTS_IS_SEARCH_COMPLETE", "[]", "false") +
           N(6, 0, "SPAWNPOINTS_IS_SEARCH_COMPLETE", "[]", "true") +
           N(6, 0, "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", "[]", "2"),
       Rule::kSearchCountNotComplete, 0},
      {"a search there after its cancel",
       N(5, 0, "SPAWNPOINTS_CANCEL_SEARCH", "[]") +
           N(6, 0, "SPAWNPOINTS_IS_SEARCH_COMPLETE", "[]", "true"),
       Rule::kSearchAfterCancel, 1},
      {"a new search after a cancel",
       N(5, 0, "SPAWNPOINTS_CANCEL_SEARCH", "[]") +
           N(5, 0, "SPAWNPOINTS_START_SEARCH", "[1.0,2.0,3.0,50.0,5.0,2,2.0,5000]") +
           N(6, 0, "SPAWNPOINTS_IS_SEARCH_COMPLETE", "[]", "true"),
       Rule::kSearchAfterCancel, 0},
      {"labels the built-in table lacks or words otherwise",
       N(1, 0, "GET_FILENAME_FOR_AUDIO_CONVERSATION", "[\"KS_RESPAWN_B\"]", "\"Réapparaître\"") +
           N(1, 0, "GET_FILENAME_FOR_AUDIO_CONVERSATION", "[\"RESPAWN_W\"]", "null") +
           N(1, 0, "GET_FILENAME_FOR_AUDIO_CONVERSATION", "[\"OTHER\"]", "\"x\""),
       Rule::kLabelText, 3},
      {"labels as the built-in table has them",
       N(1, 0, "GET_FILENAME_FOR_AUDIO_CONVERSATION", "[\"KS_RESPAWN_B\"]", "\"Respawn\"") +
           N(1, 0, "GET_FILENAME_FOR_AUDIO_CONVERSATION", "[\"OTHER\"]", "null"),
       Rule::kLabelText, 0},
  };
}

TEST(ModelDifferences, EachRuleBreaksOnlyOnAnswersTheModelNeverGives) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    const sim::Recording recording = sim::ReadRecordingText(c.lines, "case.jsonl");
    sim::ModelDifferences differences;
    for (const sim::TraceEntry& e : recording.entries) differences.OnLine(e);
    for (int r = 0; r < Rule::kRuleCount; ++r) {
      const auto rule = static_cast<Rule>(r);
      EXPECT_EQ(differences.Count(rule), rule == c.rule ? c.count : 0)
          << sim::ModelDifferences::RuleNative(rule) << ": "
          << sim::ModelDifferences::RuleWhat(rule);
    }
  }
}

TEST(ModelDifferences, AResultReadPastTheCountBreaksItsRule) {
  const sim::Recording recording = sim::ReadRecordingText(
      N(5, 0, "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", "[]", "2") +
          "{\"frame\":5,\"time\":0,\"native\":\"0x280C7E3AC7F56E90\",\"args\":[1,\"out\",\"out\","
          "\"out\"],\"outs\":[1.0,2.0,3.0]}\n"
          "{\"frame\":5,\"time\":0,\"native\":\"0x280C7E3AC7F56E90\",\"args\":[2,\"out\",\"out\","
          "\"out\"],\"outs\":[1.0,2.0,3.0]}\n",
      "case.jsonl");
  sim::ModelDifferences differences;
  for (const sim::TraceEntry& e : recording.entries) differences.OnLine(e);
  EXPECT_EQ(differences.Count(Rule::kSearchResultOutsideCount), 1U);
  const std::vector<sim::ModelDifferenceReport> reports = differences.Reports();
  ASSERT_EQ(reports.size(), 1U);
  EXPECT_EQ(sim::DescribeModelDifference(reports[0]),
            "SPAWNPOINTS_GET_SEARCH_RESULT: 1 answer the model never gives: a result read outside "
            "the count of results given, first at frame 5");
}

}  // namespace
