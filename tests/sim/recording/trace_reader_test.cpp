// The recording reader: lines read back as the trace wrote them, the header,
// frames filled in, repeats expanded, and every bad line named by file, line
// and field.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "sim/recording/trace_reader.h"

namespace {

using sim::TraceEntry;
using sim::TraceValue;

constexpr const char* kHeader =
    R"({"format":"rebound-recording","version":1,"rebound":"0.1.0","build":"recorder",)"
    R"("platform":"windows","hostFile":"ScriptHookV.dll","hostVersion":"1.0.3095.0",)"
    R"("gameFile":"GTA5.exe","gameVersion":"1.0.3095.0","frameBase":123456})"
    "\n";

TraceEntry Native(const char* name, std::vector<TraceValue> args) {
  TraceEntry e;
  e.frame = 3;
  e.time = 100050;
  e.native = sim::FindNativeByName(name);
  e.args = std::move(args);
  return e;
}

TraceEntry Host(const char* name, std::vector<TraceValue> values = {}) {
  TraceEntry e;
  e.frame = 3;
  e.time = 100050;
  e.host = name;
  e.args = std::move(values);
  return e;
}

std::string Lines(const std::vector<TraceEntry>& entries) {
  std::string text;
  for (const TraceEntry& e : entries) text += sim::Trace::ToJson(e) + "\n";
  return text;
}

// Every kind of value the trace writes reads back to the very line.
TEST(TraceReader, ReadsBackEveryLineTheTraceWrites) {
  constexpr float kFloatNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kFloatInf = std::numeric_limits<float>::infinity();
  std::vector<TraceEntry> entries;
  entries.push_back(Host("seed", {TraceValue::Int(9007199254740991)}));
  entries.push_back(Host("attach"));
  entries.push_back(Host("scriptWait", {TraceValue::Int(4294967295)}));
  entries.push_back(Host(
      "keyboard", {TraceValue::Int(87), TraceValue::Int(1), TraceValue::Int(17), TraceValue::Int(0),
                   TraceValue::Int(0), TraceValue::Int(1), TraceValue::Int(-1)}));
  entries.push_back(Host("randomDraw", {TraceValue::Int(4000000000)}));
  TraceEntry coords = Native("GET_ENTITY_COORDS", {TraceValue::Int(-7), TraceValue::Bool(true)});
  coords.result = TraceValue::Vector(kFloatNaN, -kFloatInf, 0.923f);
  entries.push_back(coords);
  TraceEntry node = Native(
      "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING",
      {TraceValue::Float(1e-45f), TraceValue::Float(-30.7f), TraceValue::Float(3.4028235e38f),
       TraceValue::Int(1), TraceValue::Out(), TraceValue::Out(), TraceValue::Out(),
       TraceValue::Int(1), TraceValue::Float(3.0f), TraceValue::Float(0.0f)});
  node.outs = {TraceValue::Vector(1.5f, 2.0f, -3.25f), TraceValue::Float(kFloatInf),
               TraceValue::Int(2147483647)};
  node.result = TraceValue::Bool(false);
  entries.push_back(node);
  TraceEntry label =
      Native("GET_FILENAME_FOR_AUDIO_CONVERSATION", {TraceValue::Text("quote\" \\ \t \x01 é 😀")});
  label.result = TraceValue::Null();
  entries.push_back(label);
  entries.push_back(Native("BEGIN_TEXT_COMMAND_SCALEFORM_STRING", {TraceValue::Null()}));
  TraceEntry mine = Native("GET_FRAME_COUNT", {});
  mine.result = TraceValue::Int(123459);
  mine.byRecorder = true;
  entries.push_back(mine);
  entries.push_back(Host("dropped", {TraceValue::Int(12)}));

  const std::string text = Lines(entries);
  for (const std::string& prefix : {std::string(), std::string(kHeader)}) {
    std::unique_ptr<sim::TraceReader> reader = sim::TraceReader::FromText(prefix + text, "t.jsonl");
    TraceEntry e;
    std::size_t i = 0;
    while (reader->Next(e)) {
      ASSERT_LT(i, entries.size());
      EXPECT_EQ(sim::Trace::ToJson(e), sim::Trace::ToJson(entries[i])) << "entry " << i;
      EXPECT_EQ(reader->Line(), static_cast<std::int64_t>(i) + (prefix.empty() ? 1 : 2));
      ++i;
    }
    EXPECT_EQ(i, entries.size());
    EXPECT_EQ(reader->Header().version, prefix.empty() ? 0 : 1);
  }
}

TEST(TraceReader, ReadsTheHeader) {
  const std::string attach = R"({"frame":-1,"host":"attach"})"
                             "\n";
  const sim::Recording r = sim::ReadRecordingText(kHeader + attach, "r.jsonl");
  EXPECT_EQ(r.header.version, 1);
  EXPECT_EQ(r.header.rebound, "0.1.0");
  EXPECT_EQ(r.header.build, "recorder");
  EXPECT_EQ(r.header.platform, "windows");
  EXPECT_EQ(r.header.hostFile, "ScriptHookV.dll");
  EXPECT_EQ(r.header.gameVersion, "1.0.3095.0");
  EXPECT_EQ(r.header.frameBase, 123456);
  EXPECT_EQ(r.entries.size(), 1U);

  const sim::Recording linux = sim::ReadRecordingText(
      R"({"format":"rebound-recording","version":1,"rebound":"0.1.0","build":"recorder",)"
      R"("platform":"linux","hostFile":null,"hostVersion":null,"gameFile":null,)"
      R"("gameVersion":null,"frameBase":null})"
      "\n" +
          attach,
      "r.jsonl");
  EXPECT_FALSE(linux.header.hostFile.has_value());
  EXPECT_FALSE(linux.header.frameBase.has_value());
}

// A line without frame and time takes them from the next line that has them,
// or at the end from the last one that had them; the recorder's name-less
// lines take their name from the catalogue.
TEST(TraceReader, FillsInFramesAndNames) {
  const sim::Recording r = sim::ReadRecordingText(
      std::string(kHeader) +
          R"({"frame":-1,"host":"attach"})"
          "\n"
          R"({"frame":0,"time":100000,"host":"scriptStart"})"
          "\n"
          R"({"host":"keyboard","key":87,"repeats":1,"scanCode":17,"extended":0,"alt":0,"wasDownBefore":0,"isUp":0})"
          "\n"
          R"({"host":"droppedKeys","count":3})"
          "\n"
          R"({"frame":4,"time":100066,"native":"0xFC8202EFC642E6F2","args":[],"result":123460,"by":"recorder"})"
          "\n"
          R"({"host":"detach"})"
          "\n",
      "r.jsonl");
  ASSERT_EQ(r.entries.size(), 6U);
  EXPECT_EQ(r.entries[0].frame, -1);
  EXPECT_EQ(r.entries[0].time, 100000);  // from scriptStart
  EXPECT_EQ(r.entries[2].frame, 4);
  EXPECT_EQ(r.entries[2].time, 100066);
  EXPECT_EQ(r.entries[3].frame, 4);
  EXPECT_EQ(r.entries[3].args[0].integer, 3);
  EXPECT_TRUE(r.entries[4].IsNative("GET_FRAME_COUNT"));
  EXPECT_TRUE(r.entries[4].byRecorder);
  EXPECT_EQ(r.entries[5].frame, 4);
  EXPECT_EQ(r.entries[5].time, 100066);
}

// Frame and time are each taken from the nearest following line that has
// it: a line without either before the load's frame -1 lines is of frame -1,
// not of the first frame with a time (the frames went back so).
TEST(TraceReader, TakesFrameAndTimeEachFromTheNearestLineThatHasIt) {
  const sim::Recording r = sim::ReadRecordingText(
      std::string(kHeader) + R"({"host":"attach"})"
                             "\n"
                             R"({"frame":-1,"host":"scriptRegister"})"
                             "\n"
                             R"({"time":99990,"host":"scriptStart"})"
                             "\n"
                             R"({"frame":0,"time":100000,"host":"scriptWait","ms":0})"
                             "\n",
      "r.jsonl");
  ASSERT_EQ(r.entries.size(), 4U);
  const std::int64_t frames[] = {-1, -1, 0, 0};
  const std::int32_t times[] = {99990, 99990, 99990, 100000};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(r.entries[i].frame, frames[i]) << i;
    EXPECT_EQ(r.entries[i].time, times[i]) << i;
  }
}

