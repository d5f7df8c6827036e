// The top of the page: the run's title and numbers, its seed, and the
// navigation to the sections.
#include <optional>
#include <string>
#include <vector>

#include "sim/base/number_format.h"
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
      << CountOf(summary.frames, "frame", "frames") << " at " << scenario.fps << " fps ("
      << FixedOrDash(static_cast<double>(summary.gameTimeMs) / 1000.0, 2)
      << " s of game time) from game time " << scenario.startGameTime << " · "
      << CountOf(static_cast<long long>(summary.nativeCalls), "native call", "native calls") << " ("
      << perFrame << " per frame, at most " << summary.maxCallsInFrame << " in one)</p>\n";
}

// How the run drew its random numbers, and how to run it again.
void WriteSeeding(std::ostream& out, const Scenario& scenario, const RunSummary& summary,
                  bool pluginLoaded) {
  switch (pluginLoaded ? summary.seeding : Seeding::OsRandom) {
    case Seeding::Seeded:
      out << "Seed <strong class=\"seed\">" << summary.seed << "</strong> — <code>rebound-sim ";
      // The built-in scenario is the one run without --scenario.
      if (!scenario.IsBuiltInDefault()) {
        out << "--scenario " << XmlEscape(scenario.fileName) << " ";
      }
      out << "--seed " << summary.seed << "</code> replays this run.";
      break;
    case Seeding::RecordedDraws:
      out << "No seed: the plug-in drew the random values of a recording, in order.";
      break;
    case Seeding::NoExport:
      out << "No seed: the plug-in has no seed export, so it drew from the system's random source.";
      break;
    case Seeding::OsRandom:
      if (!pluginLoaded) {
        out << "No plug-in was loaded: the game ran alone.";
        break;
      }
      out << "No seed: the plug-in drew from the system's random source; this run cannot be "
             "replayed.";
      break;
  }
}

// Each plug-in's share of a run of several; nothing for a run of one.
void WritePlugins(std::ostream& out, const std::vector<PluginFigures>& plugins) {
  if (plugins.empty()) return;
  out << "<table class=\"plugins\"><tr><th>plug-in</th><th>scripts</th><th>native calls</th>"
         "<th>keyboard handlers</th></tr>\n";
  for (const PluginFigures& p : plugins) {
    out << "<tr><td><code>" << XmlEscape(p.file) << "</code></td><td class=\"num\">" << p.scripts
        << "</td><td class=\"num\">" << p.nativeCalls << "</td><td class=\"num\">"
        << p.keyboardHandlers << "</td></tr>\n";
  }
  out << "</table>\n";
}

// The page's links to its sections; closes the header.
void WriteNavigation(std::ostream& out) {
  out << "<nav><a href=\"#timeline\">Timeline</a><a href=\"#frames\">Frames</a>"
         "<a href=\"#key-frames\">Key frames</a><a href=\"#deaths\">Deaths</a>"
         "<a href=\"#maps\">Maps</a><a href=\"#phases\">Phases</a><a href=\"#events\">Events</a>"
         "</nav>\n</header>\n<main>\n";
}

std::string OrUnknown(const std::optional<std::string>& value) {
  return value ? XmlEscape(*value) : std::string("(not read)");
}

// Where the recording was made, from its header, and what the page shows of
// it: the game's answers drove the pictures, not the world model's.
void WriteRecordingOrigin(std::ostream& out, const RecordingOrigin& origin,
                          const RunSummary& summary) {
  const RecordingHeader& h = origin.header;
  out << "<p class=\"meta\">Built from the recording <code>" << XmlEscape(origin.file) << "</code>";
  if (h.version == 0) {
    out << ", a simulator trace (no header)";
  } else {
    out << " (format version " << h.version << "): Rebound " << XmlEscape(h.rebound) << ", build "
        << XmlEscape(h.build) << ", on " << XmlEscape(h.platform) << "; host "
        << OrUnknown(h.hostFile) << " " << OrUnknown(h.hostVersion) << "; game "
        << OrUnknown(h.gameFile) << " " << OrUnknown(h.gameVersion);
    if (h.frameBase) out << "; its frame 0 was the game's frame " << *h.frameBase;
  }
  out << ". The plug-in was not run: the pictures are its recorded draw calls, the fade is the "
         "recorded fades', the flow follows the recorded calls and answers, and the maps show the "
         "search results the plug-in read. Heap allocations are not recorded: the phase table "
         "shows none. "
      << CountOf(summary.frames, "frame", "frames") << " · "
      << CountOf(static_cast<long long>(summary.nativeCalls), "native call", "native calls")
      << " (at most " << summary.maxCallsInFrame << " in one frame). ";
  if (origin.unexpressed == 0) {
    out << "The world model gives every recorded answer.";
  } else {
    out << origin.unexpressed << " recorded answers are ones the world model does not give "
        << "(<code>rebound-sim scenario-from</code> lists them).";
  }
  if (!origin.recordingBreak.empty()) {
    out << " The recording is not whole: " << XmlEscape(origin.recordingBreak) << ".";
  }
  out << " <code>rebound-sim replay " << XmlEscape(origin.file)
      << "</code> runs a build of the plug-in against it.</p>\n";
}

}  // namespace

void WriteSummary(std::ostream& out, const Scenario& scenario, const RunSummary& summary,
                  bool pluginLoaded, const RecordingOrigin* recording) {
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      << (recording != nullptr ? "<title>Rebound recording: " : "<title>Rebound run: ")
      << XmlEscape(scenario.name)
      // report.css starts at its first rule; the page has the tag on a line of its own.
      << "</title>\n<style>\n"
      << ReportStyle() << "</style></head><body>\n<header>\n<h1>"
      << (recording != nullptr ? "Rebound recording: " : "Rebound run: ")
      << XmlEscape(scenario.name) << "</h1>\n";
  if (recording != nullptr) {
    // A recording has no seed to give and no stack to measure.
    WriteRecordingOrigin(out, *recording, summary);
    WriteNavigation(out);
    return;
  }
  WriteRunNumbers(out, scenario, summary);
  out << "<p class=\"meta\">";
  WriteSeeding(out, scenario, summary, pluginLoaded);
  if (summary.scriptStack.measured) {
    out << " Script stack: peak " << summary.scriptStack.peak << " bytes of "
        << summary.scriptStack.size << ".";
  }
  out << "</p>\n";
  if (!summary.fault.empty()) {
    out << "<p class=\"fault\">The run stopped: " << XmlEscape(summary.fault);
    if (!summary.faultCall.empty()) {
      out << "<br>The call it stopped at (the frame's call " << summary.faultCallIndex
          << ", counted from 0): <code>" << XmlEscape(summary.faultCall) << "</code>";
    }
    out << "</p>\n";
  }
  WritePlugins(out, summary.plugins);
  if (summary.searchesMiscounted > 0) {
    out << "<p class=\"meta\">The scenario's world contradicted itself: "
        << summary.searchesMiscounted
        << (summary.searchesMiscounted == 1 ? " spawn search" : " spawn searches")
        << " reported more results than it held, and the plug-in asked for one past them; the "
           "game left its out-variables as they were (see the spawn entries under Events).</p>\n";
  }
  WriteNavigation(out);
}

}  // namespace sim::report
