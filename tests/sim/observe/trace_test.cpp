// How the trace writes numbers: the shortest digits of a float, and a JSON form
// for the values JSON has no number for, in every place a float appears; and
// each line as a JSON library writes the same document, byte for byte.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/observe/trace.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(TraceNumbers, EachFloatIsWrittenAsJsonCanReadIt) {
  struct Case {
    float value;
    const char* written;
  };
  const Case cases[] = {
      {0.923f, "0.923"},
      {-30.7f, "-30.7"},
      {0.0f, "0.0"},
      {1e-45f, "1.4013e-45"},
      {kNaN, "\"NaN\""},
      {-kNaN, "\"NaN\""},
      {kInf, "\"Infinity\""},
      {-kInf, "\"-Infinity\""},
      {std::numeric_limits<float>::max(), "3.4028235e+38"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sim::TraceNumber(c.value).dump(), c.written) << c.value;
  }
}

TEST(TraceNumbers, NonFiniteArgumentsOutsResultsAndVectorsStayValidJson) {
  sim::TraceEntry entry;
  entry.native = sim::FindNativeByName("GET_ENTITY_COORDS");
  ASSERT_NE(entry.native, nullptr);
  entry.args = {sim::TraceValue::Int(1), sim::TraceValue::Float(kNaN)};
  entry.outs = {sim::TraceValue::Float(-kInf)};
  entry.result = sim::TraceValue::Vector(kInf, kNaN, 1.5f);
  const std::string line = sim::Trace::ToJson(entry);
  const nlohmann::json parsed = nlohmann::json::parse(line);  // throws on "nan" or bare NaN
  EXPECT_EQ(parsed["args"], nlohmann::json::parse(R"([1, "NaN"])"));
  EXPECT_EQ(parsed["outs"], nlohmann::json::parse(R"(["-Infinity"])"));
  EXPECT_EQ(parsed["result"], nlohmann::json::parse(R"(["Infinity", "NaN", 1.5])"));

  sim::TraceEntry host;
  host.host = "probe";
  host.args = {sim::TraceValue::Float(kInf)};
  EXPECT_EQ(nlohmann::json::parse(sim::Trace::ToJson(host))["args"][0], "Infinity");
}

// The line's document as nlohmann::ordered_json holds it, built from the
// parsed line: dumped, it must give back the line's own bytes.
std::string AsLibraryDumpsIt(const std::string& line) {
  return nlohmann::ordered_json::parse(line).dump(-1, ' ', false,
                                                  nlohmann::json::error_handler_t::replace);
}

TEST(TraceLines, AreWrittenAsTheJsonLibraryDumpsThem) {
  using sim::TraceValue;
  const std::vector<std::string> texts = {
      "",
      "plain ASCII 123",
      "quote \" and back\\slash",
      "controls \n\t\r\b\f \x01 \x1f",
      "delete \x7f",
      "na\xC3\xAFve \xE2\x80\x94 \xF0\x9F\x98\x80",  // UTF-8 of two, three and four bytes
      // Short plain texts go out in one piece, longer ones in parts: either
      // side of the limit, and one at it that must be escaped.
      std::string(60, 'a'),
      std::string(61, 'b'),
      std::string(59, 'c') + "\"",
  };
  const std::vector<float> numbers = {0.923f, -30.7f,      0.0f,
                                      -0.0f,  1e-45f,      100.0f,
                                      1e20f,  16777216.0f, std::numeric_limits<float>::max(),
                                      0.1f};
  sim::TraceEntry native;
  native.native = sim::FindNativeByName("GET_ENTITY_COORDS");
  ASSERT_NE(native.native, nullptr);
  for (const std::string& text : texts) native.args.push_back(TraceValue::Text(text));
  for (const float f : numbers) native.args.push_back(TraceValue::Float(f));
  native.args.push_back(TraceValue::Int(INT64_MIN));
  native.args.push_back(TraceValue::Bool(false));
  native.args.push_back(TraceValue::Null());
  native.args.push_back(TraceValue::Out());
  native.outs = {TraceValue::Vector(-0.0f, 1e-45f, 3.25f), TraceValue::Int(-1)};
  native.result = TraceValue::Text("label");
  native.byRecorder = true;

  sim::TraceEntry keyboard;  // named values
  keyboard.frame = -1;
  keyboard.host = "keyboard";
  for (int i = 0; i < 7; ++i) keyboard.args.push_back(TraceValue::Int(i * 1000));
  sim::TraceEntry unnamed;  // an unknown event's values as args
  unnamed.host = "probe \x7f";
  unnamed.args = {TraceValue::Float(2.5f), TraceValue::Text("x")};
  sim::TraceEntry bare;
  bare.host = "scriptStart";

  for (const sim::TraceEntry& e : {native, keyboard, unnamed, bare}) {
    const std::string line = sim::Trace::ToJson(e);
    EXPECT_EQ(line, AsLibraryDumpsIt(line));
  }
  EXPECT_NE(sim::Trace::ToJson(keyboard).find(R"("host":"keyboard","key":0,"repeats":1000,)"),
            std::string::npos);

  // Bad UTF-8 is replaced, as the library replaces it.
  sim::TraceEntry bad = bare;
  bad.host = "cut \xE2\x80 and lone \xFF";
  EXPECT_EQ(sim::Trace::ToJson(bad),
            nlohmann::ordered_json({{"frame", 0}, {"time", 0}, {"host", bad.host}})
                .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));

  sim::TraceFault fault;
  fault.frame = -1;
  fault.reason = "refused \"x\"";
  fault.refused = sim::RefusedCall{0xABCDEF, nullptr, {}};
  sim::RefusedArg raw;
  raw.raw = true;
  raw.slot = 0xFFFF;
  sim::RefusedArg value;
  value.value = TraceValue::Float(kNaN);
  fault.refused->args = {raw, value};
  const std::string line = sim::Trace::ToJson(fault);
  EXPECT_EQ(line, AsLibraryDumpsIt(line));
  EXPECT_EQ(sim::RefusedCallText(*fault.refused),
            R"(0x0000000000ABCDEF(0x000000000000FFFF, "NaN"))");
}

}  // namespace