// A repeat stands for frames like the one written before it: frames count
// on, times are interpolated (rounded down, across the timer's wrap), and the
// recorder's own frame count and timer answers follow them.
TEST(RepeatExpander, GivesEachRepeatedFrameWithItsFrameAndTime) {
  const std::string text =
      std::string(kHeader) +
      R"({"frame":0,"time":2147483600,"host":"scriptStart"})"
      "\n"
      R"({"frame":0,"time":2147483600,"native":"0xFC8202EFC642E6F2","args":[],"result":123456,"by":"recorder"})"
      "\n"
      R"({"frame":0,"time":2147483600,"native":"0x9CD27B0045628463","args":[],"result":2147483600,"by":"recorder"})"
      "\n"
      R"({"frame":0,"time":2147483600,"host":"scriptWait","ms":0})"
      "\n"
      R"({"frame":1,"time":2147483616,"native":"0xFC8202EFC642E6F2","args":[],"result":123457,"by":"recorder"})"
      "\n"
      R"({"frame":1,"time":2147483616,"native":"0x9CD27B0045628463","args":[],"result":2147483616,"by":"recorder"})"
      "\n"
      R"({"frame":1,"time":2147483616,"native":"0xD80958FC74E988A6","args":[],"result":1})"
      "\n"
      R"({"frame":1,"time":2147483616,"host":"scriptWait","ms":0})"
      "\n"
      R"({"frame":4,"time":-2147483596,"host":"repeat","frames":3,"firstFrame":2,"firstTime":2147483633})"
      "\n"
      R"({"frame":5,"time":-2147483580,"host":"detach"})"
      "\n";
  std::unique_ptr<sim::TraceReader> reader = sim::TraceReader::FromText(text, "r.jsonl");
  sim::RepeatExpander lines(*reader);
  std::vector<TraceEntry> out;
  std::vector<std::int64_t> lineNumbers;
  TraceEntry e;
  while (lines.Next(e)) {
    out.push_back(e);
    lineNumbers.push_back(lines.Line());
  }
  ASSERT_EQ(out.size(), 8U + 3U * 4U + 1U);
  // 2147483633 to -2147483596 is 67 ms across the wrap: 33 a frame, rounded down.
  const std::int32_t times[3] = {2147483633, -2147483630, -2147483596};
  for (int k = 0; k < 3; ++k) {
    const std::size_t at = 8 + static_cast<std::size_t>(k) * 4;
    for (std::size_t j = 0; j < 4; ++j) {
      EXPECT_EQ(out[at + j].frame, 2 + k);
      EXPECT_EQ(out[at + j].time, times[k]) << k;
      EXPECT_EQ(lineNumbers[at + j], 10);
    }
    EXPECT_EQ(out[at].result->integer, 123458 + k);    // the recorder's frame count
    EXPECT_EQ(out[at + 1].result->integer, times[k]);  // ... and its timer
    EXPECT_EQ(out[at + 2].result->integer, 1);         // the plug-in's own call as written
    EXPECT_TRUE(out[at + 3].IsHost("scriptWait"));
  }
  EXPECT_TRUE(out.back().IsHost("detach"));
  EXPECT_EQ(lineNumbers.back(), 11);
}

