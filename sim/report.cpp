#include "sim/report.h"

#include <cstdio>

#include "sim/simulation.h"
#include "sim/svg.h"

namespace sim {

namespace {

constexpr const char* kStyle = R"(
body { font-family: sans-serif; margin: 2em; background: #f4f4f4; color: #222; }
h1 { margin-bottom: 0.2em; }
table { border-collapse: collapse; margin: 1em 0; background: #fff; }
td, th { border: 1px solid #ccc; padding: 0.25em 0.6em; text-align: left; font-size: 0.9em; }
th { background: #e8e8e8; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
.frames { display: flex; flex-wrap: wrap; gap: 1em; }
figure { margin: 0; background: #fff; padding: 0.5em; border: 1px solid #ccc; }
figure svg { width: 640px; height: 360px; display: block; }
figcaption { font-size: 0.9em; margin-top: 0.3em; }
.cat-flow { color: #a01010; font-weight: bold; }
.fault { color: #fff; background: #a01010; padding: 0.5em; }
)";

std::string Fixed(double v, int decimals) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string FrameCell(std::int64_t frame) { return frame < 0 ? "—" : std::to_string(frame); }

}  // namespace

void WriteHtmlReport(std::ostream& out, const Simulation& simulation, const FramePicture& picture) {
  const Scenario& scenario = simulation.GetScenario();
  const RunSummary summary = simulation.Summary();
  const FlowObserver& flow = simulation.Flow();
  const double msPerFrame = 1000.0 / scenario.fps;

  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Rebound run: "
      << XmlEscape(scenario.name) << "</title>\n<style>" << kStyle << "</style></head><body>\n";
  out << "<h1>Rebound run: " << XmlEscape(scenario.name) << "</h1>\n";
  out << "<p>Scenario " << XmlEscape(scenario.fileName) << ": " << summary.frames << " frames at "
      << scenario.fps << " fps (" << Fixed(static_cast<double>(summary.gameTimeMs) / 1000.0, 2)
      << " s of game time) from game time " << scenario.startGameTime << "; " << summary.nativeCalls
      << " native calls.</p>\n";
  if (!summary.fault.empty()) {
    out << "<p class=\"fault\">The run stopped: " << XmlEscape(summary.fault) << "</p>\n";
  }

  out << "<h2>Deaths and respawns</h2>\n";
  if (flow.DeathCount() == 0) {
    out << "<p>No death was taken over in this run.</p>\n";
  } else {
    out << "<table><tr><th>#</th><th>death frame</th><th>shard shown</th><th>fade-out</th>"
           "<th>respawned</th><th>death to respawn</th><th>taps</th><th>place of death</th>"
           "<th>spawn point</th><th>heading</th><th>distance</th><th>from</th></tr>\n";
    int n = 0;
    for (const DeathRecord& d : flow.Deaths()) {
      const std::string span =
          d.respawnFrame < 0
              ? "—"
              : std::to_string(d.respawnFrame - d.deathFrame) + " frames (" +
                    Fixed(static_cast<double>(d.respawnFrame - d.deathFrame) * msPerFrame / 1000.0,
                          2) +
                    " s)";
      out << "<tr><td>" << ++n << "</td><td class=\"num\">" << FrameCell(d.deathFrame)
          << "</td><td class=\"num\">" << FrameCell(d.shardFrame) << "</td><td class=\"num\">"
          << FrameCell(d.fadeOutFrame) << "</td><td class=\"num\">" << FrameCell(d.respawnFrame)
          << "</td><td>" << span << "</td><td class=\"num\">" << d.taps << "</td><td>("
          << Fixed(d.deathPosition[0], 1) << ", " << Fixed(d.deathPosition[1], 1) << ", "
          << Fixed(d.deathPosition[2], 1) << ")</td><td>";
      if (d.respawnFrame >= 0) {
        out << "(" << Fixed(d.spawnPosition[0], 1) << ", " << Fixed(d.spawnPosition[1], 1) << ", "
            << Fixed(d.spawnPosition[2], 1) << ")</td><td class=\"num\">"
            << Fixed(d.spawnHeading, 1) << "</td><td class=\"num\">"
            << (d.distance >= 0 ? Fixed(d.distance, 1) + " m" : "—") << "</td><td>"
            << XmlEscape(d.searchOutcome);
      } else {
        out << "—</td><td>—</td><td>—</td><td>—";
      }
      out << "</td></tr>\n";
    }
    out << "</table>\n";
    if (flow.DeathCount() > flow.Deaths().size()) {
      out << "<p>" << flow.DeathCount() - flow.Deaths().size()
          << " later deaths are left out of this table.</p>\n";
    }
  }

  out << "<h2>Native calls and heap allocations per frame, by phase of the flow</h2>\n<table>"
         "<tr><th>phase</th><th>frames</th><th>calls</th><th>calls per frame</th>"
         "<th>most calls in one frame</th><th>plug-in allocations per frame</th>"
         "<th>most in one frame</th><th>simulator allocations per frame</th>"
         "<th>most in one frame</th></tr>\n";
  for (std::size_t i = 0; i < kFlowPhaseCount; ++i) {
    const PhaseCost& cost = flow.Costs()[i];
    const auto perFrame = [&cost](std::uint64_t total) {
      return cost.frames > 0
                 ? Fixed(static_cast<double>(total) / static_cast<double>(cost.frames), 1)
                 : std::string("—");
    };
    out << "<tr><td>" << FlowPhaseName(static_cast<FlowPhase>(i)) << "</td><td class=\"num\">"
        << cost.frames << "</td><td class=\"num\">" << cost.calls << "</td><td class=\"num\">"
        << perFrame(cost.calls) << "</td><td class=\"num\">" << cost.maxCalls
        << "</td><td class=\"num\">" << perFrame(cost.pluginAllocations)
        << "</td><td class=\"num\">" << cost.maxPluginAllocations << "</td><td class=\"num\">"
        << perFrame(cost.simulatorAllocations) << "</td><td class=\"num\">"
        << cost.maxSimulatorAllocations << "</td></tr>\n";
  }
  out << "</table>\n";

  out << "<h2>Key frames</h2>\n";
  if (flow.KeyFrames().empty()) {
    out << "<p>Nothing of the flow was drawn.</p>\n";
  } else {
    out << "<div class=\"frames\">\n";
    for (const FlowKeyFrame& k : flow.KeyFrames()) {
      const std::string svg = picture ? picture(k.frame) : std::string();
      if (svg.empty()) continue;
      out << "<figure>" << svg << "<figcaption>Frame " << k.frame << ": " << XmlEscape(k.caption)
          << "</figcaption></figure>\n";
    }
    out << "</div>\n";
    if (flow.KeyFramesLeftOut() > 0) {
      out << "<p>" << flow.KeyFramesLeftOut() << " later key frames are left out.</p>\n";
    }
  }

  out << "<h2>Timeline</h2>\n<table><tr><th>frame</th><th>game "
         "time</th><th>what</th><th></th></tr>\n";
  for (const TimelineEntry& e : simulation.GetWorld().timeline.Entries()) {
    out << "<tr><td class=\"num\">" << (e.frame < 0 ? std::string("load") : std::to_string(e.frame))
        << "</td><td class=\"num\">" << e.time << "</td><td class=\"cat-" << XmlEscape(e.category)
        << "\">" << XmlEscape(e.category) << "</td><td>" << XmlEscape(e.text) << "</td></tr>\n";
  }
  out << "</table>\n";
  if (simulation.GetWorld().timeline.LeftOut() > 0) {
    out << "<p>" << simulation.GetWorld().timeline.LeftOut()
        << " later events are left out of this timeline.</p>\n";
  }
  out << "</body></html>\n";
}

}  // namespace sim
