// Pictures of a frame: the script alignment's approximation, where items land
// on a 1280x720 screen, how texts are anchored, wrapped and escaped, the
// shard, the screen fade and the debug additions, and the choice of frames to
// picture.
#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "sim/report/svg.h"
#include "tests/support/text_search.h"

namespace {

sim::GfxAlignment Aligned(std::int32_t horizontal, std::int32_t vertical, float w, float h) {
  sim::GfxAlignment a;
  a.active = true;
  a.horizontal = horizontal;
  a.vertical = vertical;
  a.width = w;
  a.height = h;
  return a;
}

sim::SvgOptions Screen720(double fadeLevel = 0.0, bool debug = false) {
  sim::SvgOptions options;
  options.width = 1280.0;
  options.height = 720.0;
  options.fadeLevel = fadeLevel;
  options.debug = debug;
  return options;
}

std::string Picture(const std::vector<sim::DrawItem>& items,
                    const sim::SvgOptions& options = Screen720()) {
  sim::FrameDrawing frame;
  frame.items = items;
  std::ostringstream out;
  sim::WriteFrameSvg(out, &frame, 7, options);
  return out.str();
}

TEST(SvgAlignment, LaysTheScriptSpaceIntoABoxAtTheNamedEdge) {
  struct Case {
    sim::GfxAlignment alignment;
    float in;
    float x;
    float y;
  };
  const sim::GfxAlignment none;
  for (const Case& c :
       {Case{Aligned('R', 'B', 0.952F, 0.949F), 1.0F, 1.0F, 1.0F},
        Case{Aligned('R', 'B', 0.952F, 0.949F), 0.0F, 0.048F, 0.051F},
        Case{Aligned('L', 'T', 0.5F, 0.5F), 1.0F, 0.5F, 0.5F},
        Case{Aligned('C', 'C', 0.5F, 0.8F), 0.0F, 0.25F, 0.1F},
        Case{Aligned('I', 'I', 0.5F, 0.5F), 0.3F, 0.3F, 0.3F}, Case{none, 0.3F, 0.3F, 0.3F}}) {
    EXPECT_NEAR(sim::AlignedScreenX(c.alignment, c.in), c.x, 1e-6) << c.alignment.horizontal;
    EXPECT_NEAR(sim::AlignedScreenY(c.alignment, c.in), c.y, 1e-6) << c.alignment.vertical;
  }
  sim::GfxAlignment moved = Aligned('L', 'T', 1.0F, 1.0F);
  moved.offsetX = 0.1F;
  moved.offsetY = -0.2F;
  EXPECT_NEAR(sim::AlignedScreenX(moved, 0.5F), 0.6F, 1e-6);
  EXPECT_NEAR(sim::AlignedScreenY(moved, 0.5F), 0.3F, 1e-6);
}

TEST(SvgPicture, PlacesRectanglesAndSpritesByTheirCentreInTheirColours) {
  sim::DrawItem rect;
  rect.kind = sim::DrawKind::Rect;
  rect.x = 0.5F;
  rect.y = 0.5F;
  rect.width = 0.1F;
  rect.height = 0.2F;
  rect.colour = sim::Colour{255, 0, 0, 51};

  sim::DrawItem sprite;
  sprite.kind = sim::DrawKind::Sprite;
  sprite.dictionary = "timerbars";
  sprite.texture = "all_white_bg";
  sprite.x = 0.874F;
  sprite.y = 0.931F;
  sprite.width = 0.165F;
  sprite.height = 0.035F;
  sprite.colour = sim::Colour{10, 20, 30, 255};
  sprite.alignment = Aligned('R', 'B', 0.952F, 0.949F);

  sim::DrawItem black = sprite;
  black.texture = "all_black_bg";
  black.colour = sim::Colour{255, 255, 255, 140};

  const std::string svg = Picture({rect, sprite, black}, Screen720(0.0, true));
  EXPECT_NE(svg.find("<rect x=\"576.00\" y=\"288.00\" width=\"128.00\" height=\"144.00\" "
                     "fill=\"rgb(255,0,0)\" fill-opacity=\"0.20\"/>"),
            std::string::npos)
      << svg;
  EXPECT_NE(
      svg.find("<rect x=\"1025.93\" y=\"660.90\" width=\"201.06\" height=\"23.91\" rx=\"1.5\" "
               "fill=\"rgb(10,20,30)\" fill-opacity=\"1.00\""),
      std::string::npos)
      << svg;
  EXPECT_NE(svg.find(">all_white_bg</text>"), std::string::npos) << "named in the debug picture";
  EXPECT_EQ(Picture({sprite}).find(">all_white_bg</text>"), std::string::npos)
      << "a plain picture shows no texture names";
  // A black texture stays black under any tint; only its alpha shows.
  EXPECT_NE(svg.find("fill=\"rgb(0,0,0)\" fill-opacity=\"0.55\""), std::string::npos) << svg;
}

sim::DrawItem Text(const std::string& text, std::int32_t justification, float wrapEnd) {
  sim::DrawItem item;
  item.kind = sim::DrawKind::Text;
  item.text = text;
  item.x = 0.5F;
  item.y = 0.5F;
  item.style.size = 0.5F;
  item.style.justification = justification;
  item.style.wrapEnd = wrapEnd;
  return item;
}

TEST(SvgPicture, AnchorsTextsByJustificationAndWrapsThemAtTheWrapEdge) {
  // Right-justified: the text ends at the wrap edge, not at its x.
  const std::string right = Picture({Text("R", 2, 0.75F)});
  EXPECT_NE(right.find("text-anchor=\"end\""), std::string::npos);
  EXPECT_NE(right.find("<text x=\"960.00\""), std::string::npos) << right;

  const std::string centred = Picture({Text("C", 0, 1.0F)});
  EXPECT_NE(centred.find("text-anchor=\"middle\""), std::string::npos);
  EXPECT_NE(centred.find("<text x=\"640.00\""), std::string::npos) << centred;

  // Left-justified in a narrow region: one line per word.
  const std::string wrapped = Picture({Text("one two three", 1, 0.53F)});
  EXPECT_NE(wrapped.find(">one</text>"), std::string::npos) << wrapped;
  EXPECT_NE(wrapped.find(">three</text>"), std::string::npos) << wrapped;
  const std::string unwrapped = Picture({Text("one two three", 1, 1.0F)});
  EXPECT_NE(unwrapped.find(">one two three</text>"), std::string::npos) << unwrapped;

  sim::DrawItem shadowed = Text("a<b & c", 1, 1.0F);
  shadowed.style.dropShadow = true;
  const std::string svg = Picture({shadowed});
  EXPECT_EQ(test::CountOf(svg, ">a&lt;b &amp; c</text>"), 2U) << "the text and its shadow, escaped";
}

sim::DrawItem Shard(const std::string& method, std::vector<std::string> components) {
  sim::DrawItem movie;
  movie.kind = sim::DrawKind::Movie;
  movie.texture = "MP_BIG_MESSAGE_FREEMODE";
  movie.colour = sim::Colour{255, 255, 255, 255};
  movie.entry = method;
  movie.components = std::move(components);
  return movie;
}

TEST(SvgPicture, ShowsAShardAsALargeTitleOverADarkBand) {
  const std::string svg = Picture({Shard("SHOW_SHARD_WASTED_MP_MESSAGE", {"WASTED", "try again"})});
  // The band spans the screen's width, 0.21 of its height around 0.45.
  EXPECT_NE(svg.find("<rect x=\"0\" y=\"248.40\" width=\"1280.00\" height=\"151.20\" "
                     "fill=\"url(#shard-band)\"/>"),
            std::string::npos)
      << svg;
  // The wasted shard's title in the game's red, 0.125 of the screen high.
  EXPECT_NE(svg.find("font-size=\"90.00\""), std::string::npos) << svg;
  EXPECT_NE(svg.find("fill=\"rgb(224,50,50)\" fill-opacity=\"1.00\" stroke=\"black\""),
            std::string::npos)
      << svg;
  EXPECT_NE(svg.find(">WASTED</text>"), std::string::npos);
  EXPECT_NE(svg.find(">try again</text>"), std::string::npos);
  EXPECT_EQ(svg.find("movie MP_BIG_MESSAGE_FREEMODE"), std::string::npos) << "no debug label";
  EXPECT_EQ(svg.find("stroke-dasharray"), std::string::npos) << "no debug outline";

  // Another shard's title is white; the movie's tint dims it as the game does.
  sim::DrawItem other = Shard("SHOW_SHARD_CENTERED_MP_MESSAGE", {"PASSED"});
  other.colour = sim::Colour{255, 255, 255, 128};
  const std::string tinted = Picture({other});
  EXPECT_NE(tinted.find("<g class=\"shard\" opacity=\"0.50\">"), std::string::npos) << tinted;
  EXPECT_NE(tinted.find("fill=\"rgb(255,255,255)\" fill-opacity=\"0.50\" stroke"),
            std::string::npos)
      << tinted;

  // A movie with no shard in it shows nothing, but the debug picture names it.
  const std::string empty = Picture({Shard("", {})});
  EXPECT_EQ(empty.find("shard"), std::string::npos) << empty;
  const std::string named = Picture({Shard("", {})}, Screen720(0.0, true));
  EXPECT_NE(named.find(">movie MP_BIG_MESSAGE_FREEMODE</text>"), std::string::npos) << named;
  EXPECT_NE(named.find("stroke-dasharray"), std::string::npos) << named;
}

TEST(SvgPicture, DrawsTheScreenFadeOverEverythingAtItsLevel) {
  sim::DrawItem rect;
  rect.kind = sim::DrawKind::Rect;
  rect.width = 0.1F;
  rect.height = 0.1F;
  const std::vector<sim::DrawItem> items = {Shard("SHOW_SHARD_WASTED_MP_MESSAGE", {"WASTED"}),
                                            rect};
  struct Case {
    double level;
    const char* opacity;  // nullptr: no fade drawn
  };
  for (const Case& c :
       {Case{0.0, nullptr}, Case{0.25, "0.250"}, Case{1.0, "1.000"}, Case{3.0, "1.000"},
        Case{-1.0, nullptr}, Case{std::numeric_limits<double>::quiet_NaN(), nullptr}}) {
    const std::string svg = Picture(items, Screen720(c.level));
    const std::size_t fade = svg.find("<rect class=\"fade\"");
    if (c.opacity == nullptr) {
      EXPECT_EQ(fade, std::string::npos) << c.level;
      continue;
    }
    ASSERT_NE(fade, std::string::npos) << c.level;
    EXPECT_NE(svg.find(std::string("fill=\"black\" fill-opacity=\"") + c.opacity + "\"", fade),
              std::string::npos)
        << c.level;
    // After the shard and the HUD, so that it darkens them too.
    EXPECT_GT(fade, svg.find(">WASTED</text>")) << c.level;
    EXPECT_GT(fade, svg.rfind("<rect x=")) << c.level;
  }
}

TEST(SvgPicture, NamesTheFrameOnlyInTheDebugPicture) {
  EXPECT_EQ(test::CountOf(Picture({}), "frame 7"), 0U);
  EXPECT_EQ(test::CountOf(Picture({}, Screen720(0.0, true)), ">frame 7</text>"), 1U);
  EXPECT_EQ(test::CountOf(Picture({}, Screen720(0.5, true)), ">frame 7, fade 0.50</text>"), 1U);
  // The default picture is a 1920x1080 screen.
  std::ostringstream out;
  sim::WriteFrameSvg(out, nullptr, 0);
  EXPECT_NE(out.str().find("viewBox=\"0 0 1920.00 1080.00\""), std::string::npos) << out.str();
}

TEST(SvgFramePick, ReadsListsIntervalsAndDrawnFrames) {
  std::string error;
  sim::DrawingModel drawing;
  drawing.frames[4].items.push_back(sim::DrawItem{});
  drawing.frames[5].hiddenHudComponents = {6};  // hid something, drew nothing
  drawing.frames[50].items.push_back(sim::DrawItem{});

  const auto listed = sim::ParseFramePick("120,0,60,60", error);
  ASSERT_TRUE(listed) << error;
  EXPECT_EQ(sim::PickedFrames(*listed, 100, drawing), (std::vector<std::int64_t>{0, 60}));

  const auto every = sim::ParseFramePick("every:30", error);
  ASSERT_TRUE(every) << error;
  EXPECT_EQ(sim::PickedFrames(*every, 91, drawing), (std::vector<std::int64_t>{0, 30, 60, 90}));

  const auto drawn = sim::ParseFramePick("drawn", error);
  ASSERT_TRUE(drawn) << error;
  EXPECT_EQ(sim::PickedFrames(*drawn, 40, drawing), (std::vector<std::int64_t>{4}));

  for (const char* bad : {"", "every:0", "every:x", "1,,2", "-5", "3a"}) {
    EXPECT_FALSE(sim::ParseFramePick(bad, error)) << bad;
  }
  EXPECT_EQ(sim::SvgFileName(42), "frame-00042.svg");
}

// The names a picture may take in its folder, which rebound-sim keeps any
// other file named on its command line out of.
TEST(SvgFramePick, KnowsWhichFileNamesItsPicturesTake) {
  std::string error;
  const sim::FramePick listed = *sim::ParseFramePick("0,60", error);
  const sim::FramePick every = sim::DefaultFramePick();
  const sim::FramePick drawn = *sim::ParseFramePick("drawn", error);
  struct Case {
    const sim::FramePick* pick;
    const char* name;
    bool taken;
  };
  const Case cases[] = {
      {&listed, "frame-00060.svg", true},
      {&listed, "frame-00061.svg", false},
      {&every, "frame-00090.svg", true},
      {&every, "frame-00091.svg", false},
      {&drawn, "frame-00007.svg", true},
      {&drawn, "frame-00099.svg", true},
      {&drawn, "frame-0007.svg", false},       // not as SvgFileName spells frame 7
      {&drawn, "frame-1000.svg", false},       // nor frame 1000
      {&drawn, "frame-00100.svg", false},      // past the most frames a run has
      {&drawn, "frame-000000001.svg", false},  // nine digits, not the spelling of 1
      {&drawn, "frame-0000000001.svg", false},
      {&drawn, "frame-.svg", false},
      {&drawn, "frame-00007.svgz", false},
      {&drawn, "frame-0000x.svg", false},
      {&drawn, "run.jsonl", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sim::IsPictureFileName(*c.pick, c.name, 100), c.taken) << c.name;
  }
  EXPECT_TRUE(sim::IsPictureFileName(drawn, "frame-123456.svg", 123457));
  EXPECT_FALSE(sim::IsPictureFileName(drawn, "frame-123456.svg", 123456));
}

}  // namespace