struct BadCase {
  const char* text;     // the file's lines after the header
  const char* message;  // what the error says, after the file's name
};

// Each bad recording is refused, naming the file, the line and the field.
// The last line of a run that stopped at a fault: its call and reason are
// read, the refused call it shows is passed over.
TEST(TraceReader, ReadsAFaultLineAsTheRunsLastHostEvent) {
  const sim::Recording r = sim::ReadRecordingText(
      R"({"frame":2,"time":100033,"native":"0xD80958FC74E988A6","name":"PLAYER_PED_ID","args":[],"result":1})"
      "\n"
      R"({"frame":2,"time":100033,"host":"fault","call":1,"reason":"nativeInit(\"x\") refused",)"
      R"("refused":{"native":"0x1234567812345678","args":[1,{"slot":"0x0000000000000002"}]}})"
      "\n",
      "t.jsonl");
  ASSERT_EQ(r.entries.size(), 2U);
  const TraceEntry& fault = r.entries[1];
  EXPECT_TRUE(fault.IsHost("fault"));
  EXPECT_EQ(fault.frame, 2);
  EXPECT_EQ(
      sim::Trace::ToJson(fault),
      R"({"frame":2,"time":100033,"host":"fault","call":1,"reason":"nativeInit(\"x\") refused"})");
  for (const char* bad : {R"({"frame":2,"time":1,"host":"fault","call":1,"reason":7})",
                          R"({"frame":2,"time":1,"host":"fault","call":1})"}) {
    EXPECT_THROW(sim::ReadRecordingText(std::string(bad) + "\n", "t.jsonl"), sim::RecordingError)
        << bad;
  }
}

