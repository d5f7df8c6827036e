// The frame viewer, the key frames of each death, and the data behind them:
// each kept frame's picture in an inert template, and what the viewer shows
// beside it as JSON that the page's script reads.
#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/base/number_format.h"
#include "sim/report/report_markup.h"
#include "sim/report/report_sections.h"
#include "sim/report/svg.h"

namespace sim::report {

namespace {

// The pictures' size, which the inset's view box is in.
const double kPictureWidth = SvgOptions{}.width;
const double kPictureHeight = SvgOptions{}.height;

// A button of the viewer with its icon, drawn so that no font is needed.
std::string Button(const char* id, const char* title, const char* icon) {
  return std::string("<button type=\"button\" id=\"") + id + "\" title=\"" + title +
         "\"><svg viewBox=\"0 0 16 16\" aria-hidden=\"true\"><path d=\"" + icon +
         "\"/></svg></button>";
}

// The picture, the buttons, the slider and the speed under it.
void WriteStage(std::ostream& out, std::size_t frameCount) {
  out << "<div class=\"stage\"><div class=\"picture\" id=\"v-picture\"></div>\n"
         "<div class=\"controls\">"
      << Button("v-first", "First frame (Home)", "M3 3h2v10H3zM13 3v10L6 8z")
      << Button("v-prev-key", "Previous key frame (Page Up)", "M8 3v10L2 8zM15 3v10L9 8z")
      << Button("v-prev", "Previous frame (←)", "M11 3v10L5 8z")
      << Button("v-play", "Play / pause (space)", "M5 3v10l8-5z")
      << Button("v-next", "Next frame (→)", "M5 3v10l6-5z")
      << Button("v-next-key", "Next key frame (Page Down)", "M1 3v10l6-5zM8 3v10l6-5z")
      << Button("v-last", "Last frame (End)", "M3 3v10l7-5zM11 3h2v10h-2z")
      << "<input type=\"range\" id=\"v-slider\" min=\"0\" max=\"" << frameCount - 1
      << "\" value=\"0\" aria-label=\"Frame\">"
         "<span id=\"v-pos\" class=\"pos\"></span>"
         "<select id=\"v-speed\" title=\"Playback speed\"><option value=\"0.25\">¼×</option>"
         "<option value=\"0.5\">½×</option><option value=\"1\" selected>1×</option>"
         "<option value=\"2\">2×</option><option value=\"4\">4×</option></select></div></div>\n";
}

// The facts of the frame shown, the zoom onto the bar's corner and the
// frame's native calls; the page's script fills them in.
void WriteSide(std::ostream& out) {
  out << "<aside class=\"side\"><table class=\"facts\">"
         "<tr><th>frame</th><td id=\"v-frame\"></td></tr>"
         "<tr><th>game time</th><td id=\"v-time\"></td></tr>"
         "<tr><th>phase</th><td id=\"v-phase\"></td></tr>"
         "<tr><th>bar</th><td id=\"v-fill\"></td></tr>"
         "<tr><th>screen</th><td id=\"v-fade\"></td></tr>"
         "<tr><th>death</th><td id=\"v-death\"></td></tr>"
         "<tr><th>key frame</th><td id=\"v-key\"></td></tr>"
         "<tr id=\"v-fault-row\" hidden><th>fault</th><td id=\"v-fault\"></td></tr></table>\n"
         "<h3>The bar's corner, zoomed</h3><div class=\"inset\" id=\"v-inset\"></div>\n"
         "<h3>Native calls <span id=\"v-calls-count\"></span></h3>"
         "<ol class=\"calls\" id=\"v-calls\"></ol></aside>\n";
}

// What the viewer shows beside a frame's picture; `c` indexes `names`,
// which grows by the natives first called here.
nlohmann::json FrameEntry(const RecordedFrame& f,
                          std::map<const NativeSignature*, std::size_t>& nameIndex,
                          nlohmann::json& names) {
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
  if (!f.fault.empty()) entry["x"] = f.fault;
  if (!f.refused.empty()) entry["r"] = f.refused;
  return entry;
}

}  // namespace

// The bottom-right corner around what was drawn there, the same for every
// frame so that the slider does not make it jump, and 4:1 so that the bar's
// label reads large.
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

void WriteViewer(std::ostream& out, const KeptFrames& kept) {
  out << "<section id=\"frames\"><h2>Frames</h2>\n";
  if (kept.frames.empty()) {
    out << "<p>Nothing was drawn in this run and the screen never faded.</p></section>\n";
    return;
  }
  out << "<p class=\"note\">"
      << CountOf(static_cast<long long>(kept.frames.size()), "frame", "frames");
  if (kept.stride > 1) {
    out << " of the " << kept.candidates << " that drew anything or were under a fade: every "
        << Ordinal(kept.stride) << ", and every key frame";
  } else {
    out << ": every frame that drew anything or was under a fade";
  }
  out << ". Keys: ← → step, Page Up / Page Down jump between key frames, Home / End, space plays "
         "and pauses.</p>\n"
         "<div class=\"viewer\" id=\"viewer\" tabindex=\"-1\">\n";
  WriteStage(out, kept.frames.size());
  WriteSide(out);
  out << "</div>\n</section>\n";
}

void WriteKeyFrames(std::ostream& out, const KeptFrames& kept) {
  out << "<section id=\"key-frames\"><h2>Key frames</h2>\n";
  std::uint64_t death = ~std::uint64_t{0};
  bool open = false;
  for (std::size_t i = 0; i < kept.frames.size(); ++i) {
    const RecordedFrame& f = kept.frames[i];
    if (f.key.empty()) continue;
    if (f.death != death) {
      if (open) out << "</div>\n";
      death = f.death;
      if (death == 0) {
        out << "<h3>Before any death</h3>\n<div class=\"keys\">\n";
      } else {
        out << "<h3>Death " << death << "</h3>\n<div class=\"keys\">\n";
      }
      open = true;
    }
    out << "<figure class=\"key" << (f.fault.empty() ? "" : " stopped") << "\" data-i=\"" << i
        << "\" tabindex=\"0\"><div class=\"thumb\"></div>"
        << "<div class=\"thumb-inset\"></div><figcaption><b>Frame " << f.frame << "</b> "
        << XmlEscape(f.key);
    if (!f.fault.empty()) out << ": " << XmlEscape(f.fault);
    if (!f.refused.empty()) out << " <code>" << XmlEscape(f.refused) << "</code>";
    out << "</figcaption></figure>\n";
  }
  if (open) out << "</div>\n";
  if (!open) out << "<p>Nothing of a death was seen in this run.</p>\n";
  if (kept.keyFramesLeftOut > 0) {
    out << "<p class=\"note\">"
        << CountOf(static_cast<long long>(kept.keyFramesLeftOut), "later key frame is",
                   "later key frames are")
        << " left out.</p>\n";
  }
  out << "</section>\n";
}

void WriteFrameData(std::ostream& out, const Scenario& scenario,
                    const std::vector<RecordedFrame>& frames, const FramePicture& picture) {
  std::map<const NativeSignature*, std::size_t> nameIndex;
  nlohmann::json names = nlohmann::json::array();
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const RecordedFrame& f = frames[i];
    const std::string svg =
        picture ? picture(f.drawn ? &f.drawing : nullptr, f.frame, f.fade) : std::string();
    out << "<template id=\"fr-" << i << "\">" << InlineSvg(svg) << "</template>\n";
    list.push_back(FrameEntry(f, nameIndex, names));
  }
  const std::array<double, 4> inset = InsetBox(frames);
  const nlohmann::json data = {{"fps", scenario.fps},
                               {"start", scenario.startGameTime},
                               {"inset", {inset[0], inset[1], inset[2], inset[3]}},
                               {"names", names},
                               {"frames", list}};
  out << "<script type=\"application/json\" id=\"report-data\">" << ScriptJson(data)
      << "</script>\n";
}

}  // namespace sim::report
