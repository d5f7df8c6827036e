// The top of the page: the run's title and numbers, its seed, and the
// navigation to the sections.
#include <string>

#include "sim/report/report_markup.h"
#include "sim/report/report_sections.h"
#include "sim/report/svg.h"

namespace sim::report {

namespace {

void WriteRunNumbers(std::ostream& out, const Scenario& scenario, const RunSummary& summary) {
  const std::string perFrame =
      summary.frames > 0
          ? FixedOrDash(
                static_cast<double>(summary.nativeCalls) / static_cast<double>(summary.frames), 1)
          : std::string("0");
  out << "<p class=\"meta\">Scenario <code>" << XmlEscape(scenario.fileName) << "</code> · "
      << summary.frames << " frames at " << scenario.fps << " fps ("
      << FixedOrDash(static_cast<double>(summary.gameTimeMs) / 1000.0, 2)
      << " s of game time) from game time " << scenario.startGameTime << " · "
      << summary.nativeCalls << " native calls (" << perFrame << " per frame, at most "
      << summary.maxCallsInFrame << " in one)</p>\n";
}

// How the run drew its random numbers, and how to run it again.
void WriteSeeding(std::ostream& out, const Scenario& scenario, const RunSummary& summary,
                  bool pluginLoaded) {
  switch (pluginLoaded ? summary.seeding : Seeding::kOsRandom) {
    case Seeding::kSeeded:
      out << "Seed <strong class=\"seed\">" << summary.seed << "</strong> — <code>rebound-sim ";
      if (scenario.fileName != Scenario{}.fileName) {
        out << "--scenario " << XmlEscape(scenario.fileName) << " ";
      }
      out << "--seed " << summary.seed << "</code> replays this run.";
      break;
    case Seeding::kNoExport:
      out << "No seed: the plug-in has no seed export, so it drew from the system's random source.";
      break;
    case Seeding::kOsRandom:
      if (!pluginLoaded) {
        out << "No plug-in was loaded: the game ran alone.";
        break;
      }
      out << "No seed: the plug-in drew from the system's random source; this run cannot be "
             "replayed.";
      break;
  }
}

}  // namespace

void WriteSummary(std::ostream& out, const Scenario& scenario, const RunSummary& summary,
                  bool pluginLoaded) {
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      << "<title>Rebound run: "
      << XmlEscape(scenario.name)
      // report.css starts at its first rule; the page has the tag on a line of its own.
      << "</title>\n<style>\n"
      << ReportStyle()
      << "</style></head><body>\n<header>\n<h1>Rebound run: " << XmlEscape(scenario.name)
      << "</h1>\n";
  WriteRunNumbers(out, scenario, summary);
  out << "<p class=\"meta\">";
  WriteSeeding(out, scenario, summary, pluginLoaded);
  if (summary.scriptStack.measured) {
    out << " Script stack: peak " << summary.scriptStack.peak << " bytes of "
        << summary.scriptStack.size << ".";
  }
  out << "</p>\n";
  if (!summary.fault.empty()) {
    out << "<p class=\"fault\">The run stopped: " << XmlEscape(summary.fault) << "</p>\n";
  }
  out << "<nav><a href=\"#timeline\">Timeline</a><a href=\"#frames\">Frames</a>"
         "<a href=\"#key-frames\">Key frames</a><a href=\"#deaths\">Deaths</a>"
         "<a href=\"#maps\">Maps</a><a href=\"#phases\">Phases</a><a href=\"#events\">Events</a>"
         "</nav>\n</header>\n<main>\n";
}

}  // namespace sim::report