TEST(TraceReader, RefusesBadLinesNamingFileLineAndField) {
  const BadCase cases[] = {
      {R"({"frame":1,"time":5,"host":"fault","call":1,"reason":7})"
       "\n",
       "r.jsonl:2: field \"reason\": expected a text, got 7"},
      {R"({"frame":1,"time":5,"native":"0x2A488C176D52CCA5","args":[1,2,"x",4,5,6],"result":1.5})"
       "\n",
       "r.jsonl:2: field \"args\"[2]: expected a number, got \"x\""},
      {R"({"frame":1,"time":5,"native":"0x3FEF770D40960D5A","args":[1.5,true],"result":[1,2,3]})"
       "\n",
       "r.jsonl:2: field \"args\"[0]: expected a whole number from -2147483648 to 2147483647, got "
       "1.5"},
      {R"({"frame":1,"time":5,"native":"0x3FEF770D40960D5A","args":[1,1],"result":[1,2,3]})"
       "\n",
       "r.jsonl:2: field \"args\"[1]: expected true or false, got 1"},
      {R"({"frame":1,"time":5,"native":"0x3FEF770D40960D5A","args":[1],"result":[1,2,3]})"
       "\n",
       "r.jsonl:2: field \"args\": 1 arguments, GET_ENTITY_COORDS takes 2"},
      {R"({"frame":1,"time":5,"native":"0x3FEF770D40960D5A","args":[1,true],"result":[1,"y",3]})"
       "\n",
       "r.jsonl:2: field \"result\"[1]: expected a number, got \"y\""},
      {R"({"frame":1,"time":5,"native":"0x280C7E3AC7F56E90","args":[0,"out","out",7]})"
       "\n",
       "r.jsonl:2: field \"args\"[3]: expected \"out\" (an out-variable), got 7"},
      {R"({"frame":1,"time":5,"native":"0x280C7E3AC7F56E90","args":[0,"out","out","out"]})"
       "\n",
       "r.jsonl:2: field \"outs\": missing; SPAWNPOINTS_GET_SEARCH_RESULT has out-variables"},
      {R"({"frame":1,"time":5,"native":"0x280C7E3AC7F56E90","args":[0,"out","out","out"],"outs":[1,2]})"
       "\n",
       "r.jsonl:2: field \"outs\": 2 values, fewer than SPAWNPOINTS_GET_SEARCH_RESULT's "
       "out-variables"},
      {R"({"frame":1,"time":5,"native":"0x80CA6A8B6C094CC4","args":[1,2,3,1,"out","out","out",1,3,0],"outs":[[1,2],0,1],"result":true})"
       "\n",
       "r.jsonl:2: field \"outs\"[0]: expected a vector of three numbers, found ]"},
      {R"({"frame":1,"time":5,"native":"0x4A18E01DF2C87B86","args":[true],"result":1})"
       "\n",
       "r.jsonl:2: field \"result\": the native answers nothing, but the line gives 1"},
      {R"({"frame":1,"time":5,"native":"0x1234567890ABCDEF","args":[]})"
       "\n",
       "r.jsonl:2: field \"native\": 0x1234567890ABCDEF is not a native of the game"},
      {R"({"frame":1,"time":5,"native":"FC8202EFC642E6F2","args":[]})"
       "\n",
       "r.jsonl:2: field \"native\": expected a hash \"0x\" and 16 hex digits, got "
       "\"FC8202EFC642E6F2\""},
      {R"({"frame":1,"time":5,"native":"0xFC8202EFC642E6F2","name":"GET_GAME_TIMER","args":[]})"
       "\n",
       "r.jsonl:2: field \"name\": \"GET_GAME_TIMER\" is not the name of 0xFC8202EFC642E6F2 "
       "(GET_FRAME_COUNT)"},
      {R"({"frame":1,"time":5,"native":"0xFC8202EFC642E6F2","args":[],"by":"me"})"
       "\n",
       "r.jsonl:2: field \"by\": expected \"recorder\", got \"me\""},
      {R"({"frame":"1","time":5,"host":"attach"})"
       "\n",
       "r.jsonl:2: field \"frame\": expected a whole number, got \"1\""},
      {R"({"frame":1,"time":5,"host":"scriptWait"})"
       "\n",
       "r.jsonl:2: field \"ms\": missing from the scriptWait line"},
      {R"({"frame":1,"time":5,"host":"scriptWait","ms":-1})"
       "\n",
       "r.jsonl:2: field \"ms\": expected a whole number from 0 to 4294967295, got -1"},
      {R"({"frame":1,"time":5,"host":"keyboard","key":87,"repeats":1,"scanCode":17,"extended":0,"alt":0,"wasDownBefore":0,"isUp":0,"shift":1})"
       "\n",
       "r.jsonl:2: field \"shift\": not a field of a keyboard line"},
      {R"({"frame":1,"time":5,"host":"teleport"})"
       "\n",
       "r.jsonl:2: field \"host\": \"teleport\" is not a host event of the format"},
      {R"({"frame":1,"time":5})"
       "\n",
       "r.jsonl:2: neither a native call nor a host event (no \"native\" or \"host\" field)"},
      {R"({"frame":1,"time":5,"host":"attach"} x)"
       "\n",
       "r.jsonl:2: more after the line's closing brace: x"},
      {"\n", "r.jsonl:2: expected a JSON object '{', found the end of the line"},
      // Numbers beyond their type, however many digits (19 once overflowed
      // the quick reading of whole numbers).
      {R"({"frame":1234567890123456789,"time":5,"host":"attach"})"
       "\n",
       "r.jsonl:2: field \"frame\": expected a whole number from -1 to 4294967295, got "
       "1234567890123456789"},
      {R"({"frame":4294967296,"time":5,"host":"attach"})"
       "\n",
       "r.jsonl:2: field \"frame\": expected a whole number from -1 to 4294967295, got "
       "4294967296"},
      {R"({"frame":1,"time":99999999999999999999999,"host":"attach"})"
       "\n",
       "r.jsonl:2: field \"time\": expected a whole number from -2147483648 to 2147483647, got "
       "99999999999999999999999"},
      {R"({"frame":1,"time":5,"native":"0x3FEF770D40960D5A","args":[-9223372036854775809,true]})"
       "\n",
       "r.jsonl:2: field \"args\"[0]: expected a whole number from -2147483648 to 2147483647, "
       "got -9223372036854775809"},
      {R"({"frame":1,"time":5,"host":"scriptWait","ms":1000000000000000000})"
       "\n",
       "r.jsonl:2: field \"ms\": expected a whole number from 0 to 4294967295, got "
       "1000000000000000000"},
      {R"({"frame":1,"time":5,"host":"repeat","frames":9223372036854775807,"firstFrame":0,"firstTime":0})"
       "\n",
       "r.jsonl:2: field \"frames\": expected a whole number from 1 to 4294967296, got "
       "9223372036854775807"},
      // Frames never go back, and a repeat comes after the frame it repeats.
      {R"({"frame":5,"time":5,"host":"attach"})"
       "\n"
       R"({"frame":4,"time":5,"host":"scriptStart"})"
       "\n",
       "r.jsonl:3: field \"frame\": frame 4 after frame 5: frames never go back"},
      {R"({"frame":1,"time":5,"host":"scriptWait","ms":0})"
       "\n"
       R"({"frame":3,"time":9,"host":"repeat","frames":3,"firstFrame":1,"firstTime":6})"
       "\n",
       "r.jsonl:3: field \"firstFrame\": frame 1 does not come after frame 1, which it repeats"},
      {R"({"frame":1,"time":5,"host":"attach"})"
       "\n"
       R"({"frame":1,"time":5,"host":"scriptWait","ms":0})"
       "\n"
       R"({"frame":3,"time":9,"host":"repeat","frames":3,"firstFrame":2,"firstTime":6})"
       "\n",
       "r.jsonl:4: field \"frames\": 3 frames from frame 2 do not end at the line's frame 3"},
  };
  for (const BadCase& c : cases) {
    try {
      std::unique_ptr<sim::TraceReader> reader =
          sim::TraceReader::FromText(std::string(kHeader) + c.text, "r.jsonl");
      sim::RepeatExpander lines(*reader);
      TraceEntry e;
      while (lines.Next(e)) {
      }
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const sim::RecordingError& error) {
      EXPECT_EQ(std::string(error.what()), c.message) << c.text;
    }
  }
}

