// One bar drawn at a row's y, read back from the simulated game's draw list:
// what each kind shows when shown or hidden, compact or not, where the
// separators and entry markers go, the marked entry's overlay, and how far
// a big text rises in each language.
#include <algorithm>
#include <limits>

#include "src/hud/bar_drawing.h"
#include "tests/hud/hud_harness.h"

namespace {

class BarDrawing : public hudtest::HudTest {};

using hudtest::DrawnInFrame;
using hudtest::HudTest;
using hudtest::ItemsOfKind;
using hudtest::RunScript;
using rebound::DrawBar;
using rebound::HudBar;
using rebound::HudBarKind;
using rebound::Rgba;

constexpr double kRowY = 0.5;

const std::string kBackground =
    "sprite timerbars/all_black_bg 0.874,0.508 0.165x0.035 255,255,255,140";
const std::string kBackgroundCompact =
    "sprite timerbars/all_black_bg 0.874,0.512 0.165x0.028 255,255,255,140";
const std::string kLabel =
    "text \"L\" 0.795,0.5 font 0 size 0.288 240,240,240,255 just 2 wrap 0.867";
const std::string kLabelCompact =
    "text \"L\" 0.795,0.502 font 0 size 0.288 240,240,240,255 just 2 wrap 0.867";
const std::string kValue =
    "text \"V\" 0.795,0.489 font 0 size 0.494 240,240,240,255 just 2 wrap 0.95";
const std::string kBarBack = "rect 0.913,0.512 0.069x0.011 155,155,155,140";
const std::string kBarFill = "rect 0.89575,0.512 0.0345x0.011 240,240,240,140";
const std::string kLargeLabel =
    "text \"L\" 0.795,0.495 font 0 size 0.447 240,240,240,255 just 2 wrap 0.867";
const std::string kMarkerLit =
    "sprite timerbars/circle_checkpoints 0.9445,0.512 0.012x0.023 255,255,255,255";

struct KindCase {
  const char* name;
  HudBarKind kind;
  bool compact;
  std::int32_t visibility;
  std::vector<std::string> drawn;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class BarKinds : public HudTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(BarKinds, DrawWhatTheKindShows) {
  const KindCase& c = GetParam();
  HudBar bar("L", "V");
  bar.kind = c.kind;
  bar.compact = c.compact;
  bar.visibility = c.visibility;
  bar.entries = {rebound::EntryLit};
  rebound::SetBarProgress(bar, 0.5);
  std::int32_t returned = -1;
  sim::Simulation simulation(test::ScenarioFrom(hudtest::kTexturesLoaded));
  RunScript(simulation, [&] { returned = DrawBar(bar, kRowY); });
  EXPECT_EQ(DrawnInFrame(simulation, 0), c.drawn);
  EXPECT_EQ(returned, 0) << "every row, a big text's included, keeps the next row on screen";
}

INSTANTIATE_TEST_SUITE_P(
    DrawBar, BarKinds,
    ::testing::Values(
        KindCase{"text_shown", HudBarKind::Text, false, 2, {kBackground, kLabel, kValue}},
        KindCase{"text_hidden", HudBarKind::Text, false, 1, {kBackground, kLabel}},
        KindCase{"text_compact",
                 HudBarKind::Text,
                 true,
                 2,
                 {kBackgroundCompact, kLabelCompact,
                  "text \"V\" 0.795,0.4955 font 0 size 0.425 240,240,240,255 just 2 wrap 0.95"}},
        KindCase{
            "text_compact_hidden", HudBarKind::Text, true, 1, {kBackgroundCompact, kLabelCompact}},
        KindCase{"large_label_shown",
                 HudBarKind::LargeLabel,
                 false,
                 2,
                 {kBackground, kLargeLabel, kValue}},
        KindCase{
            "large_label_hidden", HudBarKind::LargeLabel, false, 1, {kBackground, kLargeLabel}},
        KindCase{"large_label_compact_moves_only_the_background",
                 HudBarKind::LargeLabel,
                 true,
                 2,
                 {kBackgroundCompact, kLargeLabel, kValue}},
        KindCase{"entries_shown", HudBarKind::Entries, false, 2, {kBackground, kLabel, kMarkerLit}},
        KindCase{"entries_hidden", HudBarKind::Entries, false, 1, {kBackground, kLabel}},
        KindCase{"entries_compact",
                 HudBarKind::Entries,
                 true,
                 2,
                 {kBackgroundCompact, kLabelCompact, kMarkerLit}},
        KindCase{"progress_shown",
                 HudBarKind::Progress,
                 false,
                 2,
                 {kBackground, kLabel, kBarBack, kBarFill}},
        KindCase{"progress_hidden", HudBarKind::Progress, false, 1, {kBackground, kLabel}},
        KindCase{"progress_compact",
                 HudBarKind::Progress,
                 true,
                 2,
                 {kBackgroundCompact, kLabelCompact, kBarBack, kBarFill}},
        KindCase{
            "big_text_shown",
            HudBarKind::BigText,
            false,
            2,
            {"text \"L\" 0.795,0.369 font 0 size 2.7 240,240,240,255 just 2 wrap 0.95 shadow"}},
        KindCase{"big_text_hidden", HudBarKind::BigText, false, 1, {}},
        KindCase{"unknown_kind", static_cast<HudBarKind>(31), false, 2, {}}),
    [](const ::testing::TestParamInfo<KindCase>& param) { return std::string(param.param.name); });

TEST_F(BarDrawing, HighlightIsDrawnUnderTheBackgroundUnlessItsRedIsMinusOne) {
  for (const std::int32_t red : {-1, 0}) {
    HudBar bar("L", "");
    bar.kind = HudBarKind::Text;
    bar.visibility = 1;
    bar.highlightColour = Rgba{red, 10, 20, 30};
    sim::Simulation simulation(test::ScenarioFrom(hudtest::kTexturesLoaded));
    RunScript(simulation, [&] { DrawBar(bar, kRowY); });
    const auto sprites = ItemsOfKind(simulation, 0, sim::DrawKind::Sprite);
    if (red == -1) {
      ASSERT_EQ(sprites.size(), 1U);
      EXPECT_EQ(sprites[0].texture, "all_black_bg");
    } else {
      ASSERT_EQ(sprites.size(), 2U);
      EXPECT_EQ(hudtest::Describe(sprites[0]),
                "sprite timerbars/all_white_bg 0.874,0.508 0.165x0.035 0,10,20,30");
      EXPECT_EQ(sprites[1].texture, "all_black_bg");
    }
  }
}

// The fill as the game is asked to draw it: its centre and width, from the
// fraction the owner sets (held to 0..1, NaN as 0).
TEST_F(BarDrawing, ProgressFillGrowsRightFromTheBarsLeftEdge) {
  struct Fill {
    double fraction;
    double progress;  // as the bar holds it
    float centreX;
    float width;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const Fill& f : {Fill{0.0, 0.0, 0.8785F, 0.0F}, Fill{0.25, 0.25, 0.887125F, 0.01725F},
                        Fill{0.5, 0.5, 0.89575F, 0.0345F}, Fill{1.0, 1.0, 0.913F, 0.069F},
                        Fill{1.7, 1.0, 0.913F, 0.069F}, Fill{-0.2, 0.0, 0.8785F, 0.0F},
                        Fill{nan, 0.0, 0.8785F, 0.0F}}) {
    HudBar bar("L", "");
    rebound::SetBarProgress(bar, f.fraction);
    EXPECT_EQ(bar.progress, f.progress) << f.fraction;
    sim::Simulation simulation(test::ScenarioFrom(hudtest::kTexturesLoaded));
    RunScript(simulation, [&] { DrawBar(bar, kRowY); });
    const auto rects = ItemsOfKind(simulation, 0, sim::DrawKind::Rect);
    ASSERT_EQ(rects.size(), 2U);
    EXPECT_EQ(hudtest::Describe(rects[0]), kBarBack) << "the bar's back does not move";
    EXPECT_EQ(rects[1].x, f.centreX) << f.fraction;
    EXPECT_EQ(rects[1].width, f.width) << f.fraction;
  }
}

TEST_F(BarDrawing, SeparatorsDivideTheProgressBarEvenlyAfterTheFill) {
  struct Separators {
    std::int32_t ticks;
    std::vector<float> x;
  };
  for (const Separators& s :
       {Separators{0, {}}, Separators{1, {0.913F}}, Separators{3, {0.89575F, 0.913F, 0.93025F}}}) {
    const std::int32_t ticks = s.ticks;
    HudBar bar("L", "");
    bar.tickCount = ticks;
    sim::Simulation simulation(test::ScenarioFrom(hudtest::kTexturesLoaded));
    RunScript(simulation, [&] { DrawBar(bar, kRowY); });
    const auto rects = ItemsOfKind(simulation, 0, sim::DrawKind::Rect);
    ASSERT_EQ(rects.size(), 2U + s.x.size()) << ticks;
    EXPECT_EQ(hudtest::Describe(rects[1]), "rect 0,0.512 0x0.011 240,240,240,140")
        << "an empty fill is still drawn, with zero width";
    for (std::size_t i = 0; i < s.x.size(); ++i) {
      const sim::DrawItem& sep = rects[i + 2];
      EXPECT_EQ(sep.x, s.x[i]) << ticks << " ticks, separator " << i + 1;
      EXPECT_FLOAT_EQ(sep.y, 0.512F);
      EXPECT_FLOAT_EQ(sep.width, 0.0015F);
      EXPECT_FLOAT_EQ(sep.height, 0.011F);
      EXPECT_EQ(sep.colour, (sim::Colour{0, 0, 0, 255}));
    }
  }
}

TEST_F(BarDrawing, EntryMarkersRunLeftwardsFromTheFirstTaken) {
  struct Order {
    bool leftToRight;
    std::vector<std::pair<double, sim::Colour>> markers;  // x and colour, in drawing order
  };
  const sim::Colour lit{255, 255, 255, 255}, dim{255, 255, 255, 51}, dark{0, 0, 0, 255},
      none{0, 0, 0, 0};
  for (const Order& order :
       {Order{false, {{0.9445, lit}, {0.9351, dim}, {0.9257, dark}, {0.9163, none}}},
        Order{true, {{0.9445, none}, {0.9351, dark}, {0.9257, dim}, {0.9163, lit}}}}) {
    HudBar bar("L", "");
    bar.kind = HudBarKind::Entries;
    bar.entries = {rebound::EntryLit, rebound::EntryDim, rebound::EntryDark, 7};
    bar.entriesLeftToRight = order.leftToRight;
    sim::Simulation simulation(test::ScenarioFrom(hudtest::kTexturesLoaded));
    RunScript(simulation, [&] { DrawBar(bar, kRowY); });
    auto sprites = ItemsOfKind(simulation, 0, sim::DrawKind::Sprite);
    ASSERT_EQ(sprites.size(), 1U + order.markers.size());
    for (std::size_t i = 0; i < order.markers.size(); ++i) {
      const sim::DrawItem& marker = sprites[i + 1];
      EXPECT_EQ(marker.texture, "circle_checkpoints");
      EXPECT_NEAR(marker.x, order.markers[i].first, 1e-6) << order.leftToRight << " " << i;
      EXPECT_FLOAT_EQ(marker.y, 0.512F);
      EXPECT_EQ(marker.colour, order.markers[i].second) << order.leftToRight << " " << i;
    }
  }
}

TEST_F(BarDrawing, MarkedEntryWaitsForTheOverlayDictionaryThenDrawsItInHudColourTwo) {
  HudBar bar("L", "");
  bar.kind = HudBarKind::Entries;
  bar.entries = {rebound::EntryLitMarked, rebound::EntryDim, rebound::EntryLitMarked};
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 10, "world": {
      "textures": {"loaded": ["timerbars"], "perDictionary": {"commonmenu": 3}},
      "hudColours": {"2": [10, 20, 30, 200]}}})"));
  RunScript(
      simulation, [&] { DrawBar(bar, kRowY); }, 5);

