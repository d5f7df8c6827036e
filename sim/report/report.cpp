#include "sim/report/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/host/simulation.h"
#include "sim/report/report_recorder.h"
#include "sim/report/svg.h"

namespace sim {

namespace {

// Maps of deaths drawn; the table lists every kept death.
constexpr std::size_t kMappedDeaths = 12;
// The pictures' size, which the inset's view box is in.
const double kPictureWidth = SvgOptions{}.width;
const double kPictureHeight = SvgOptions{}.height;

std::string Fixed(double v, int decimals) {
  if (!std::isfinite(v)) return "—";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// A coordinate in an SVG drawing.
std::string N(double v) { return Fixed(std::isfinite(v) ? v : 0.0, 1); }

// Seconds with a tenth where it is not whole: "1.7", "10".
std::string Seconds(double s) {
  const double tenths = std::round(s * 10.0);
  return std::fmod(tenths, 10.0) == 0.0 ? Fixed(tenths / 10.0, 0) : Fixed(tenths / 10.0, 1);
}

// "2nd", "11th", "128th".
std::string Ordinal(std::uint64_t n) {
  const char* suffix = "th";
  if (n % 100 < 11 || n % 100 > 13) {
    if (n % 10 == 1) suffix = "st";
    if (n % 10 == 2) suffix = "nd";
    if (n % 10 == 3) suffix = "rd";
  }
  return std::to_string(n) + suffix;
}

std::string FrameCell(std::int64_t frame) { return frame < 0 ? "—" : std::to_string(frame); }

std::string Position(const double* p) {
  return "(" + Fixed(p[0], 1) + ", " + Fixed(p[1], 1) + ", " + Fixed(p[2], 1) + ")";
}

const char* PhaseClass(FlowPhase phase) {
  switch (phase) {
    case FlowPhase::Watching:
      return "ph-watching";
    case FlowPhase::DeathPause:
      return "ph-deathpause";
    case FlowPhase::ShardDelay:
      return "ph-sharddelay";
    case FlowPhase::BarFilling:
      return "ph-barfilling";
    case FlowPhase::Respawning:
      return "ph-respawning";
  }
  return "";
}

// A round step of about `span` / `count`: 1, 2 or 5 times a power of ten.
double NiceStep(double span, double count) {
  const double raw = std::max(span / count, 1e-9);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10.0 * power;
}

// JSON that may stand inside a <script> element: no "<" can close it.
std::string ScriptJson(const nlohmann::json& value) {
  const std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '<') {
      out += "\\u003c";
    } else {
      out += c;
    }
  }
  return out;
}

// An SVG document as an element of the page: without its XML declaration.
std::string InlineSvg(std::string svg) {
  if (svg.rfind("<?xml", 0) == 0) {
    const std::size_t end = svg.find("?>");
    if (end != std::string::npos) svg.erase(0, svg.find_first_not_of(" \r\n", end + 2));
  }
  return svg;
}

void WriteHead(std::ostream& out, const Simulation& simulation, bool pluginLoaded) {
  const Scenario& scenario = simulation.GetScenario();
  const RunSummary summary = simulation.Summary();
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      << "<title>Rebound run: " << XmlEscape(scenario.name) << "</title>\n<style>" << kReportStyle
      << "</style></head><body>\n<header>\n<h1>Rebound run: " << XmlEscape(scenario.name)
      << "</h1>\n<p class=\"meta\">Scenario <code>" << XmlEscape(scenario.fileName) << "</code> · "
      << summary.frames << " frames at " << scenario.fps << " fps ("
      << Fixed(static_cast<double>(summary.gameTimeMs) / 1000.0, 2)
      << " s of game time) from game time " << scenario.startGameTime << " · "
      << summary.nativeCalls << " native calls ("
      << (summary.frames > 0 ? Fixed(static_cast<double>(summary.nativeCalls) /
                                         static_cast<double>(summary.frames),
                                     1)
                             : std::string("0"))
      << " per frame, at most " << summary.maxCallsInFrame << " in one)</p>\n<p class=\"meta\">";
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

// The whole run on one time axis.
void WriteTimeline(std::ostream& out, const Simulation& simulation,
                   const ReportRecorder& recorder) {
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

  const std::int64_t frames = std::max<std::int64_t>(recorder.FramesSeen(), 1);
  const double fps = simulation.GetScenario().fps;
  const auto x = [&](double frame) {
    return kLeft + frame / static_cast<double>(frames) * kPlotWidth;
  };
  const auto fillY = [&](double percent) {
    return kFillTop + kFillHeight * (1.0 - std::clamp(percent, 0.0, 100.0) / 100.0);
  };
  const std::vector<SeriesColumn>& columns = recorder.Columns();
  std::uint32_t maxCalls = 0;
  for (const SeriesColumn& c : columns) maxCalls = std::max(maxCalls, c.maxCalls);
  const double callsScale = std::max(NiceStep(std::max<double>(maxCalls, 1.0), 1.0), 1.0);
  const auto callsY = [&](double calls) {
    return kCallsTop + kCallsHeight * (1.0 - std::min(calls / callsScale, 1.0));
  };
  const auto columnEnd = [&](const SeriesColumn& c) {
    return static_cast<double>(c.firstFrame) + static_cast<double>(c.frames);
  };

  out << "<section id=\"timeline\"><h2>Timeline</h2>\n"
      << "<svg id=\"tl\" class=\"timeline\" viewBox=\"0 0 " << N(kWidth) << " " << N(kHeight)
      << "\" data-left=\"" << N(kLeft) << "\" data-width=\"" << N(kPlotWidth) << "\" data-frames=\""
      << frames << "\" role=\"img\" aria-label=\"Timeline of the run\">\n";

  // The phases of the flow as bands behind both plots: each column in the
  // phase it spent most frames in, other than watching when it has any.
  std::size_t i = 0;
  while (i < columns.size()) {
    const auto phaseOf = [](const SeriesColumn& c) {
      std::size_t best = 0;
      for (std::size_t p = 1; p < kFlowPhaseCount; ++p) {
        if (c.phaseFrames[p] > 0 && (best == 0 || c.phaseFrames[p] > c.phaseFrames[best])) best = p;
      }
      return best;
    };
    const std::size_t phase = phaseOf(columns[i]);
    std::size_t j = i + 1;
    while (j < columns.size() && phaseOf(columns[j]) == phase) ++j;
    if (phase != 0) {
      const double x0 = x(static_cast<double>(columns[i].firstFrame));
      const double x1 = x(columnEnd(columns[j - 1]));
      const char* name = FlowPhaseName(static_cast<FlowPhase>(phase));
      out << "<rect class=\"band " << PhaseClass(static_cast<FlowPhase>(phase)) << "\" x=\""
          << N(x0) << "\" y=\"" << N(kFillTop) << "\" width=\"" << N(std::max(x1 - x0, 0.6))
          << "\" height=\"" << N(kBottom - kFillTop) << "\"><title>" << name << ": frames "
          << columns[i].firstFrame << "–"
          << static_cast<std::int64_t>(columnEnd(columns[j - 1])) - 1 << "</title></rect>\n";
    }
    i = j;
  }

  // Axes, grid and their labels.
  out << "<g class=\"grid\">";
  for (double p : {0.0, 50.0, 100.0}) {
    out << "<line x1=\"" << N(kLeft) << "\" x2=\"" << N(kLeft + kPlotWidth) << "\" y1=\""
        << N(fillY(p)) << "\" y2=\"" << N(fillY(p)) << "\"/>";
  }
  out << "<line x1=\"" << N(kLeft) << "\" x2=\"" << N(kLeft + kPlotWidth) << "\" y1=\""
      << N(kBottom) << "\" y2=\"" << N(kBottom) << "\"/><line x1=\"" << N(kLeft) << "\" x2=\""
      << N(kLeft + kPlotWidth) << "\" y1=\"" << N(kCallsTop) << "\" y2=\"" << N(kCallsTop)
      << "\" class=\"faint\"/></g>\n<g class=\"axis\">";
  for (double p : {0.0, 50.0, 100.0}) {
    out << "<text x=\"" << N(kLeft - 6) << "\" y=\"" << N(fillY(p) + 4) << "\" text-anchor=\"end\">"
        << Fixed(p, 0) << " %</text>";
  }
  out << "<text x=\"" << N(kLeft - 6) << "\" y=\"" << N(kCallsTop + 9) << "\" text-anchor=\"end\">"
      << Fixed(callsScale, 0) << "</text><text x=\"" << N(kLeft - 6) << "\" y=\"" << N(kBottom)
      << "\" text-anchor=\"end\">0</text>"
      << "<text x=\"" << N(kLeft - 6) << "\" y=\"" << N(kCallsTop + kCallsHeight / 2 + 4)
      << "\" text-anchor=\"end\" class=\"lane\">calls</text>"
      << "<text x=\"" << N(kLeft - 12) << "\" y=\"" << N(kMarkRow + 4)
      << "\" text-anchor=\"end\" class=\"lane\">events</text>"
      << "<text x=\"" << N(kLeft - 6) << "\" y=\"" << N(kTapRow + 4)
      << "\" text-anchor=\"end\" class=\"lane\">taps</text>";
  const double step = NiceStep(static_cast<double>(frames), 8.0);
  for (double f = 0; f <= static_cast<double>(frames) + 0.5; f += step) {
    out << "<line class=\"tick\" x1=\"" << N(x(f)) << "\" x2=\"" << N(x(f)) << "\" y1=\""
        << N(kBottom) << "\" y2=\"" << N(kBottom + 5) << "\"/><text x=\"" << N(x(f)) << "\" y=\""
        << N(kBottom + 18) << "\" text-anchor=\"middle\">" << Fixed(f, 0) << "</text><text x=\""
        << N(x(f)) << "\" y=\"" << N(kBottom + 30) << "\" text-anchor=\"middle\" class=\"sec\">"
        << Seconds(f / fps) << " s</text>";
  }
  out << "</g>\n";

  // The screen's fade, as a dark area; the bar's fill, as a red line broken
  // where no bar was drawn; the native calls per frame as a step area.
  std::string fade;
  std::string fill;
  std::string calls = "M" + N(kLeft) + "," + N(kBottom);
  std::string average;
  bool inFade = false;
  bool inFill = false;
  double lastX = kLeft;
  for (const SeriesColumn& c : columns) {
    const double x0 = x(static_cast<double>(c.firstFrame));
    const double x1 = x(columnEnd(c));
    if (c.maxFade > 0.0F) {
      const double y = fillY(c.maxFade * 100.0);
      if (!inFade) fade += "M" + N(x0) + "," + N(fillY(0));
      fade += "L" + N(x0) + "," + N(y) + "L" + N(x1) + "," + N(y);
      inFade = true;
    } else if (inFade) {
      fade += "L" + N(x0) + "," + N(fillY(0)) + "Z";
      inFade = false;
    }
    if (c.maxFill >= 0.0F) {
      fill += (inFill ? "L" : "M") + N((x0 + x1) / 2) + "," + N(fillY(c.maxFill));
      inFill = true;
    } else {
      inFill = false;
    }
    calls += "L" + N(x0) + "," + N(callsY(c.maxCalls)) + "L" + N(x1) + "," + N(callsY(c.maxCalls));
    if (c.frames > 0) {
      average += (average.empty() ? "M" : "L") + N((x0 + x1) / 2) + "," +
                 N(callsY(static_cast<double>(c.calls) / c.frames));
    }
    lastX = x1;
  }
  if (inFade) fade += "L" + N(lastX) + "," + N(fillY(0)) + "Z";
  calls += "L" + N(lastX) + "," + N(kBottom) + "Z";
  if (!fade.empty()) out << "<path class=\"fade\" d=\"" << fade << "\"/>\n";
  out << "<path class=\"calls\" d=\"" << calls << "\"/>\n";
  if (recorder.FramesPerColumn() > 1 && !average.empty()) {
    out << "<path class=\"calls-avg\" d=\"" << average << "\"/>\n";
  }
  if (!fill.empty()) out << "<path class=\"fill\" d=\"" << fill << "\"/>\n";

  // Marks: deaths, starts, loads and unloads in the top row, taps below.
  out << "<g class=\"marks\">";
  for (const RunMark& m : recorder.Marks()) {
    const double mx = x(static_cast<double>(m.frame) + 0.5);
    const char* name = MarkKindName(m.kind);
    out << "<g class=\"mark mk-" << static_cast<int>(m.kind) << "\"><title>" << name << ", frame "
        << m.frame << "</title>";
    switch (m.kind) {
      case MarkKind::Tap:
        out << "<line x1=\"" << N(mx) << "\" x2=\"" << N(mx) << "\" y1=\"" << N(kTapRow - 7)
            << "\" y2=\"" << N(kTapRow + 7) << "\"/>";
        break;
      case MarkKind::Death:
        out << "<path d=\"M" << N(mx - 6) << "," << N(kMarkRow - 6) << "L" << N(mx + 6) << ","
            << N(kMarkRow - 6) << "L" << N(mx) << "," << N(kMarkRow + 6) << "Z\"/><line x1=\""
            << N(mx) << "\" x2=\"" << N(mx) << "\" y1=\"" << N(kFillTop) << "\" y2=\"" << N(kBottom)
            << "\" class=\"rule\"/>";
        break;
      case MarkKind::ScriptStart:
      case MarkKind::Load:
        out << "<circle cx=\"" << N(mx) << "\" cy=\"" << N(kMarkRow) << "\" r=\"5\"/>";
        break;
      case MarkKind::Unload:
        out << "<rect x=\"" << N(mx - 5) << "\" y=\"" << N(kMarkRow - 5)
            << "\" width=\"10\" height=\"10\"/>";
        break;
    }
    out << "</g>";
  }
  out << "</g>\n";

  // The key frames, on the time axis: each opens in the viewer.
  out << "<g class=\"keys\">";
  const std::vector<RecordedFrame>& kept = recorder.Frames();
  for (std::size_t k = 0; k < kept.size(); ++k) {
    if (kept[k].key.empty()) continue;
    const double kx = x(static_cast<double>(kept[k].frame) + 0.5);
    out << "<path data-i=\"" << k << "\" d=\"M" << N(kx) << "," << N(kBottom - 1)
        << "l4,6l-4,6l-4,-6Z\"><title>Key frame " << kept[k].frame << ": " << XmlEscape(kept[k].key)
        << "</title></path>";
  }
  out << "</g>\n<line id=\"tl-cursor\" x1=\"0\" x2=\"0\" y1=\"" << N(kFillTop - 4) << "\" y2=\""
      << N(kBottom) << "\" visibility=\"hidden\"/>\n</svg>\n";

  out << "<div class=\"legend\"><span><i class=\"sw sw-fill\"></i>bar's fill</span>"
         "<span><i class=\"sw sw-fade\"></i>screen faded (black %)</span>"
         "<span><i class=\"sw sw-calls\"></i>native calls per frame"
      << (recorder.FramesPerColumn() > 1 ? " (most in a column; line: average)" : "") << "</span>";
  for (std::size_t p = 1; p < kFlowPhaseCount; ++p) {
    out << "<span><i class=\"sw " << PhaseClass(static_cast<FlowPhase>(p)) << "\"></i>"
        << FlowPhaseName(static_cast<FlowPhase>(p)) << "</span>";
  }
  out << "<span><i class=\"sym sym-death\"></i>death</span><span><i class=\"sym sym-tap\"></i>tap"
         "</span><span><i class=\"sym sym-load\"></i>plug-in loaded</span>"
         "<span><i class=\"sym sym-start\"></i>script started</span>"
         "<span><i class=\"sym sym-unload\"></i>unload</span>"
         "<span><i class=\"sym sym-key\"></i>key frame</span></div>\n<p class=\"note\">";
  if (recorder.FramesPerColumn() > 1) {
    out << "Each column of the plots covers " << recorder.FramesPerColumn()
        << " frames and shows the most in them. ";
  }
  out << "Click the timeline to see the nearest kept frame.";
  if (recorder.MarksLeftOut() > 0) {
    out << " " << recorder.MarksLeftOut()
        << " later marks (taps, deaths, starts, unloads) are left "
        << "out of the timeline.";
  }
  out << "</p>\n</section>\n";
}

// The inset's view onto the pictures: the bottom-right corner around what
// was drawn there, the same for every frame so that the slider does not
// make it jump, and 4:1 so that the bar's label reads large.
std::array<double, 4> InsetBox(const std::vector<RecordedFrame>& frames) {
  constexpr double kAspect = 4.0;
  constexpr double kPad = 12.0;
  double left = kPictureWidth;
  double top = kPictureHeight;
  double right = 0.0;
  double bottom = 0.0;
  for (const RecordedFrame& f : frames) {
    for (const DrawItem& item : f.drawing.items) {
      if (item.kind == DrawKind::Movie) continue;
      const double cx = AlignedScreenX(item.alignment, item.x);
      const double cy = AlignedScreenY(item.alignment, item.y);
      if (cx < 0.5 || cy < 0.5) continue;
      const bool text = item.kind == DrawKind::Text;
      const double w = text ? 0.0 : std::fabs(item.width * AlignedScaleX(item.alignment));
      const double h = text ? 0.0 : std::fabs(item.height * AlignedScaleY(item.alignment));
      left = std::min(left, (cx - w / 2) * kPictureWidth);
      right = std::max(right, (cx + w / 2) * kPictureWidth);
      top = std::min(top, (cy - h / 2) * kPictureHeight);
      bottom = std::max(bottom, (cy + h / 2) * kPictureHeight);
    }
  }
  if (right <= left) {
    return {kPictureWidth * 0.6, kPictureHeight * 0.8, kPictureWidth * 0.4, kPictureHeight * 0.2};
  }
  double w = std::max(right - left + 2 * kPad, 160.0);
  double h = std::max(bottom - top + 2 * kPad, w / kAspect);
  w = std::min(std::max(w, h * kAspect), kPictureWidth);
  h = std::min(w / kAspect, kPictureHeight);
  const double x = std::clamp((left + right - w) / 2, 0.0, kPictureWidth - w);
  const double y = std::clamp((top + bottom - h) / 2, 0.0, kPictureHeight - h);
  return {x, y, w, h};
}

// A button of the viewer with its icon, drawn so that no font is needed.
std::string Button(const char* id, const char* title, const char* icon) {
  return std::string("<button type=\"button\" id=\"") + id + "\" title=\"" + title +
         "\"><svg viewBox=\"0 0 16 16\" aria-hidden=\"true\"><path d=\"" + icon +
         "\"/></svg></button>";
}

void WriteViewer(std::ostream& out, const ReportRecorder& recorder) {
  const std::vector<RecordedFrame>& frames = recorder.Frames();
  out << "<section id=\"frames\"><h2>Frames</h2>\n";
  if (frames.empty()) {
    out << "<p>Nothing was drawn in this run and the screen never faded.</p></section>\n";
    return;
  }
  out << "<p class=\"note\">" << frames.size() << " frames";
  if (recorder.Stride() > 1) {
    out << " of the " << recorder.Candidates() << " that drew anything or were under a fade: every "
        << Ordinal(recorder.Stride()) << ", and every key frame";
  } else {
    out << ": every frame that drew anything or was under a fade";
  }
  out << ". Keys: ← → step, Page Up / Page Down jump between key frames, Home / End, space plays "
         "and pauses.</p>\n"
         "<div class=\"viewer\" id=\"viewer\" tabindex=\"-1\">\n"
         "<div class=\"stage\"><div class=\"picture\" id=\"v-picture\"></div>\n"
         "<div class=\"controls\">"
      << Button("v-first", "First frame (Home)", "M3 3h2v10H3zM13 3v10L6 8z")
      << Button("v-prev-key", "Previous key frame (Page Up)", "M8 3v10L2 8zM15 3v10L9 8z")
      << Button("v-prev", "Previous frame (←)", "M11 3v10L5 8z")
      << Button("v-play", "Play / pause (space)", "M5 3v10l8-5z")
      << Button("v-next", "Next frame (→)", "M5 3v10l6-5z")
      << Button("v-next-key", "Next key frame (Page Down)", "M1 3v10l6-5zM8 3v10l6-5z")
      << Button("v-last", "Last frame (End)", "M3 3v10l7-5zM11 3h2v10h-2z")
      << "<input type=\"range\" id=\"v-slider\" min=\"0\" max=\"" << frames.size() - 1
      << "\" value=\"0\" aria-label=\"Frame\">"
         "<span id=\"v-pos\" class=\"pos\"></span>"
         "<select id=\"v-speed\" title=\"Playback speed\"><option value=\"0.25\">¼×</option>"
         "<option value=\"0.5\">½×</option><option value=\"1\" selected>1×</option>"
         "<option value=\"2\">2×</option><option value=\"4\">4×</option></select></div></div>\n"
         "<aside class=\"side\"><table class=\"facts\">"
         "<tr><th>frame</th><td id=\"v-frame\"></td></tr>"
         "<tr><th>game time</th><td id=\"v-time\"></td></tr>"
         "<tr><th>phase</th><td id=\"v-phase\"></td></tr>"
         "<tr><th>bar</th><td id=\"v-fill\"></td></tr>"
         "<tr><th>screen</th><td id=\"v-fade\"></td></tr>"
         "<tr><th>death</th><td id=\"v-death\"></td></tr>"
         "<tr><th>key frame</th><td id=\"v-key\"></td></tr></table>\n"
         "<h3>The bar's corner, zoomed</h3><div class=\"inset\" id=\"v-inset\"></div>\n"
         "<h3>Native calls <span id=\"v-calls-count\"></span></h3>"
         "<ol class=\"calls\" id=\"v-calls\"></ol></aside>\n</div>\n</section>\n";
}

void WriteKeyFrames(std::ostream& out, const ReportRecorder& recorder) {
  out << "<section id=\"key-frames\"><h2>Key frames</h2>\n";
  const std::vector<RecordedFrame>& frames = recorder.Frames();
  std::uint64_t death = ~std::uint64_t{0};
  bool open = false;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const RecordedFrame& f = frames[i];
    if (f.key.empty()) continue;
    if (f.death != death) {
      if (open) out << "</div>\n";
      death = f.death;
      out << "<h3>Death " << death << "</h3>\n<div class=\"keys\">\n";
      open = true;
    }
    out << "<figure class=\"key\" data-i=\"" << i << "\" tabindex=\"0\"><div class=\"thumb\"></div>"
        << "<div class=\"thumb-inset\"></div><figcaption><b>Frame " << f.frame << "</b> "
        << XmlEscape(f.key) << "</figcaption></figure>\n";
  }
  if (open) out << "</div>\n";
  if (!open) out << "<p>Nothing of a death was seen in this run.</p>\n";
  if (recorder.KeyFramesLeftOut() > 0) {
    out << "<p class=\"note\">" << recorder.KeyFramesLeftOut()
        << " later key frames are left out.</p>\n";
  }
  out << "</section>\n";
}

void WriteDeathTable(std::ostream& out, const FlowObserver& flow, double msPerFrame) {
  out << "<section id=\"deaths\"><h2>Deaths and respawns</h2>\n";
  if (flow.DeathCount() == 0) {
    out << "<p>No death was taken over in this run.</p></section>\n";
    return;
  }
  out << "<table><tr><th>#</th><th>death frame</th><th>shard shown</th><th>fade-out</th>"
         "<th>placed</th><th>respawned</th><th>death to respawn</th><th>taps</th>"
         "<th>place of death</th><th>spawn point</th><th>heading</th><th>distance</th>"
         "<th>from</th></tr>\n";
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
        << FrameCell(d.fadeOutFrame) << "</td><td class=\"num\">" << FrameCell(d.placeFrame)
        << "</td><td class=\"num\">" << FrameCell(d.respawnFrame) << "</td><td>" << span
        << "</td><td class=\"num\">" << d.taps << "</td><td>" << Position(d.deathPosition)
        << "</td><td>";
    if (d.respawnFrame >= 0) {
      out << Position(d.spawnPosition) << "</td><td class=\"num\">" << Fixed(d.spawnHeading, 1)
          << "</td><td class=\"num\">" << (d.distance >= 0 ? Fixed(d.distance, 1) + " m" : "—")
          << "</td><td>" << XmlEscape(d.searchOutcome);
    } else {
      out << "—</td><td>—</td><td>—</td><td>—";
    }
    out << "</td></tr>\n";
  }
  out << "</table>\n";
  if (flow.DeathCount() > flow.Deaths().size()) {
    out << "<p class=\"note\">" << flow.DeathCount() - flow.Deaths().size()
        << " later deaths are left out of this table.</p>\n";
  }
  out << "</section>\n";
}