// Nesting deeper than 64 is refused wherever it stands: 5,000 levels in an
// argument once took the stack whole.
TEST(TraceReader, RefusesDeepNestingNamingTheField) {
  const std::string deep = std::string(5000, '[') + std::string(5000, ']');
  const std::string lines[] = {
      R"({"frame":1,"time":5,"native":"0x4A18E01DF2C87B86","args":[)" + deep + "]}\n",
      R"({"frame":1,"time":5,"host":"scriptWait","ms":)" + deep + "}\n",
      R"({"frame":1,"time":5,"native":"0x3FEF770D40960D5A","args":[1,true],"result":[)" + deep +
          ",2,3]}\n",
  };
  const char* fields[] = {"args", "ms", "result"};
  for (std::size_t i = 0; i < 3; ++i) {
    try {
      sim::ReadRecordingText(std::string(kHeader) + lines[i], "r.jsonl");
      ADD_FAILURE() << "accepted: " << fields[i];
    } catch (const sim::RecordingError& error) {
      EXPECT_EQ(std::string(error.what()), std::string("r.jsonl:2: field \"") + fields[i] +
                                               "\": arrays and objects nested more than 64 deep");
    }
  }
  // As deep as a value may go, it is refused for what it is.
  const std::string deepest = std::string(64, '[') + std::string(64, ']');
  try {
    sim::ReadRecordingText(
        std::string(kHeader) + R"({"frame":1,"time":5,"host":"scriptWait","ms":)" + deepest + "}\n",
        "r.jsonl");
    ADD_FAILURE() << "accepted";
  } catch (const sim::RecordingError& error) {
    EXPECT_EQ(std::string(error.what()), "r.jsonl:2: field \"ms\": expected a whole number, got " +
                                             std::string(40, '[') + "...");
  }
}

