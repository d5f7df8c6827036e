// The JUnit file of a run: the counts its test suite states, the failure of
// the run's own case by kind of stop, and text escaped so that any scenario
// name or message keeps the file well formed.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "sim/host/scenario.h"
#include "sim/report/junit.h"

namespace {

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

sim::JUnitRun RunWithTwoExpectations() {
  static const sim::Scenario scenario = sim::Scenario::Parse("s.json", R"({"expect": [
      {"native": "PLAYER_PED_ID", "calls": 3},
      {"native": "GET_GAME_TIMER", "calls": 0, "frames": [4, 8]}]})");
  sim::JUnitRun run;
  run.scenario = "a <b> & \"c\"";
  run.scenarioFile = "s.json";
  run.plugin = "libx.so";
  run.frames = 10;
  run.seconds = 0.25;
  run.expectations = {{scenario.expectations[0], "PLAYER_PED_ID (0xD80958FC74E988A6)", 3, true},
                      {scenario.expectations[1], "GET_GAME_TIMER (0x9CD27B0045628463)", 2, false}};
  return run;
}

std::string Written(const sim::JUnitRun& run) {
  std::ostringstream out;
  sim::WriteJUnit(out, run);
  return out.str();
}

TEST(JUnit, CountsTestsAndFailuresOfTheRunAndItsExpectations) {
  const struct {
    const char* stop;
    bool crashed;
    const char* suite;
    const char* runFailure;
  } cases[] = {
      {nullptr, false, "tests=\"3\" failures=\"1\"", nullptr},
      {"frame 2: refused", false, "tests=\"3\" failures=\"2\"", "<failure type=\"refused\""},
      {"frame 3: crashed", true, "tests=\"3\" failures=\"2\"", "<failure type=\"crash\""},
  };
  for (const auto& c : cases) {
    sim::JUnitRun run = RunWithTwoExpectations();
    if (c.stop != nullptr) run.stop = c.stop;
    run.crashed = c.crashed;
    const std::string xml = Written(run);
    EXPECT_NE(xml.find(c.suite), std::string::npos) << xml;
    EXPECT_EQ(Occurrences(xml, "<testcase "), 3U);
    EXPECT_EQ(Occurrences(xml, "<failure "), c.stop != nullptr ? 2U : 1U) << xml;
    if (c.runFailure != nullptr) {
      EXPECT_NE(xml.find(c.runFailure), std::string::npos) << xml;
    }
    EXPECT_NE(xml.find("<failure type=\"expectation\" message=\"GET_GAME_TIMER "
                       "(0x9CD27B0045628463): expected no calls in frames 4 to 8, seen 2\""),
              std::string::npos)
        << xml;
  }
}

TEST(JUnit, EscapesWhatXmlCannotHoldAsIs) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"plain", "plain"},
      {"a<b>&\"c\"'d'", "a&lt;b&gt;&amp;&quot;c&quot;&apos;d&apos;"},
      {"tab\tnew\nline", "tab\tnew\nline"},
      {"bell\x07", "bell\xEF\xBF\xBD"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
  };
  for (const auto& c : cases) EXPECT_EQ(sim::XmlEscaped(c.in), c.out) << c.in;
  const std::string xml = Written(RunWithTwoExpectations());
  EXPECT_NE(xml.find("<testsuite name=\"a &lt;b&gt; &amp; &quot;c&quot;\""), std::string::npos)
      << xml;
}

}  // namespace