// A top-down map of one respawn around the place of death: north (+y) up.
void WriteDeathMap(std::ostream& out, const DeathRecord& d, int number,
                   const std::vector<RoadNode>& roadNodes) {
  constexpr double kSize = 400.0;
  constexpr double kHalf = kSize / 2.0;
  constexpr double kMargin = 22.0;
  const double dx = d.deathPosition[0];
  const double dy = d.deathPosition[1];
  const auto distance = [&](double x, double y) { return std::hypot(x - dx, y - dy); };
  // The view reaches past the 300 m circle and the points of the respawn,
  // but no farther than keeps both circles readable: what lies beyond is
  // drawn at the edge with its distance.
  double reach = 330.0;
  const auto include = [&](const double* p) {
    reach = std::max(reach, distance(p[0], p[1]) * 1.1);
  };
  if (d.searched) include(d.searchCentre);
  for (const auto& r : d.searchResults) include(r.data());
  if (d.chosen) include(d.chosenPoint);
  if (d.placeFrame >= 0) include(d.spawnPosition);
  reach = std::min(reach, 800.0);
  const double scale = (kHalf - kMargin) / reach;
  struct Pt {
    double x, y;
    bool off;
  };
  const auto at = [&](double x, double y) {
    double ox = (x - dx) * scale;
    double oy = -(y - dy) * scale;
    const double r = std::hypot(ox, oy);
    const double limit = kHalf - kMargin / 2;
    const bool off = r > limit;
    if (off) {
      ox *= limit / r;
      oy *= limit / r;
    }
    return Pt{kHalf + ox, kHalf + oy, off};
  };

  out << "<figure class=\"map\"><svg viewBox=\"0 0 " << N(kSize) << " " << N(kSize)
      << "\" role=\"img\" aria-label=\"Map of death " << number << "\">\n"
      << "<rect class=\"ground\" width=\"" << N(kSize) << "\" height=\"" << N(kSize) << "\"/>\n";
  // A grid of round distances, and a scale bar of one step.
  const double step = NiceStep(reach, 3.0);
  out << "<g class=\"mgrid\">";
  for (double k = -std::floor(reach / step); k <= std::floor(reach / step); ++k) {
    const double o = kHalf + k * step * scale;
    out << "<line x1=\"" << N(o) << "\" x2=\"" << N(o) << "\" y1=\"0\" y2=\"" << N(kSize)
        << "\"/><line y1=\"" << N(o) << "\" y2=\"" << N(o) << "\" x1=\"0\" x2=\"" << N(kSize)
        << "\"/>";
  }
  out << "</g>\n<g class=\"scale\"><line x1=\"12\" x2=\"" << N(12 + step * scale) << "\" y1=\""
      << N(kSize - 14) << "\" y2=\"" << N(kSize - 14) << "\"/><text x=\"12\" y=\"" << N(kSize - 20)
      << "\">" << Fixed(step, 0) << " m</text></g>\n"
      << "<text class=\"north\" x=\"" << N(kSize - 14)
      << "\" y=\"18\" text-anchor=\"middle\">N ↑</text>\n";
  out << "<circle class=\"r300\" cx=\"" << N(kHalf) << "\" cy=\"" << N(kHalf) << "\" r=\""
      << N(300.0 * scale)
      << "\"><title>300 m: a spawn point farther away is not used</title></circle>\n"
      << "<circle class=\"r100\" cx=\"" << N(kHalf) << "\" cy=\"" << N(kHalf) << "\" r=\""
      << N(100.0 * scale)
      << "\"><title>100 m: the search is centred this far away</title></circle>\n";

  std::size_t nodesOff = 0;
  out << "<g class=\"nodes\">";
  for (const RoadNode& node : roadNodes) {
    const Pt p = at(node.position.x, node.position.y);
    if (p.off) {
      ++nodesOff;
      continue;
    }
    out << "<rect x=\"" << N(p.x - 3) << "\" y=\"" << N(p.y - 3)
        << "\" width=\"6\" height=\"6\"><title>road node (" << Fixed(node.position.x, 1) << ", "
        << Fixed(node.position.y, 1) << ", " << Fixed(node.position.z, 1) << ")</title></rect>";
  }
  out << "</g>\n";
  const auto label = [&](const Pt& p, const std::string& text, const char* cls) {
    if (!p.off) return;
    const bool right = p.x < kHalf;
    out << "<text class=\"off " << cls << "\" x=\"" << N(p.x + (right ? 8 : -8)) << "\" y=\""
        << N(std::clamp(p.y + 4, 12.0, kSize - 6)) << "\" text-anchor=\""
        << (right ? "start" : "end") << "\">" << XmlEscape(text) << " away</text>";
  };
  if (d.searched) {
    const Pt c = at(d.searchCentre[0], d.searchCentre[1]);
    out << "<line class=\"toc\" x1=\"" << N(kHalf) << "\" y1=\"" << N(kHalf) << "\" x2=\"" << N(c.x)
        << "\" y2=\"" << N(c.y) << "\"/><g class=\"centre\"><title>search centre "
        << Position(d.searchCentre) << "</title><path d=\"M" << N(c.x - 7) << "," << N(c.y)
        << "h14M" << N(c.x) << "," << N(c.y - 7) << "v14\"/></g>\n";
  }
  out << "<g class=\"results\">";
  for (const auto& r : d.searchResults) {
    const Pt p = at(r[0], r[1]);
    out << "<circle cx=\"" << N(p.x) << "\" cy=\"" << N(p.y) << "\" r=\"5\"><title>search result "
        << Position(r.data()) << "</title></circle>";
  }
  out << "</g>\n";
  if (d.chosen) {
    const Pt p = at(d.chosenPoint[0], d.chosenPoint[1]);
    out << "<circle class=\"chosen\" cx=\"" << N(p.x) << "\" cy=\"" << N(p.y)
        << "\" r=\"9\"><title>point chosen " << Position(d.chosenPoint) << "</title></circle>";
    label(p, "chosen " + Fixed(distance(d.chosenPoint[0], d.chosenPoint[1]), 0) + " m", "chosen-t");
  }
  if (d.placeFrame >= 0) {
    const Pt p = at(d.spawnPosition[0], d.spawnPosition[1]);
    out << "<line class=\"toplaced\" x1=\"" << N(kHalf) << "\" y1=\"" << N(kHalf) << "\" x2=\""
        << N(p.x) << "\" y2=\"" << N(p.y) << "\"/><circle class=\"placed\" cx=\"" << N(p.x)
        << "\" cy=\"" << N(p.y) << "\" r=\"5\"><title>placed at " << Position(d.spawnPosition)
        << "</title></circle>";
    label(p, "placed " + Fixed(distance(d.spawnPosition[0], d.spawnPosition[1]), 0) + " m",
          "placed-t");
  }
  out << "<g class=\"death\"><title>place of death " << Position(d.deathPosition)
      << "</title><path d=\"M" << N(kHalf - 6) << "," << N(kHalf - 6) << "l12,12M" << N(kHalf + 6)
      << "," << N(kHalf - 6) << "l-12,12\"/></g>\n</svg>\n<figcaption><b>Death " << number
      << "</b>, frame " << d.deathFrame << ": ";
  if (d.placeFrame >= 0) {
    out << "placed " << Fixed(distance(d.spawnPosition[0], d.spawnPosition[1]), 1) << " m away ("
        << XmlEscape(d.searchOutcome.empty() ? "?" : d.searchOutcome) << ")";
  } else {
    out << "not placed by the end of the run";
  }
  if (d.searchResultCount > d.searchResults.size()) {
    out << "; " << d.searchResultCount - d.searchResults.size() << " more search results not shown";
  }
  if (nodesOff > 0) out << "; " << nodesOff << " road nodes lie off the map";
  out << ".</figcaption></figure>\n";
}