// A frame may lie no further than the file read so far can stand for: a
// number in a line never sizes what a reader's user holds.
TEST(TraceReader, RefusesFramesBeyondWhatTheFileCanStandFor) {
  const sim::ReadLimits limits{100, 2};
  const std::string first = R"({"frame":0,"time":5,"host":"attach"})"
                            "\n";  // 37 bytes
  const auto second = [](std::int64_t frame) {
    return R"({"frame":)" + std::to_string(frame) +
           R"(,"time":5,"host":"scriptStart"})"
           "\n";
  };
  // 37 + 44 bytes read at the second line: 100 + 2 * 81 = frame 262 at most.
  ASSERT_EQ(second(262).size(), 44U);
  EXPECT_EQ(sim::ReadRecordingText(first + second(262), "r.jsonl", limits).entries.back().frame,
            262);
  try {
    sim::ReadRecordingText(first + second(263), "r.jsonl", limits);
    ADD_FAILURE() << "accepted";
  } catch (const sim::RecordingError& error) {
    EXPECT_EQ(std::string(error.what()),
              "r.jsonl:2: field \"frame\": frame 263 is further than the 81 bytes read so far "
              "can stand for (frame 262 at most)");
  }
}

// A recording cut inside its last line is read up to the line before, and
// the cut is named with its line and the byte it starts at. A last line
// that is whole JSON but lacks its newline is read.
TEST(TraceReader, ReadsACutRecordingUpToItsLastWholeLine) {
  const std::string whole = std::string(kHeader) + R"({"frame":0,"time":5,"host":"attach"})"
                                                   "\n";
  std::unique_ptr<sim::TraceReader> reader =
      sim::TraceReader::FromText(whole + R"({"frame":0,"time":5,"host":"scriptSt)", "r.jsonl");
  TraceEntry e;
  ASSERT_TRUE(reader->Next(e));
  EXPECT_TRUE(e.IsHost("attach"));
  EXPECT_FALSE(reader->Next(e));
  ASSERT_TRUE(reader->Cut().has_value());
  EXPECT_EQ(reader->Cut()->line, 3);
  EXPECT_EQ(reader->Cut()->offset, whole.size());
  EXPECT_EQ(reader->Cut()->bytes, 36U);
  EXPECT_EQ(reader->CutNote(), "r.jsonl:3: the recording is cut inside this line, at byte " +
                                   std::to_string(whole.size()) +
                                   " (36 bytes without a newline or a whole line's JSON): read "
                                   "up to line 2");

  const sim::Recording unended =
      sim::ReadRecordingText(whole + R"({"frame":0,"time":5,"host":"scriptStart"})", "r.jsonl");
  ASSERT_EQ(unended.entries.size(), 2U);
  EXPECT_TRUE(unended.entries.back().IsHost("scriptStart"));
}