  const std::string marked =
      "sprite timerbars/circle_checkpoints 0.9445,0.512 0.012x0.023 255,255,255,255";
  EXPECT_EQ(DrawnInFrame(simulation, 0), (std::vector<std::string>{kBackground, kLabel, marked}));
  EXPECT_EQ(DrawnInFrame(simulation, 2), std::vector<std::string>{});
  EXPECT_EQ(DrawnInFrame(simulation, 3),
            (std::vector<std::string>{
                "sprite commonmenu/shop_tick_icon 0.9445,0.512 0.012x0.023 10,20,30,200",
                "sprite timerbars/circle_checkpoints 0.9351,0.512 0.012x0.023 255,255,255,51",
                "sprite timerbars/circle_checkpoints 0.9257,0.512 0.012x0.023 255,255,255,255",
                "sprite commonmenu/shop_tick_icon 0.9257,0.512 0.012x0.023 10,20,30,200"}));

  const auto frame0 = hudtest::CallsInFrame(simulation.GetTrace(), 0);
  const std::vector<std::string> waitStart(frame0.end() - 3, frame0.end());
  EXPECT_EQ(waitStart,
            (std::vector<std::string>{"HAS_STREAMED_TEXTURE_DICT_LOADED(\"commonmenu\")",
                                      "REQUEST_STREAMED_TEXTURE_DICT(\"commonmenu\", false)",
                                      "HAS_STREAMED_TEXTURE_DICT_LOADED(\"commonmenu\")"}));
  // Once loaded, the second marked entry asks twice and requests nothing.
  EXPECT_EQ(simulation.GetTrace().Count("REQUEST_STREAMED_TEXTURE_DICT"), 1U);
  const auto frame3 = hudtest::CallsInFrame(simulation.GetTrace(), 3);
  EXPECT_EQ(
      std::count(frame3.begin(), frame3.end(), "HAS_STREAMED_TEXTURE_DICT_LOADED(\"commonmenu\")"),
      3);
  EXPECT_EQ(std::count(frame3.begin(), frame3.end(), "GET_HUD_COLOUR(2, &, &, &, &)"), 2);
}