void WriteMaps(std::ostream& out, const Simulation& simulation) {
  const FlowObserver& flow = simulation.Flow();
  out << "<section id=\"maps\"><h2>Maps of the respawns</h2>\n";
  if (flow.Deaths().empty()) {
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
  int n = 0;
  for (const DeathRecord& d : flow.Deaths()) {
    if (static_cast<std::size_t>(n) == kMappedDeaths) break;
    WriteDeathMap(out, d, ++n, simulation.GetWorld().spawn.roadNodes);
  }
  out << "</div>\n";
  if (flow.DeathCount() > kMappedDeaths) {
    out << "<p class=\"note\">" << flow.DeathCount() - kMappedDeaths
        << " later deaths are not mapped.</p>\n";
  }
  out << "</section>\n";
}

void WritePhaseTable(std::ostream& out, const FlowObserver& flow) {
  out << "<section id=\"phases\"><h2>Native calls and heap allocations per frame, by phase of the "
         "flow</h2>\n<table>"
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
    out << "<tr><td><i class=\"sw " << PhaseClass(static_cast<FlowPhase>(i)) << "\"></i>"
        << FlowPhaseName(static_cast<FlowPhase>(i)) << "</td><td class=\"num\">" << cost.frames
        << "</td><td class=\"num\">" << cost.calls << "</td><td class=\"num\">"
        << perFrame(cost.calls) << "</td><td class=\"num\">" << cost.maxCalls
        << "</td><td class=\"num\">" << perFrame(cost.pluginAllocations)
        << "</td><td class=\"num\">" << cost.maxPluginAllocations << "</td><td class=\"num\">"
        << perFrame(cost.simulatorAllocations) << "</td><td class=\"num\">"
        << cost.maxSimulatorAllocations << "</td></tr>\n";
  }
  out << "</table>\n</section>\n";
}