// Files that hold nothing to read are refused, saying so.
TEST(TraceReader, RefusesFilesThatHoldNoRecording) {
  const std::string cutAfterHeader = std::string(kHeader) + R"({"frame")";
  const BadCase cases[] = {
      {"", "r.jsonl: the file is empty: it holds no recording or trace"},
      {R"({"frame":0,"ti)",
       "r.jsonl:1: the file is cut inside its first line: it holds no recording or trace"},
      {kHeader,
       "r.jsonl: holds a recording's header and nothing after it: no recording or trace to read"},
      {cutAfterHeader.c_str(),
       "r.jsonl: holds a recording's header and nothing after it: no recording or trace to read "
       "(line 2 is cut short)"},
  };
  for (const BadCase& c : cases) {
    try {
      sim::ReadRecordingText(c.text, "r.jsonl");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const sim::RecordingError& error) {
      EXPECT_EQ(std::string(error.what()), c.message) << c.text;
    }
  }
}

// A run that stopped at a fault may end its trace with a line saying so:
// read as the end, and only as the last line.
TEST(TraceReader, TakesARunsFaultLineAsTheTracesEnd) {
  const std::string trace =
      R"({"frame":-1,"time":100000,"host":"seed","seed":42})"
      "\n"
      R"({"frame":-1,"time":100000,"host":"attach"})"
      "\n"
      R"({"frame":2,"time":100033,"type":"fault","what":"a null text","at":{"native":"0x0"}})"
      "\n";
  std::unique_ptr<sim::TraceReader> reader = sim::TraceReader::FromText(trace, "t.jsonl");
  TraceEntry e;
  int lines = 0;
  while (reader->Next(e)) ++lines;
  EXPECT_EQ(lines, 2);
  EXPECT_EQ(reader->FaultLine(), 3);
  EXPECT_FALSE(reader->Unseeded());
  try {
    sim::ReadRecordingText(trace + R"({"frame":2,"time":100033,"host":"detach"})"
                                   "\n",
                           "t.jsonl");
    ADD_FAILURE() << "accepted a line after the fault line";
  } catch (const sim::RecordingError& error) {
    EXPECT_EQ(std::string(error.what()),
              "t.jsonl:4: a line after the run's fault line (line 3), which ends a trace");
  }
}