TEST_F(BarDrawing, BigTextRisesByLanguage) {
  struct Rise {
    std::int32_t language;
    double below;  // how far above the row's y the text is drawn
  };
  for (const Rise& r : {Rise{0, 0.131}, Rise{7, 0.131}, Rise{8, 0.0842}, Rise{9, 0.128},
                        Rise{10, 0.092}, Rise{11, 0.131}, Rise{12, 0.128}, Rise{13, 0.131}}) {
    hudtest::ResetHudState();
    HudBar bar("GO", "");
    bar.kind = HudBarKind::BigText;
    bar.labelIsKey = true;  // ignored: a big text takes the value text's key fields
    sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 5, "world": {"language": )" +
                                                  std::to_string(r.language) + "}}"));
    RunScript(simulation, [&] { DrawBar(bar, kRowY); });
    const auto texts = ItemsOfKind(simulation, 0, sim::DrawKind::Text);
    ASSERT_EQ(texts.size(), 1U);
    EXPECT_NEAR(texts[0].y, kRowY - r.below, 1e-6) << "language " << r.language;
    EXPECT_EQ(texts[0].text, "GO");
    EXPECT_FLOAT_EQ(texts[0].style.scaleX, 2.0F);
    EXPECT_FLOAT_EQ(texts[0].style.size, 2.7F);
    EXPECT_EQ(rebound::TextScaleOverride, (std::vector<double>{2.0, 2.7}));
  }
}

}  // namespace
