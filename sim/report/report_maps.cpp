// Maps of the respawns: each death seen from above, with the circles the
// spawn search keeps to, its centre and results, the road nodes, the point
// chosen and where the player was placed.
#include <algorithm>
#include <cmath>
#include <string>

#include "sim/base/number_format.h"
#include "sim/report/report_markup.h"
#include "sim/report/report_sections.h"
#include "sim/report/svg.h"

namespace sim::report {

namespace {

// Maps drawn; the table lists every kept death.
constexpr std::size_t kMappedDeaths = 12;

constexpr double kSize = 400.0;
constexpr double kHalf = kSize / 2.0;
constexpr double kMargin = 22.0;

// A point on the map; `off` when it lies beyond the edge and is drawn there.
struct MapPoint {
  double x, y;
  bool off;
};

// The world around one place of death, scaled to the map with north up.
struct MapView {
  double dx, dy;  // the place of death, at the map's centre
  double reach;   // metres from the centre to the edge
  double scale;   // map units per metre

  double Distance(double x, double y) const { return std::hypot(x - dx, y - dy); }

  MapPoint At(double x, double y) const {
    double ox = (x - dx) * scale;
    double oy = -(y - dy) * scale;
    const double r = std::hypot(ox, oy);
    const double limit = kHalf - kMargin / 2;
    const bool off = r > limit;
    if (off) {
      ox *= limit / r;
      oy *= limit / r;
    }
    return MapPoint{kHalf + ox, kHalf + oy, off};
  }
};

// The view reaches past the 300 m circle and the points of the respawn, but
// no farther than keeps both circles readable: what lies beyond is drawn at
// the edge with its distance.
MapView ViewOf(const DeathRecord& d) {
  MapView view{d.deathPosition[0], d.deathPosition[1], 330.0, 0.0};
  const auto include = [&view](const double* p) {
    view.reach = std::max(view.reach, view.Distance(p[0], p[1]) * 1.1);
  };
  if (d.searched) include(d.searchCentre);
  for (const auto& r : d.searchResults) include(r.data());
  if (d.chosen) include(d.chosenPoint);
  if (d.placeFrame >= 0) include(d.spawnPosition);
  view.reach = std::min(view.reach, 800.0);
  view.scale = (kHalf - kMargin) / view.reach;
  return view;
}

// A grid of round distances, a scale bar of one step, north, and the
// circles of 300 m and 100 m around the place of death.
void WriteGround(std::ostream& out, const MapView& view) {
  const double step = NiceStep(view.reach, 3.0);
  out << "<g class=\"mgrid\">";
  for (double k = -std::floor(view.reach / step); k <= std::floor(view.reach / step); ++k) {
    const double o = kHalf + k * step * view.scale;
    out << "<line x1=\"" << Px(o) << "\" x2=\"" << Px(o) << "\" y1=\"0\" y2=\"" << Px(kSize)
        << "\"/><line y1=\"" << Px(o) << "\" y2=\"" << Px(o) << "\" x1=\"0\" x2=\"" << Px(kSize)
        << "\"/>";
  }
  out << "</g>\n<g class=\"scale\"><line x1=\"12\" x2=\"" << Px(12 + step * view.scale)
      << "\" y1=\"" << Px(kSize - 14) << "\" y2=\"" << Px(kSize - 14) << "\"/><text x=\"12\" y=\""
      << Px(kSize - 20) << "\">" << FixedOrDash(step, 0) << " m</text></g>\n"
      << "<text class=\"north\" x=\"" << Px(kSize - 14)
      << "\" y=\"18\" text-anchor=\"middle\">N ↑</text>\n";
  out << "<circle class=\"r300\" cx=\"" << Px(kHalf) << "\" cy=\"" << Px(kHalf) << "\" r=\""
      << Px(300.0 * view.scale)
      << "\"><title>300 m: a spawn point farther away is not used</title></circle>\n"
      << "<circle class=\"r100\" cx=\"" << Px(kHalf) << "\" cy=\"" << Px(kHalf) << "\" r=\""
      << Px(100.0 * view.scale)
      << "\"><title>100 m: the search is centred this far away</title></circle>\n";
}

// The road nodes on the map; returns how many lie off it (not drawn).
std::size_t WriteRoadNodes(std::ostream& out, const std::vector<RoadNode>& roadNodes,
                           const MapView& view) {
  std::size_t nodesOff = 0;
  out << "<g class=\"nodes\">";
  for (const RoadNode& node : roadNodes) {
    const MapPoint p = view.At(node.position.x, node.position.y);
    if (p.off) {
      ++nodesOff;
      continue;
    }
    const double at[3] = {node.position.x, node.position.y, node.position.z};
    out << "<rect x=\"" << Px(p.x - 3) << "\" y=\"" << Px(p.y - 3)
        << "\" width=\"6\" height=\"6\"><title>road node " << PositionCell(at) << "</title></rect>";
  }
  out << "</g>\n";
  return nodesOff;
}

// The search's centre, joined to the place of death, and what it found.
void WriteSearch(std::ostream& out, const DeathRecord& d, const MapView& view) {
  if (d.searched) {
    const MapPoint c = view.At(d.searchCentre[0], d.searchCentre[1]);
    out << "<line class=\"toc\" x1=\"" << Px(kHalf) << "\" y1=\"" << Px(kHalf) << "\" x2=\""
        << Px(c.x) << "\" y2=\"" << Px(c.y) << "\"/><g class=\"centre\"><title>search centre "
        << PositionCell(d.searchCentre) << "</title><path d=\"M" << Px(c.x - 7) << "," << Px(c.y)
        << "h14M" << Px(c.x) << "," << Px(c.y - 7) << "v14\"/></g>\n";
  }
  out << "<g class=\"results\">";
  for (const auto& r : d.searchResults) {
    const MapPoint p = view.At(r[0], r[1]);
    out << "<circle cx=\"" << Px(p.x) << "\" cy=\"" << Px(p.y) << "\" r=\"5\"><title>search result "
        << PositionCell(r.data()) << "</title></circle>";
  }
  out << "</g>\n";
}

// A point drawn at the map's edge says how far away it really lies.
void WriteOffMapLabel(std::ostream& out, const MapPoint& p, const std::string& text,
                      const char* cls) {
  if (!p.off) return;
  const bool right = p.x < kHalf;
  out << "<text class=\"off " << cls << "\" x=\"" << Px(p.x + (right ? 8 : -8)) << "\" y=\""
      << Px(std::clamp(p.y + 4, 12.0, kSize - 6)) << "\" text-anchor=\""
      << (right ? "start" : "end") << "\">" << XmlEscape(text) << " away</text>";
}

// The point the plug-in chose and where the player was set down.
void WriteOutcome(std::ostream& out, const DeathRecord& d, const MapView& view) {
  if (d.chosen) {
    const MapPoint p = view.At(d.chosenPoint[0], d.chosenPoint[1]);
    out << "<circle class=\"chosen\" cx=\"" << Px(p.x) << "\" cy=\"" << Px(p.y)
        << "\" r=\"9\"><title>point chosen " << PositionCell(d.chosenPoint) << "</title></circle>";
    WriteOffMapLabel(
        out, p,
        "chosen " + FixedOrDash(view.Distance(d.chosenPoint[0], d.chosenPoint[1]), 0) + " m",
        "chosen-t");
  }
  if (d.placeFrame >= 0) {
    const MapPoint p = view.At(d.spawnPosition[0], d.spawnPosition[1]);
    out << "<line class=\"toplaced\" x1=\"" << Px(kHalf) << "\" y1=\"" << Px(kHalf) << "\" x2=\""
        << Px(p.x) << "\" y2=\"" << Px(p.y) << "\"/><circle class=\"placed\" cx=\"" << Px(p.x)
        << "\" cy=\"" << Px(p.y) << "\" r=\"5\"><title>placed at " << PositionCell(d.spawnPosition)
        << "</title></circle>";
    WriteOffMapLabel(
        out, p,
        "placed " + FixedOrDash(view.Distance(d.spawnPosition[0], d.spawnPosition[1]), 0) + " m",
        "placed-t");
  }
}

// The cross at the place of death, closing the drawing, and the caption.
void WriteDeathAndCaption(std::ostream& out, const DeathRecord& d, int number, std::size_t nodesOff,
                          const MapView& view) {
  out << "<g class=\"death\"><title>place of death " << PositionCell(d.deathPosition)
      << "</title><path d=\"M" << Px(kHalf - 6) << "," << Px(kHalf - 6) << "l12,12M"
      << Px(kHalf + 6) << "," << Px(kHalf - 6) << "l-12,12\"/></g>\n</svg>\n<figcaption><b>Death "
      << number << "</b>, frame " << d.deathFrame << ": ";
  if (d.placeFrame >= 0) {
    out << "placed " << FixedOrDash(view.Distance(d.spawnPosition[0], d.spawnPosition[1]), 1)
        << " m away (" << XmlEscape(d.searchOutcome.empty() ? "?" : d.searchOutcome) << ")";
  } else {
    out << "not placed by the end of the run";
  }
  if (d.searchResultCount > d.searchResults.size()) {
    const auto more = static_cast<long long>(d.searchResultCount - d.searchResults.size());
    out << "; " << CountOf(more, "more search result", "more search results") << " not shown";
  }
  if (nodesOff > 0) {
    out << "; " << CountOf(static_cast<long long>(nodesOff), "road node lies", "road nodes lie")
        << " off the map";
  }
  out << ".</figcaption></figure>\n";
}

}  // namespace

void WriteDeathMap(std::ostream& out, const DeathRecord& d, int number,
                   const std::vector<RoadNode>& roadNodes) {
  const MapView view = ViewOf(d);
  out << "<figure class=\"map\"><svg viewBox=\"0 0 " << Px(kSize) << " " << Px(kSize)
      << "\" role=\"img\" aria-label=\"Map of death " << number << "\">\n"
      << "<rect class=\"ground\" width=\"" << Px(kSize) << "\" height=\"" << Px(kSize) << "\"/>\n";
  WriteGround(out, view);
  const std::size_t nodesOff = WriteRoadNodes(out, roadNodes, view);
  WriteSearch(out, d, view);
  WriteOutcome(out, d, view);
  WriteDeathAndCaption(out, d, number, nodesOff, view);
}

void WriteMaps(std::ostream& out, const std::vector<DeathRecord>& deaths, std::uint64_t deathCount,
               const std::vector<RoadNode>& roadNodes) {
  out << "<section id=\"maps\"><h2>Maps of the respawns</h2>\n";
  if (deaths.empty()) {
    out << "<p>No death, no map.</p></section>\n";
    return;
  }
  out << "<div class=\"legend\"><span><i class=\"sym sym-mdeath\"></i>place of death</span>"
         "<span><i class=\"sym sym-centre\"></i>search centre</span>"
         "<span><i class=\"sym sym-r100\"></i>100 m</span><span><i class=\"sym sym-r300\"></i>300 m"
         "</span><span><i class=\"sym sym-result\"></i>search result</span>"
         "<span><i class=\"sym sym-node\"></i>road node</span>"
         "<span><i class=\"sym sym-chosen\"></i>point chosen</span>"
         "<span><i class=\"sym sym-placed\"></i>where the player was placed</span></div>\n"
         "<div class=\"maps\">\n";
  const std::size_t mapped = std::min(deaths.size(), kMappedDeaths);
  for (std::size_t i = 0; i < mapped; ++i) {
    WriteDeathMap(out, deaths[i], static_cast<int>(i) + 1, roadNodes);
  }
  out << "</div>\n";
  if (deathCount > kMappedDeaths) {
    out << "<p class=\"note\">"
        << CountOf(static_cast<long long>(deathCount - kMappedDeaths), "later death is",
                   "later deaths are")
        << " not mapped.</p>\n";
  }
  out << "</section>\n";
}

}  // namespace sim::report
