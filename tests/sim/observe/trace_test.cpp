// How the trace writes numbers: the shortest digits of a float, and a JSON form
// for the values JSON has no number for, in every place a float appears.
#include <limits>
#include <string>

#include <gtest/gtest.h>
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

}  // namespace
