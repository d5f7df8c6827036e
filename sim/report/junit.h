// A run's verdict as a JUnit XML file, the shape build servers read (the
// Ant/Jenkins schema's testsuite, testcase, failure and properties): one
// test suite for the run, one test case for the run itself, failed with the
// stop's message when the host refused a call or a script crashed, and one
// per expectation of the scenario. Written by rebound-sim run --junit, and
// by rebound-sim replay --junit for its one check of a plug-in against a
// recording.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "sim/report/expectations.h"

namespace sim {

struct JUnitRun {
  std::string command = "run";        // the rebound-sim command: names the run's test case
  std::string subject = "scenario";   // what scenarioFile is: the property's name
  std::string scenario;               // its name
  std::string scenarioFile;           // the file, or "(built-in)"
  std::string plugin;                 // the module's path, or "(none)"
  std::int64_t frames = 0;            // frames run
  double seconds = 0;                 // the run's wall-clock time
  std::optional<std::uint64_t> seed;  // the seed the run can be replayed with
  std::optional<std::string> stop;    // the fault or crash message, when the run stopped
  bool crashed = false;               // the stop was a crash of the plug-in
  std::string stopType;               // the failure's type; empty: "crash" or "refused"
  std::string stopDetails;            // the failure's text; empty: the stop's message
  // Further properties, after those above, in order.
  std::vector<std::pair<std::string, std::string>> properties;
  std::vector<ExpectationResult> expectations;
};

void WriteJUnit(std::ostream& out, const JUnitRun& run);

// Text made safe for an XML attribute or element: the five special
// characters escaped, and the control characters XML 1.0 cannot hold
// replaced with U+FFFD.
std::string XmlEscaped(const std::string& text);

}  // namespace sim