void WriteEvents(std::ostream& out, const Timeline& timeline) {
  out << "<section id=\"events\"><h2>Events</h2>\n<details><summary>" << timeline.Entries().size()
      << " notable events of the run</summary>\n<table class=\"events\"><tr><th>frame</th><th>game "
         "time</th><th>what</th><th></th></tr>\n";
  for (const TimelineEntry& e : timeline.Entries()) {
    out << "<tr><td class=\"num\">" << (e.frame < 0 ? std::string("load") : std::to_string(e.frame))
        << "</td><td class=\"num\">" << e.time << "</td><td class=\"cat cat-"
        << XmlEscape(e.category) << "\">" << XmlEscape(e.category) << "</td><td>"
        << XmlEscape(e.text) << "</td></tr>\n";
  }
  out << "</table></details>\n";
  if (timeline.LeftOut() > 0) {
    out << "<p class=\"note\">" << timeline.LeftOut()
        << " later events are left out of this list.</p>\n";
  }
  out << "</section>\n";
}

// The kept frames' pictures, inert until the viewer shows one, and what the
// viewer shows beside them.
void WriteFrameData(std::ostream& out, const Simulation& simulation, const ReportRecorder& recorder,
                    const FramePicture& picture) {
  const std::vector<RecordedFrame>& frames = recorder.Frames();
  std::map<const NativeSignature*, std::size_t> nameIndex;
  nlohmann::json names = nlohmann::json::array();
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const RecordedFrame& f = frames[i];
    const std::string svg =
        picture ? picture(f.drawn ? &f.drawing : nullptr, f.frame, f.fade) : std::string();
    out << "<template id=\"fr-" << i << "\">" << InlineSvg(svg) << "</template>\n";
    nlohmann::json calls = nlohmann::json::array();
    for (const NativeSignature* s : f.calls) {
      auto [it, added] = nameIndex.try_emplace(s, names.size());
      if (added) names.push_back(ReadableNativeName(*s));
      calls.push_back(it->second);
    }
    nlohmann::json entry = {
        {"f", f.frame},
        {"t", f.gameTime},
        {"p", FlowPhaseName(f.phase)},
        {"pc", PhaseClass(f.phase)},
        {"fill", f.fill < 0 ? nlohmann::json() : nlohmann::json(std::round(f.fill * 10) / 10)},
        {"fade", std::round(f.fade * 1000) / 1000},
        {"fs", FadeStateName(f.fadeState)},
        {"d", f.death},
        {"n", f.callCount},
        {"c", calls}};
    if (!f.key.empty()) entry["k"] = f.key;
    list.push_back(std::move(entry));
  }
  const std::array<double, 4> inset = InsetBox(frames);
  const nlohmann::json data = {{"fps", simulation.GetScenario().fps},
                               {"start", simulation.GetScenario().startGameTime},
                               {"inset", {inset[0], inset[1], inset[2], inset[3]}},
                               {"names", names},
                               {"frames", list}};
  out << "<script type=\"application/json\" id=\"report-data\">" << ScriptJson(data)
      << "</script>\n";
}

}  // namespace

void WriteHtmlReport(std::ostream& out, const Simulation& simulation,
                     const ReportRecorder& recorder, const FramePicture& picture) {
  const FlowObserver& flow = simulation.Flow();
  WriteHead(out, simulation, recorder.PluginLoaded());
  WriteTimeline(out, simulation, recorder);
  WriteViewer(out, recorder);
  WriteKeyFrames(out, recorder);
  WriteDeathTable(out, flow, 1000.0 / simulation.GetScenario().fps);
  WriteMaps(out, simulation);
  WritePhaseTable(out, flow);
  WriteEvents(out, simulation.GetWorld().timeline);
  out << "</main>\n";
  WriteFrameData(out, simulation, recorder, picture);
  out << "<script>" << kReportScript << "</script>\n</body></html>\n";
}

}  // namespace sim
