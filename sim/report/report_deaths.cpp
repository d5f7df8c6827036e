// The table of deaths and respawns: when each moment of the flow came, where
// the player died and was placed, and how the spawn point was found.
#include <string>

#include "sim/base/number_format.h"
#include "sim/report/report_markup.h"
#include "sim/report/report_sections.h"
#include "sim/report/svg.h"

namespace sim::report {

namespace {

// From death to respawn, in frames and seconds; a dash before a respawn.
std::string SpanCell(const DeathRecord& d, double msPerFrame) {
  if (d.respawnFrame < 0) return "—";
  const std::int64_t frames = d.respawnFrame - d.deathFrame;
  return CountOf(frames, "frame", "frames") + " (" +
         FixedOrDash(static_cast<double>(frames) * msPerFrame / 1000.0, 2) + " s)";
}

void WriteDeathRow(std::ostream& out, const DeathRecord& d, int number, double msPerFrame) {
  out << "<tr><td>" << number << "</td><td class=\"num\">" << FrameCell(d.deathFrame)
      << "</td><td class=\"num\">" << FrameCell(d.shardFrame) << "</td><td class=\"num\">"
      << FrameCell(d.fadeOutFrame) << "</td><td class=\"num\">" << FrameCell(d.placeFrame)
      << "</td><td class=\"num\">" << FrameCell(d.respawnFrame) << "</td><td>"
      << SpanCell(d, msPerFrame) << "</td><td class=\"num\">" << d.taps << "</td><td>"
      << PositionCell(d.deathPosition) << "</td><td>";
  if (d.respawnFrame >= 0) {
    out << PositionCell(d.spawnPosition) << "</td><td class=\"num\">"
        << FixedOrDash(d.spawnHeading, 1) << "</td><td class=\"num\">"
        << (d.distance >= 0 ? FixedOrDash(d.distance, 1) + " m" : "—") << "</td><td>"
        << XmlEscape(d.searchOutcome);
  } else {
    out << "—</td><td>—</td><td>—</td><td>—";
  }
  out << "</td></tr>\n";
}

}  // namespace

void WriteDeathTable(std::ostream& out, const std::vector<DeathRecord>& deaths,
                     std::uint64_t deathCount, double msPerFrame) {
  out << "<section id=\"deaths\"><h2>Deaths and respawns</h2>\n";
  if (deathCount == 0) {
    out << "<p>No death was taken over in this run.</p></section>\n";
    return;
  }
  out << "<table><tr><th>#</th><th>death frame</th><th>shard shown</th><th>fade-out</th>"
         "<th>placed</th><th>respawned</th><th>death to respawn</th><th>taps</th>"
         "<th>place of death</th><th>spawn point</th><th>heading</th><th>distance</th>"
         "<th>from</th></tr>\n";
  int number = 0;
  for (const DeathRecord& d : deaths) WriteDeathRow(out, d, ++number, msPerFrame);
  out << "</table>\n";
  if (deathCount > deaths.size()) {
    out << "<p class=\"note\">"
        << CountOf(static_cast<long long>(deathCount - deaths.size()), "later death is",
                   "later deaths are")
        << " left out of this table.</p>\n";
  }
  out << "</section>\n";
}

}  // namespace sim::report
