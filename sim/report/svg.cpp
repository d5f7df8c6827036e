#include "sim/report/svg.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string_view>

#include "sim/base/number_format.h"
#include "sim/game/world.h"

namespace sim {

namespace {

// The game's text size 1.0 is about this fraction of the screen height from
// one line to the next; glyphs fill about three quarters of a line.
constexpr double kLineHeightPerSize = 0.07;
constexpr double kGlyphPerLine = 0.75;
// Average advance of one character of the game's fonts, in glyph heights.
constexpr double kAdvancePerGlyph = 0.5;
constexpr double kSpriteNamePx = 6.0;

// A number in a picture's markup (a coordinate, a size, an angle, an
// opacity), to a hundredth.
std::string Px(double v) { return SvgNumber(v, 2); }

std::string Rgb(const Colour& c) {
  const auto clamp = [](std::int32_t v) { return std::clamp(v, 0, 255); };
  return "rgb(" + std::to_string(clamp(c.red)) + "," + std::to_string(clamp(c.green)) + "," +
         std::to_string(clamp(c.blue)) + ")";
}

std::string Opacity(const Colour& c) { return Px(std::clamp(c.alpha, 0, 255) / 255.0); }

struct Box {
  double cx, cy, w, h;  // pixels
};

Box ScreenBox(const DrawItem& item, const SvgOptions& o) {
  const GfxAlignment& a = item.alignment;
  const double sx = AlignedScaleX(a);
  const double sy = AlignedScaleY(a);
  return Box{AlignedScreenX(a, item.x) * o.width, AlignedScreenY(a, item.y) * o.height,
             item.width * sx * o.width, item.height * sy * o.height};
}

void WriteRect(std::ostream& out, const DrawItem& item, const SvgOptions& o) {
  const Box b = ScreenBox(item, o);
  out << "  <rect x=\"" << Px(b.cx - b.w / 2) << "\" y=\"" << Px(b.cy - b.h / 2) << "\" width=\""
      << Px(std::fabs(b.w)) << "\" height=\"" << Px(std::fabs(b.h)) << "\" fill=\""
      << Rgb(item.colour) << "\" fill-opacity=\"" << Opacity(item.colour) << "\"/>\n";
}

// The game multiplies a sprite's texture by its tint. Textures are pictured
// as plain white, so the box shows the tint as it is, except those whose name
// says they are black (such as "all_black_bg"): no tint lightens black.
Colour SpriteColour(const DrawItem& item) {
  if (item.texture.find("black") == std::string::npos) return item.colour;
  return Colour{0, 0, 0, item.colour.alpha};
}

void WriteSprite(std::ostream& out, const DrawItem& item, const SvgOptions& o) {
  const Box b = ScreenBox(item, o);
  const Colour colour = SpriteColour(item);
  out << "  <g";
  if (item.heading != 0.0F) {
    out << " transform=\"rotate(" << Px(item.heading) << " " << Px(b.cx) << " " << Px(b.cy)
        << ")\"";
  }
  out << ">\n    <title>" << XmlEscape(item.dictionary + "/" + item.texture) << "</title>\n";
  // A thin dark outline keeps overlapping sprites (such as entry markers) apart.
  out << "    <rect x=\"" << Px(b.cx - b.w / 2) << "\" y=\"" << Px(b.cy - b.h / 2) << "\" width=\""
      << Px(std::fabs(b.w)) << "\" height=\"" << Px(std::fabs(b.h)) << "\" rx=\"1.5\" fill=\""
      << Rgb(colour) << "\" fill-opacity=\"" << Opacity(colour)
      << "\" stroke=\"black\" stroke-opacity=\"0.35\" stroke-width=\"0.6\"/>\n";
  // The texture's name in the top-left corner where it fits; a small box
  // keeps it in its tooltip.
  const double nameWidth = static_cast<double>(item.texture.size()) * kSpriteNamePx * 0.6;
  if (o.debug && nameWidth + 4 <= std::fabs(b.w) && kSpriteNamePx + 2 <= std::fabs(b.h)) {
    out << "    <text x=\"" << Px(b.cx - std::fabs(b.w) / 2 + 2) << "\" y=\""
        << Px(b.cy - std::fabs(b.h) / 2 + kSpriteNamePx) << "\" font-family=\"monospace\" "
        << "font-size=\"" << Px(kSpriteNamePx) << "\" fill=\"#c8d8ff\" fill-opacity=\"0.55\">"
        << XmlEscape(item.texture) << "</text>\n";
  }
  out << "  </g>\n";
}

// A plug-in's texture (the host's drawTexture): the simulator loads no
// image, so it is a box in the texture's tint, outlined and labelled with the
// file's name (without its folders) in every picture, and the whole path and
// the instance in its tooltip.
void WriteTexture(std::ostream& out, const DrawItem& item, const SvgOptions& o) {
  const Box b = ScreenBox(item, o);
  out << "  <g class=\"texture\"";
  if (item.heading != 0.0F && std::isfinite(item.heading)) {
    out << " transform=\"rotate(" << Px(item.heading) << " " << Px(b.cx) << " " << Px(b.cy)
        << ")\"";
  }
  out << ">\n    <title>" << XmlEscape(item.texture + " (" + item.entry + ")") << "</title>\n";
  out << "    <rect x=\"" << Px(b.cx - b.w / 2) << "\" y=\"" << Px(b.cy - b.h / 2) << "\" width=\""
      << Px(std::fabs(b.w)) << "\" height=\"" << Px(std::fabs(b.h)) << "\" fill=\""
      << Rgb(item.colour) << "\" fill-opacity=\"" << Opacity(item.colour)
      << "\" stroke=\"#ffd24a\" stroke-width=\"1\" stroke-dasharray=\"4 2\"/>\n";
  constexpr double kTextureNamePx = 14.0;
  const std::size_t slash = item.texture.find_last_of("/\\");
  const std::string name =
      slash == std::string::npos ? item.texture : item.texture.substr(slash + 1);
  out << "    <text x=\"" << Px(b.cx) << "\" y=\"" << Px(b.cy + kTextureNamePx / 3) << "\" "
      << "font-family=\"monospace\" font-size=\"" << Px(kTextureNamePx) << "\" "
      << "text-anchor=\"middle\" fill=\"#ffd24a\">" << XmlEscape(name) << "</text>\n";
  out << "  </g>\n";
}

// Splits the text into lines no wider than `width` pixels, at spaces.
std::vector<std::string> WrapLines(const std::string& text, double glyphPx, double width) {
  const double advance = glyphPx * kAdvancePerGlyph;
  const auto fits = [&](const std::string& line) {
    return static_cast<double>(line.size()) * advance <= width;
  };
  std::vector<std::string> lines;
  std::istringstream words(text);
  std::string word;
  std::string line;
  while (words >> word) {
    const std::string longer = line.empty() ? word : line + " " + word;
    if (!line.empty() && !fits(longer)) {
      lines.push_back(line);
      line = word;
    } else {
      line = longer;
    }
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

void WriteText(std::ostream& out, const DrawItem& item, const SvgOptions& o) {
  const GfxAlignment& a = item.alignment;
  const TextStyle& s = item.style;
  const double sy = AlignedScaleY(a);
  const double linePx =
      std::max(0.0, static_cast<double>(s.size)) * kLineHeightPerSize * sy * o.height;
  const double glyphPx = linePx * kGlyphPerLine;
  const double x = AlignedScreenX(a, item.x) * o.width;
  const double top = AlignedScreenY(a, item.y) * o.height;
  const double wrapStart = AlignedScreenX(a, s.wrapStart) * o.width;
  const double wrapEnd = AlignedScreenX(a, s.wrapEnd) * o.width;

  // Where the line is anchored and how wide it may run before it wraps.
  double anchorX = x;
  const char* anchor = "start";
  double room = wrapEnd - x;
  if (s.justification == 0) {
    anchor = "middle";
    room = 2.0 * std::min(x - wrapStart, wrapEnd - x);
  } else if (s.justification == 2) {
    anchor = "end";
    anchorX = wrapEnd;
    room = wrapEnd - wrapStart;
  }
  const std::vector<std::string> lines = WrapLines(item.text, glyphPx, std::max(room, 1.0));

  out << "  <g font-family=\"sans-serif\" font-size=\"" << Px(glyphPx) << "\" text-anchor=\""
      << anchor << "\">\n    <title>" << XmlEscape(item.entry) << " font " << s.font << " size "
      << Px(s.size) << " wrap " << Px(s.wrapStart) << ".." << Px(s.wrapEnd) << "</title>\n";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const double baseline = top + linePx * (static_cast<double>(i) + 0.8);
    if (s.dropShadow) {
      out << "    <text x=\"" << Px(anchorX + 1.5) << "\" y=\"" << Px(baseline + 1.5)
          << "\" fill=\"black\" fill-opacity=\"0.8\">" << XmlEscape(lines[i]) << "</text>\n";
    }
    out << "    <text x=\"" << Px(anchorX) << "\" y=\"" << Px(baseline) << "\" fill=\""
        << Rgb(s.colour) << "\" fill-opacity=\"" << Opacity(s.colour) << "\">"
        << XmlEscape(lines[i]) << "</text>\n";
  }
  out << "  </g>\n";
}

// The game's red, in which the wasted shard shows its title.
constexpr Colour kWastedRed{224, 50, 50, 255};

// Where the shard stands, in fractions of the screen: a band across the
// screen a little above the middle, the title filling most of its height and
// the message under the title.
constexpr double kShardBandCentreY = 0.45;
constexpr double kShardBandHeight = 0.21;
constexpr double kShardTitlePx = 0.125;  // of the screen height
constexpr double kShardMessagePx = 0.034;

// A colour tinted by the movie's colour, as the game multiplies them.
Colour Tinted(const Colour& c, const Colour& tint) {
  const auto mul = [](std::int32_t a, std::int32_t b) {
    return std::clamp(a, 0, 255) * std::clamp(b, 0, 255) / 255;
  };
  return Colour{mul(c.red, tint.red), mul(c.green, tint.green), mul(c.blue, tint.blue),
                mul(c.alpha, tint.alpha)};
}

// A full-screen movie. A shard is shown as the game shows it: its title large
// over a dark band across the screen, its message smaller below. A movie with
// no shard shows nothing; the debug picture outlines and names it.
void WriteMovie(std::ostream& out, const DrawItem& item, const SvgOptions& o) {
  if (o.debug) {
    out << "  <rect x=\"1\" y=\"1\" width=\"" << Px(o.width - 2) << "\" height=\""
        << Px(o.height - 2) << "\" fill=\"none\" stroke=\"" << Rgb(item.colour)
        << "\" stroke-opacity=\"" << Opacity(item.colour) << "\" stroke-dasharray=\"8 6\"/>\n"
        << "  <text x=\"" << Px(o.width - 8) << "\" y=\"40\" font-family=\"monospace\" "
        << "font-size=\"18\" text-anchor=\"end\" fill=\"white\" fill-opacity=\"0.8\">movie "
        << XmlEscape(item.texture) << "</text>\n";
  }
  std::vector<std::string> lines = item.components;
  if (lines.empty() && !item.text.empty()) lines.push_back(item.text);
  const std::string title = lines.empty() ? std::string() : lines[0];
  const std::string message = lines.size() > 1 ? lines[1] : std::string();
  if (title.empty() && message.empty()) return;

  const double centre = o.height * kShardBandCentreY;
  const double band = o.height * kShardBandHeight;
  const Colour titleColour = Tinted(
      item.entry.find("WASTED") != std::string::npos ? kWastedRed : Colour{255, 255, 255, 255},
      item.colour);
  const Colour messageColour = Tinted(Colour{255, 255, 255, 255}, item.colour);
  // The band fades out at its top and bottom edges.
  out << "  <g class=\"shard\" opacity=\"" << Opacity(item.colour) << "\">\n"
      << "    <defs><linearGradient id=\"shard-band\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
      << "<stop offset=\"0\" stop-color=\"black\" stop-opacity=\"0\"/>"
      << "<stop offset=\"0.2\" stop-color=\"black\" stop-opacity=\"0.7\"/>"
      << "<stop offset=\"0.8\" stop-color=\"black\" stop-opacity=\"0.7\"/>"
      << "<stop offset=\"1\" stop-color=\"black\" stop-opacity=\"0\"/>"
      << "</linearGradient></defs>\n"
      << "    <rect x=\"0\" y=\"" << Px(centre - band / 2) << "\" width=\"" << Px(o.width)
      << "\" height=\"" << Px(band) << "\" fill=\"url(#shard-band)\"/>\n";
  const double titlePx = o.height * kShardTitlePx;
  if (!title.empty()) {
    out << "    <text x=\"" << Px(o.width / 2) << "\" y=\"" << Px(centre + titlePx * 0.36)
        << "\" font-family=\"Pricedown, Impact, 'Arial Black', sans-serif\" font-weight=\"bold\" "
        << "font-size=\"" << Px(titlePx) << "\" letter-spacing=\"" << Px(titlePx * 0.04)
        << "\" text-anchor=\"middle\" fill=\"" << Rgb(titleColour) << "\" fill-opacity=\""
        << Opacity(titleColour) << "\" stroke=\"black\" stroke-opacity=\"0.6\" stroke-width=\""
        << Px(titlePx * 0.02) << "\">" << XmlEscape(title) << "</text>\n";
  }
  if (!message.empty()) {
    const double messagePx = o.height * kShardMessagePx;
    out << "    <text x=\"" << Px(o.width / 2) << "\" y=\""
        << Px(centre + band / 2 - messagePx * 0.3) << "\" font-family=\"sans-serif\" font-size=\""
        << Px(messagePx) << "\" text-anchor=\"middle\" fill=\"" << Rgb(messageColour)
        << "\" fill-opacity=\"" << Opacity(messageColour) << "\">" << XmlEscape(message)
        << "</text>\n";
  }
  out << "  </g>\n";
}

}  // namespace

void WriteFrameSvg(std::ostream& out, const FrameDrawing* frame, std::int64_t frameNumber,
                   const SvgOptions& o) {
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Px(o.width) << "\" height=\""
      << Px(o.height) << "\" viewBox=\"0 0 " << Px(o.width) << " " << Px(o.height) << "\">\n"
      << "  <defs><linearGradient id=\"scene\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
      << "<stop offset=\"0\" stop-color=\"#6f8fa8\"/><stop offset=\"0.6\" stop-color=\"#7d8a70\"/>"
      << "<stop offset=\"1\" stop-color=\"#4b5243\"/></linearGradient></defs>\n"
      << "  <rect width=\"" << Px(o.width) << "\" height=\"" << Px(o.height)
      << "\" fill=\"url(#scene)\"/>\n";
  if (frame != nullptr) {
    for (const DrawItem& item : frame->items) {
      switch (item.kind) {
        case DrawKind::Rect:
          WriteRect(out, item, o);
          break;
        case DrawKind::Sprite:
          WriteSprite(out, item, o);
          break;
        case DrawKind::Text:
          WriteText(out, item, o);
          break;
        case DrawKind::Movie:
          WriteMovie(out, item, o);
          break;
        case DrawKind::Texture:
          WriteTexture(out, item, o);
          break;
      }
    }
  }
  // The fade darkens everything the frame drew, the HUD and the shard too.
  const double fade = std::isfinite(o.fadeLevel) ? std::clamp(o.fadeLevel, 0.0, 1.0) : 0.0;
  if (fade > 0.0) {
    out << "  <rect class=\"fade\" width=\"" << Px(o.width) << "\" height=\"" << Px(o.height)
        << "\" fill=\"black\" fill-opacity=\"" << FixedNumber(fade, 3) << "\"/>\n";
  }
  if (o.debug) {
    out << "  <text x=\"12\" y=\"40\" font-family=\"monospace\" font-size=\"18\" fill=\"white\" "
           "fill-opacity=\"0.8\">frame "
        << frameNumber;
    if (fade > 0.0) out << ", fade " << Px(fade);
    out << "</text>\n";
  }
  out << "</svg>\n";
}

std::optional<FramePick> ParseFramePick(const std::string& text, std::string& error) {
  const auto number = [&](const std::string& s, std::int64_t& value) {
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0' || v < 0) return false;
    value = v;
    return true;
  };
  FramePick pick;
  if (text == "drawn") {
    pick.drawn = true;
    return pick;
  }
  if (text.rfind("every:", 0) == 0) {
    if (!number(text.substr(6), pick.every) || pick.every == 0) {
      error = "\"every:N\" needs a whole number N of at least 1, got \"" + text + "\"";
      return std::nullopt;
    }
    return pick;
  }
  std::istringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    std::int64_t frame = 0;
    if (!number(item, frame)) {
      error = "expected frame numbers such as \"0,60,120\", \"every:N\" or \"drawn\", got \"" +
              text + "\"";
      return std::nullopt;
    }
    pick.listed.push_back(frame);
  }
  if (pick.listed.empty()) {
    error = "no frames given";
    return std::nullopt;
  }
  std::sort(pick.listed.begin(), pick.listed.end());
  pick.listed.erase(std::unique(pick.listed.begin(), pick.listed.end()), pick.listed.end());
  return pick;
}

std::vector<std::int64_t> PickedFrames(const FramePick& pick, std::int64_t framesRun,
                                       const DrawingModel& drawing) {
  std::vector<std::int64_t> frames;
  if (pick.drawn) {
    for (const auto& [frame, drawn] : drawing.frames) {
      if (!drawn.items.empty() && frame < framesRun) frames.push_back(frame);
    }
  } else if (pick.every > 0) {
    for (std::int64_t f = 0; f < framesRun; f += pick.every) frames.push_back(f);
  } else {
    for (std::int64_t f : pick.listed) {
      if (f < framesRun) frames.push_back(f);
    }
  }
  return frames;
}

std::string SvgFileName(std::int64_t frame) { return "frame-" + ZeroPadded(frame, 5) + ".svg"; }

FramePick DefaultFramePick() {
  std::string error;
  return *ParseFramePick(kDefaultFramePick, error);
}

bool IsPictureFileName(const FramePick& pick, const std::string& name, std::int64_t maxFrames) {
  constexpr std::string_view kPrefix = "frame-";
  constexpr std::string_view kSuffix = ".svg";
  if (name.size() <= kPrefix.size() + kSuffix.size() || name.rfind(kPrefix, 0) != 0 ||
      name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    return false;
  }
  const std::string digits =
      name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  // Nine digits fit a long long whatever they are; more could not be a frame.
  if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const std::int64_t frame = std::stoll(digits);
  if (SvgFileName(frame) != name || frame >= maxFrames) return false;
  if (pick.drawn) return true;
  if (pick.every > 0) return frame % pick.every == 0;
  return std::binary_search(pick.listed.begin(), pick.listed.end(), frame);
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
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
      default:
        // Control bytes are not allowed in XML text.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
        break;
    }
  }
  return out;
}

std::string FrameSvgText(const FrameDrawing* frame, std::int64_t frameNumber, float fadeLevel) {
  std::ostringstream svg;
  SvgOptions look;
  look.fadeLevel = fadeLevel;
  WriteFrameSvg(svg, frame, frameNumber, look);
  return svg.str();
}

void WriteWorldFrameSvg(std::ostream& out, const World& world, std::int64_t frame, bool debug) {
  SvgOptions look;
  look.fadeLevel = world.screen.LevelAtFrame(frame);
  look.debug = debug;
  WriteFrameSvg(out, world.drawing.Frame(frame), frame, look);
}

}  // namespace sim