// A trace whose first line is no seed line is of an unseeded run; a
// recording never is.
TEST(TraceReader, TellsAnUnseededTrace) {
  EXPECT_TRUE(sim::TraceReader::FromText(R"({"frame":-1,"time":100000,"host":"attach"})"
                                         "\n",
                                         "t.jsonl")
                  ->Unseeded());
  EXPECT_FALSE(sim::TraceReader::FromText(R"({"frame":-1,"time":100000,"host":"seed","seed":1})"
                                          "\n",
                                          "t.jsonl")
                   ->Unseeded());
  EXPECT_FALSE(sim::TraceReader::FromText(std::string(kHeader) + R"({"frame":-1,"host":"attach"})"
                                                                 "\n",
                                          "r.jsonl")
                   ->Unseeded());
}

TEST(TraceReader, RefusesBadHeadersAndNewerFormats) {
  const BadCase cases[] = {
      {R"({"format":"rebound-recording","version":2,"future":[1,2]})"
       "\n",
       "r.jsonl:1: a newer format (version 2) than this rebound-sim reads (1)"},
      {R"({"format":"rebound-recording","version":0,"rebound":"0.1.0","build":"recorder","platform":"linux"})"
       "\n",
       "r.jsonl:1: field \"version\": expected a version from 1 to 1, got 0"},
      {R"({"format":"rebound-recording","rebound":"0.1.0"})"
       "\n",
       "r.jsonl:1: field \"version\": missing from the header"},
      {R"({"format":"rebound-trace","version":1,"rebound":"0.1.0","build":"recorder","platform":"linux"})"
       "\n",
       "r.jsonl:1: field \"format\": expected \"rebound-recording\", got \"rebound-trace\""},
      {R"({"format":"rebound-recording","version":1,"rebound":"0.1.0","build":"recorder","platform":"mac"})"
       "\n",
       "r.jsonl:1: field \"platform\": expected \"windows\" or \"linux\", got \"mac\""},
      {R"({"format":"rebound-recording","version":1,"build":"recorder","platform":"linux"})"
       "\n",
       "r.jsonl:1: field \"rebound\": missing from the header"},
  };
  for (const BadCase& c : cases) {
    try {
      sim::ReadRecordingText(c.text, "r.jsonl");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const sim::RecordingError& error) {
      EXPECT_EQ(std::string(error.what()), c.message) << c.text;
    }
  }
}

TEST(TraceReader, NamesAFileItCannotOpen) {
  try {
    sim::TraceReader::Open("/nonexistent/r.jsonl");
    ADD_FAILURE() << "opened";
  } catch (const sim::RecordingError& error) {
    EXPECT_EQ(std::string(error.what()),
              "/nonexistent/r.jsonl: cannot be read: No such file or directory");
  }
}

}  // namespace
