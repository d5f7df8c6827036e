#include "sim/report/junit.h"

#include <cstdio>

namespace sim {

namespace {

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

void WriteProperty(std::ostream& out, const char* name, const std::string& value) {
  out << "    <property name=\"" << name << "\" value=\"" << XmlEscaped(value) << "\"/>\n";
}

void WriteRunCase(std::ostream& out, const JUnitRun& run) {
  const std::string command = XmlEscaped(run.command);
  out << "  <testcase classname=\"rebound-sim." << command << "\" name=\"" << command << " of "
      << XmlEscaped(run.scenarioFile) << "\" time=\"" << Seconds(run.seconds) << "\"";
  if (!run.stop) {
    out << "/>\n";
    return;
  }
  const std::string type =
      !run.stopType.empty() ? run.stopType : (run.crashed ? "crash" : "refused");
  const std::string message = XmlEscaped(*run.stop);
  out << ">\n    <failure type=\"" << XmlEscaped(type) << "\" message=\"" << message << "\">"
      << (run.stopDetails.empty() ? message : XmlEscaped(run.stopDetails))
      << "</failure>\n  </testcase>\n";
}

void WriteExpectationCase(std::ostream& out, std::size_t index, const ExpectationResult& r) {
  out << "  <testcase classname=\"rebound-sim.expect\" name=\"expect[" << index
      << "]: " << XmlEscaped(r.native) << ", " << XmlEscaped(ExpectedCountText(r.expected));
  if (r.expected.framesGiven) {
    out << " in frames " << r.expected.firstFrame << " to " << r.expected.lastFrame;
  }
  out << "\" time=\"0.000\"";
  if (r.met) {
    out << "/>\n";
    return;
  }
  const std::string message = XmlEscaped(DescribeExpectation(r));
  out << ">\n    <failure type=\"expectation\" message=\"" << message << "\">" << message
      << "</failure>\n  </testcase>\n";
}

}  // namespace

std::string XmlEscaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out += "\xEF\xBF\xBD";
        } else {
          out += c;
        }
    }
  }
  return out;
}

void WriteJUnit(std::ostream& out, const JUnitRun& run) {
  std::size_t failures = run.stop ? 1 : 0;
  for (const ExpectationResult& r : run.expectations) failures += r.met ? 0 : 1;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<testsuite name=\"" << XmlEscaped(run.scenario) << "\" tests=\""
      << run.expectations.size() + 1 << "\" failures=\"" << failures
      << "\" errors=\"0\" skipped=\"0\" time=\"" << Seconds(run.seconds) << "\">\n"
      << "  <properties>\n";
  WriteProperty(out, run.subject.c_str(), run.scenarioFile);
  WriteProperty(out, "plugin", run.plugin);
  WriteProperty(out, "frames", std::to_string(run.frames));
  if (run.seed) WriteProperty(out, "seed", std::to_string(*run.seed));
  for (const auto& [name, value] : run.properties) WriteProperty(out, name.c_str(), value);
  out << "  </properties>\n";
  WriteRunCase(out, run);
  for (std::size_t i = 0; i < run.expectations.size(); ++i) {
    WriteExpectationCase(out, i, run.expectations[i]);
  }
  out << "</testsuite>\n";
}

}  // namespace sim
