// The timeline: the whole run on one time axis. Bands of the flow's phases
// behind two plots (the bar's fill over the screen's fade, and the native
// calls per frame), marks of deaths, taps, loads and unloads above them, and
// the key frames on the axis, each of which opens in the viewer.
#include <algorithm>
#include <string>

#include "sim/report/report_markup.h"
#include "sim/report/report_sections.h"
#include "sim/report/svg.h"

namespace sim::report {

namespace {

// The layout in the drawing's view box. The page's script reads the plot's
// left edge, width and frame count from the drawing to place its cursor.
constexpr double kWidth = 1200.0;
constexpr double kLeft = 76.0;
constexpr double kRight = 30.0;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kMarkRow = 16.0;
constexpr double kTapRow = 38.0;
constexpr double kFillTop = 58.0;
constexpr double kFillHeight = 150.0;
constexpr double kCallsTop = kFillTop + kFillHeight + 30.0;
constexpr double kCallsHeight = 80.0;
constexpr double kBottom = kCallsTop + kCallsHeight;
constexpr double kHeight = kBottom + 34.0;

// Where a frame, a fill and a number of calls land in the drawing.
struct TimelineScale {
  std::int64_t frames;  // on the axis, at least 1
  double callsScale;    // the calls at the top of their plot

  double X(double frame) const { return kLeft + frame / static_cast<double>(frames) * kPlotWidth; }
  static double FillY(double percent) {
    return kFillTop + kFillHeight * (1.0 - std::clamp(percent, 0.0, 100.0) / 100.0);
  }
  double CallsY(double calls) const {
    return kCallsTop + kCallsHeight * (1.0 - std::min(calls / callsScale, 1.0));
  }
};

TimelineScale ScaleOf(const TimelineInput& in) {
  std::uint32_t maxCalls = 0;
  for (const SeriesColumn& c : in.columns) maxCalls = std::max(maxCalls, c.maxCalls);
  return TimelineScale{std::max<std::int64_t>(in.framesSeen, 1),
                       std::max(NiceStep(std::max<double>(maxCalls, 1.0), 1.0), 1.0)};
}

double ColumnEnd(const SeriesColumn& c) {
  return static_cast<double>(c.firstFrame) + static_cast<double>(c.frames);
}

// The phase a column is banded in: the one it spent most frames in, other
// than watching when it has any.
std::size_t BandPhase(const SeriesColumn& c) {
  std::size_t best = 0;
  for (std::size_t p = 1; p < kFlowPhaseCount; ++p) {
    if (c.phaseFrames[p] > 0 && (best == 0 || c.phaseFrames[p] > c.phaseFrames[best])) best = p;
  }
  return best;
}

// The phases of the flow as bands behind both plots, one per run of columns
// in the same phase; watching has none.
void WritePhaseBands(std::ostream& out, const std::vector<SeriesColumn>& columns,
                     const TimelineScale& s) {
  std::size_t i = 0;
  while (i < columns.size()) {
    const std::size_t phase = BandPhase(columns[i]);
    std::size_t j = i + 1;
    while (j < columns.size() && BandPhase(columns[j]) == phase) ++j;
    if (phase != 0) {
      const double x0 = s.X(static_cast<double>(columns[i].firstFrame));
      const double x1 = s.X(ColumnEnd(columns[j - 1]));
      const auto flowPhase = static_cast<FlowPhase>(phase);
      out << "<rect class=\"band " << PhaseClass(flowPhase) << "\" x=\"" << Px(x0) << "\" y=\""
          << Px(kFillTop) << "\" width=\"" << Px(std::max(x1 - x0, 0.6)) << "\" height=\""
          << Px(kBottom - kFillTop) << "\"><title>" << FlowPhaseName(flowPhase) << ": frames "
          << columns[i].firstFrame << "–"
          << static_cast<std::int64_t>(ColumnEnd(columns[j - 1])) - 1 << "</title></rect>\n";
    }
    i = j;
  }
}

void WriteGridLine(std::ostream& out, double y, const char* extra = "") {
  out << "<line x1=\"" << Px(kLeft) << "\" x2=\"" << Px(kLeft + kPlotWidth) << "\" y1=\"" << Px(y)
      << "\" y2=\"" << Px(y) << "\"" << extra << "/>";
}

void WriteLaneLabel(std::ostream& out, double x, double y, const std::string& text,
                    const char* extra = "") {
  out << "<text x=\"" << Px(x) << "\" y=\"" << Px(y) << "\" text-anchor=\"end\"" << extra << ">"
      << text << "</text>";
}

void WriteGrid(std::ostream& out) {
  out << "<g class=\"grid\">";
  for (double p : {0.0, 50.0, 100.0}) WriteGridLine(out, TimelineScale::FillY(p));
  WriteGridLine(out, kBottom);
  WriteGridLine(out, kCallsTop, " class=\"faint\"");
  out << "</g>\n";
}

// The labels of both plots and of the lanes above them.
void WriteLaneLabels(std::ostream& out, const TimelineScale& s) {
  for (double p : {0.0, 50.0, 100.0}) {
    WriteLaneLabel(out, kLeft - 6, TimelineScale::FillY(p) + 4, FixedOrDash(p, 0) + " %");
  }
  WriteLaneLabel(out, kLeft - 6, kCallsTop + 9, FixedOrDash(s.callsScale, 0));
  WriteLaneLabel(out, kLeft - 6, kBottom, "0");
  WriteLaneLabel(out, kLeft - 6, kCallsTop + kCallsHeight / 2 + 4, "calls", " class=\"lane\"");
  WriteLaneLabel(out, kLeft - 12, kMarkRow + 4, "events", " class=\"lane\"");
  WriteLaneLabel(out, kLeft - 6, kTapRow + 4, "taps", " class=\"lane\"");
}

// Round frame numbers along the bottom, with their time in seconds.
void WriteTimeAxis(std::ostream& out, const TimelineScale& s, double fps) {
  const double step = NiceStep(static_cast<double>(s.frames), 8.0);
  for (double f = 0; f <= static_cast<double>(s.frames) + 0.5; f += step) {
    const std::string x = Px(s.X(f));
    out << "<line class=\"tick\" x1=\"" << x << "\" x2=\"" << x << "\" y1=\"" << Px(kBottom)
        << "\" y2=\"" << Px(kBottom + 5) << "\"/><text x=\"" << x << "\" y=\"" << Px(kBottom + 18)
        << "\" text-anchor=\"middle\">" << FixedOrDash(f, 0) << "</text><text x=\"" << x
        << "\" y=\"" << Px(kBottom + 30) << "\" text-anchor=\"middle\" class=\"sec\">"
        << Seconds(f / fps) << " s</text>";
  }
}

// The plots' outlines as SVG path data.
struct SeriesPaths {
  std::string fade;     // dark areas where the screen faded
  std::string fill;     // the bar's fill, broken where no bar was drawn
  std::string calls;    // the most calls in a column, as steps
  std::string average;  // the average calls per frame of each column
};

// Adds one column to the fade's areas: an area opens at the first faded
// column and closes at the first clear one.
void TraceFade(SeriesPaths& paths, bool& inFade, const SeriesColumn& c, double x0, double x1) {
  const double clear = TimelineScale::FillY(0);
  if (c.maxFade > 0.0F) {
    const double y = TimelineScale::FillY(c.maxFade * 100.0);
    if (!inFade) paths.fade += "M" + Px(x0) + "," + Px(clear);
    paths.fade += "L" + Px(x0) + "," + Px(y) + "L" + Px(x1) + "," + Px(y);
    inFade = true;
  } else if (inFade) {
    paths.fade += "L" + Px(x0) + "," + Px(clear) + "Z";
    inFade = false;
  }
}

SeriesPaths TraceSeries(const std::vector<SeriesColumn>& columns, const TimelineScale& s) {
  SeriesPaths paths;
  paths.calls = "M" + Px(kLeft) + "," + Px(kBottom);
  bool inFade = false;
  bool inFill = false;
  double lastX = kLeft;
  for (const SeriesColumn& c : columns) {
    const double x0 = s.X(static_cast<double>(c.firstFrame));
    const double x1 = s.X(ColumnEnd(c));
    TraceFade(paths, inFade, c, x0, x1);
    if (c.maxFill >= 0.0F) {
      paths.fill +=
          (inFill ? "L" : "M") + Px((x0 + x1) / 2) + "," + Px(TimelineScale::FillY(c.maxFill));
    }
    inFill = c.maxFill >= 0.0F;
    const std::string callsY = Px(s.CallsY(c.maxCalls));
    paths.calls += "L" + Px(x0) + "," + callsY + "L" + Px(x1) + "," + callsY;
    if (c.frames > 0) {
      paths.average += (paths.average.empty() ? "M" : "L") + Px((x0 + x1) / 2) + "," +
                       Px(s.CallsY(static_cast<double>(c.calls) / c.frames));
    }
    lastX = x1;
  }
  if (inFade) paths.fade += "L" + Px(lastX) + "," + Px(TimelineScale::FillY(0)) + "Z";
  paths.calls += "L" + Px(lastX) + "," + Px(kBottom) + "Z";
  return paths;
}

// The screen's fade as a dark area, the bar's fill as a red line, the native
// calls per frame as a step area (and their average where a column holds
// more than one frame).
void WriteSeries(std::ostream& out, const TimelineInput& in, const TimelineScale& s) {
  const SeriesPaths paths = TraceSeries(in.columns, s);
  if (!paths.fade.empty()) out << "<path class=\"fade\" d=\"" << paths.fade << "\"/>\n";
  out << "<path class=\"calls\" d=\"" << paths.calls << "\"/>\n";
  if (in.framesPerColumn > 1 && !paths.average.empty()) {
    out << "<path class=\"calls-avg\" d=\"" << paths.average << "\"/>\n";
  }
  if (!paths.fill.empty()) out << "<path class=\"fill\" d=\"" << paths.fill << "\"/>\n";
}

// One mark's shape at x: a tick for a tap, a triangle and a rule through the
// plots for a death, a dot for a load or a start, a square for an unload.
void WriteMarkShape(std::ostream& out, MarkKind kind, double x) {
  switch (kind) {
    case MarkKind::Tap:
      out << "<line x1=\"" << Px(x) << "\" x2=\"" << Px(x) << "\" y1=\"" << Px(kTapRow - 7)
          << "\" y2=\"" << Px(kTapRow + 7) << "\"/>";
      break;
    case MarkKind::Death:
      out << "<path d=\"M" << Px(x - 6) << "," << Px(kMarkRow - 6) << "L" << Px(x + 6) << ","
          << Px(kMarkRow - 6) << "L" << Px(x) << "," << Px(kMarkRow + 6) << "Z\"/><line x1=\""
          << Px(x) << "\" x2=\"" << Px(x) << "\" y1=\"" << Px(kFillTop) << "\" y2=\"" << Px(kBottom)
          << "\" class=\"rule\"/>";
      break;
    case MarkKind::ScriptStart:
    case MarkKind::Load:
      out << "<circle cx=\"" << Px(x) << "\" cy=\"" << Px(kMarkRow) << "\" r=\"5\"/>";
      break;
    case MarkKind::Unload:
      out << "<rect x=\"" << Px(x - 5) << "\" y=\"" << Px(kMarkRow - 5)
          << "\" width=\"10\" height=\"10\"/>";
      break;
  }
}

void WriteMarks(std::ostream& out, const std::vector<RunMark>& marks, const TimelineScale& s) {
  out << "<g class=\"marks\">";
  for (const RunMark& m : marks) {
    out << "<g class=\"mark mk-" << static_cast<int>(m.kind) << "\"><title>" << MarkKindName(m.kind)
        << ", frame " << m.frame << "</title>";
    WriteMarkShape(out, m.kind, s.X(static_cast<double>(m.frame) + 0.5));
    out << "</g>";
  }
  out << "</g>\n";
}

// The key frames on the time axis; `data-i` is the frame's place in the
// viewer, which a click opens.
void WriteKeyMarks(std::ostream& out, const std::vector<RecordedFrame>& kept,
                   const TimelineScale& s) {
  out << "<g class=\"keys\">";
  for (std::size_t k = 0; k < kept.size(); ++k) {
    if (kept[k].key.empty()) continue;
    const double kx = s.X(static_cast<double>(kept[k].frame) + 0.5);
    out << "<path data-i=\"" << k << "\" d=\"M" << Px(kx) << "," << Px(kBottom - 1)
        << "l4,6l-4,6l-4,-6Z\"><title>Key frame " << kept[k].frame << ": " << XmlEscape(kept[k].key)
        << "</title></path>";
  }
  out << "</g>\n";
}

void WriteLegend(std::ostream& out, const TimelineInput& in) {
  out << "<div class=\"legend\"><span><i class=\"sw sw-fill\"></i>bar's fill</span>"
         "<span><i class=\"sw sw-fade\"></i>screen faded (black %)</span>"
         "<span><i class=\"sw sw-calls\"></i>native calls per frame"
      << (in.framesPerColumn > 1 ? " (most in a column; line: average)" : "") << "</span>";
  for (std::size_t p = 1; p < kFlowPhaseCount; ++p) {
    out << "<span><i class=\"sw " << PhaseClass(static_cast<FlowPhase>(p)) << "\"></i>"
        << FlowPhaseName(static_cast<FlowPhase>(p)) << "</span>";
  }
  out << "<span><i class=\"sym sym-death\"></i>death</span><span><i class=\"sym sym-tap\"></i>tap"
         "</span><span><i class=\"sym sym-load\"></i>plug-in loaded</span>"
         "<span><i class=\"sym sym-start\"></i>script started</span>"
         "<span><i class=\"sym sym-unload\"></i>unload</span>"
         "<span><i class=\"sym sym-key\"></i>key frame</span></div>\n<p class=\"note\">";
  if (in.framesPerColumn > 1) {
    out << "Each column of the plots covers " << in.framesPerColumn
        << " frames and shows the most in them. ";
  }
  out << "Click the timeline to see the nearest kept frame.";
  if (in.marksLeftOut > 0) {
    out << " " << in.marksLeftOut << " later marks (taps, deaths, starts, unloads) are left "
        << "out of the timeline.";
  }
  out << "</p>\n";
}

}  // namespace

void WriteTimeline(std::ostream& out, const TimelineInput& in) {
  const TimelineScale s = ScaleOf(in);
  out << "<section id=\"timeline\"><h2>Timeline</h2>\n"
      << "<svg id=\"tl\" class=\"timeline\" viewBox=\"0 0 " << Px(kWidth) << " " << Px(kHeight)
      << "\" data-left=\"" << Px(kLeft) << "\" data-width=\"" << Px(kPlotWidth)
      << "\" data-frames=\"" << s.frames << "\" role=\"img\" aria-label=\"Timeline of the run\">\n";
  WritePhaseBands(out, in.columns, s);
  WriteGrid(out);
  out << "<g class=\"axis\">";
  WriteLaneLabels(out, s);
  WriteTimeAxis(out, s, in.fps);
  out << "</g>\n";
  WriteSeries(out, in, s);
  WriteMarks(out, in.marks, s);
  WriteKeyMarks(out, in.frames, s);
  out << "<line id=\"tl-cursor\" x1=\"0\" x2=\"0\" y1=\"" << Px(kFillTop - 4) << "\" y2=\""
      << Px(kBottom) << "\" visibility=\"hidden\"/>\n</svg>\n";
  WriteLegend(out, in);
  out << "</section>\n";
}

}  // namespace sim::report
