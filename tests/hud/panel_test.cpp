// The panel frame as the game sees it: the frame guard, the dictionary load,
// the hidden HUD components and alignment, the starting y and the stacking
// of rows, and the animation clock that blinks and flashes bars.
#include <algorithm>
#include <map>

#include "src/hud/bar_drawing.h"
#include "tests/hud/hud_harness.h"

namespace {

class PanelFrame : public hudtest::HudTest {};

using hudtest::CallsInFrame;
using hudtest::HudTest;
using hudtest::ItemsOfKind;
using hudtest::RunEveryFrame;
using hudtest::RunScript;
using rebound::AppendToPanel;
using rebound::DrawPanelFrame;
using rebound::HudBar;
using rebound::HudBarKind;
using rebound::hudBarPanel;
using rebound::Rgba;

// The label text's y of each bar drawn in the frame, by label.
std::map<std::string, float> LabelYs(const sim::Simulation& simulation, std::int64_t frame) {
  std::map<std::string, float> ys;
  for (const sim::DrawItem& text : ItemsOfKind(simulation, frame, sim::DrawKind::Text)) {
    ys[text.text] = text.y;
  }
  return ys;
}

TEST_F(PanelFrame, EmptyOrDisabledPanelCallsNothing) {
  HudBar bar("L", "");
  sim::Simulation simulation(test::ScenarioFrom(hudtest::kTexturesLoaded));
  RunScript(
      simulation,
      [&] {
        DrawPanelFrame();
        scriptWait(0);
        AppendToPanel(&bar);
        hudBarPanel.panelEnabled = false;
        DrawPanelFrame();
      },
      2);
  EXPECT_EQ(CallsInFrame(simulation.GetTrace(), 0), std::vector<std::string>{});
  EXPECT_EQ(CallsInFrame(simulation.GetTrace(), 1), std::vector<std::string>{});
}

TEST_F(PanelFrame, HidesTheCornerAlignsDrawsOnceAndResets) {
  HudBar bar("L", "");
  AppendToPanel(&bar);
  sim::Simulation simulation(test::ScenarioFrom(hudtest::kTexturesLoaded));
  RunScript(simulation, [] {
    DrawPanelFrame();
    DrawPanelFrame();  // the same frame: stops at the frame guard
  });
  const auto calls = CallsInFrame(simulation.GetTrace(), 0);
  const std::vector<std::string> opening = {
      "GET_FRAME_COUNT()",
      "GET_FRAME_COUNT()",
      "HAS_STREAMED_TEXTURE_DICT_LOADED(\"timerbars\")",
      "HIDE_HUD_COMPONENT_THIS_FRAME(6)",
      "HIDE_HUD_COMPONENT_THIS_FRAME(7)",
      "HIDE_HUD_COMPONENT_THIS_FRAME(8)",
      "HIDE_HUD_COMPONENT_THIS_FRAME(9)",
      "SET_SCRIPT_GFX_ALIGN(82, 66)",
      "SET_SCRIPT_GFX_ALIGN_PARAMS(0, 0, 0.952, 0.949)",
      "BUSYSPINNER_IS_ON()",
      "GET_GAME_TIMER()",
      "DRAW_SPRITE(\"timerbars\", \"all_black_bg\", 0.874, 0.931, 0.165, 0.035, 0, 255, 255, "
      "255, 140, 0, 0)"};
  // The first frame ticks the animation clock: read once more and restarted.
  const std::vector<std::string> closing = {"GET_GAME_TIMER()", "GET_GAME_TIMER()",
                                            "RESET_SCRIPT_GFX_ALIGN()", "GET_FRAME_COUNT()"};
  ASSERT_GT(calls.size(), opening.size() + closing.size());
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 12), opening);
  EXPECT_EQ(std::vector<std::string>(calls.end() - 4, calls.end()), closing);

  const sim::FrameDrawing* frame = simulation.GetWorld().drawing.Frame(0);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->hiddenHudComponents, (std::set<std::int32_t>{6, 7, 8, 9}));
  ASSERT_EQ(frame->items.size(), 4U) << "one bar's background, label and two rectangles, once";
  for (const sim::DrawItem& item : frame->items) {
    EXPECT_TRUE(item.alignment.active);
    EXPECT_EQ(item.alignment.horizontal, 'R');
    EXPECT_EQ(item.alignment.vertical, 'B');
    EXPECT_FLOAT_EQ(item.alignment.width, 0.952F);
    EXPECT_FLOAT_EQ(item.alignment.height, 0.949F);
  }
  EXPECT_FALSE(simulation.GetWorld().drawing.alignment.active) << "reset after the panel";
}

TEST_F(PanelFrame, DrawsNothingUntilItsDictionaryIsLoadedAndAsksEveryFrame) {
  HudBar bar("L", "");
  AppendToPanel(&bar);
  sim::Simulation simulation(
      test::ScenarioFrom(R"({"frames": 10, "world": {"textures": {"loadFrames": 2}}})"));
  RunEveryFrame(
      simulation,
      [] {
        DrawPanelFrame();
        DrawPanelFrame();
      },
      3);
  const std::vector<std::string> waiting = {
      "GET_FRAME_COUNT()", "GET_FRAME_COUNT()", "HAS_STREAMED_TEXTURE_DICT_LOADED(\"timerbars\")",
      "REQUEST_STREAMED_TEXTURE_DICT(\"timerbars\", false)", "GET_FRAME_COUNT()"};
  for (std::int64_t frame : {0, 1}) {
    EXPECT_EQ(CallsInFrame(simulation.GetTrace(), frame), waiting) << "frame " << frame;
    EXPECT_EQ(simulation.GetWorld().drawing.Frame(frame), nullptr) << "frame " << frame;
  }
  EXPECT_EQ(simulation.GetWorld().drawing.DrawList(2).size(), 4U);
}

TEST_F(PanelFrame, BottomRowMovesUpWhileTheBusySpinnerShows) {
  HudBar bar("L", "");
  AppendToPanel(&bar);
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 10,
      "world": {"textures": {"loaded": ["timerbars"]}},
      "events": [{"frame": 1, "busySpinner": true}, {"frame": 2, "busySpinner": false}]})"));
  RunEveryFrame(
      simulation, [] { DrawPanelFrame(); }, 3);
  EXPECT_FLOAT_EQ(LabelYs(simulation, 0)["L"], 0.923F);
  EXPECT_FLOAT_EQ(LabelYs(simulation, 1)["L"], 0.887F);
  EXPECT_FLOAT_EQ(LabelYs(simulation, 2)["L"], 0.923F);
}

struct RowsCase {
  const char* name;
  std::vector<HudBar> bars;            // labelled "0", "1", ...
  std::map<std::string, double> rowY;  // each drawn bar's row y; skipped bars are absent
};

void PrintTo(const RowsCase& c, std::ostream* os) { *os << c.name; }

HudBar Bar(HudBarKind kind, bool compact, bool enabled = true, std::int32_t visibility = 2) {
  HudBar bar("", "");
  bar.kind = kind;
  bar.compact = compact;
  bar.enabled = enabled;
  bar.visibility = visibility;
  return bar;
}

class PanelRows : public HudTest, public ::testing::WithParamInterface<RowsCase> {};

TEST_P(PanelRows, StackUpwardsFromTheBottomRow) {
  RowsCase c = GetParam();
  for (std::size_t i = 0; i < c.bars.size(); ++i) {
    c.bars[i].SetLabel(std::to_string(i));
    AppendToPanel(&c.bars[i]);
  }
  sim::Simulation simulation(test::ScenarioFrom(hudtest::kTexturesLoaded));
  RunScript(simulation, [] { DrawPanelFrame(); });
  std::map<std::string, double> rowY;
  for (const auto& [label, y] : LabelYs(simulation, 0)) {
    if (label.empty()) continue;  // an empty value text
    const HudBar& bar = c.bars[std::stoul(label)];
    if (bar.kind == HudBarKind::BigText) continue;
    rowY[label] = y - (bar.compact ? 0.002 : 0.0);
  }
  ASSERT_EQ(rowY.size(), c.rowY.size());
  for (const auto& [label, y] : c.rowY) EXPECT_NEAR(rowY[label], y, 1e-6) << "bar " << label;
}

INSTANTIATE_TEST_SUITE_P(
    DrawPanelFrame, PanelRows,
    ::testing::Values(
        RowsCase{"one_bar", {Bar(HudBarKind::Progress, false)}, {{"0", 0.923}}},
        RowsCase{"two_compact",
                 {Bar(HudBarKind::Progress, true), Bar(HudBarKind::Text, true)},
                 {{"0", 0.923}, {"1", 0.8911}}},
        RowsCase{"two_full",
                 {Bar(HudBarKind::Progress, false), Bar(HudBarKind::Entries, false)},
                 {{"0", 0.923}, {"1", 0.8831}}},
        RowsCase{"step_follows_the_lower_row",
                 {Bar(HudBarKind::Progress, true), Bar(HudBarKind::Text, false),
                  Bar(HudBarKind::Text, false)},
                 {{"0", 0.923}, {"1", 0.8911}, {"2", 0.8512}}},
        RowsCase{"disabled_and_invisible_take_no_row",
                 {Bar(HudBarKind::Progress, false), Bar(HudBarKind::Text, false, false),
                  Bar(HudBarKind::Text, false, true, 0), Bar(HudBarKind::Text, false)},
                 {{"0", 0.923}, {"3", 0.8831}}},
        RowsCase{"hidden_content_keeps_its_row",
                 {Bar(HudBarKind::Progress, false, true, 1), Bar(HudBarKind::Text, false)},
                 {{"0", 0.923}, {"1", 0.8831}}},
        RowsCase{"big_text_takes_one_row",
                 {Bar(HudBarKind::Progress, false), Bar(HudBarKind::BigText, false),
                  Bar(HudBarKind::Text, false)},
                 {{"0", 0.923}, {"2", 0.8432}}},
        RowsCase{"unknown_kind_still_takes_its_row",
                 {Bar(static_cast<HudBarKind>(0), false), Bar(HudBarKind::Text, false)},
                 {{"1", 0.8831}}}),
    [](const ::testing::TestParamInfo<RowsCase>& param) { return std::string(param.param.name); });

// At 10 frames a second, 8 frames are exactly 800 ms: a tick needs 9.
constexpr const char* kTenFps =
    R"({"fps": 10, "frames": 100, "world": {"textures": {"loaded": ["timerbars"]}}})";

TEST_F(PanelFrame, BlinkShowsHidesAndShowsOnSuccessiveTicksThenStops) {
  HudBar bar("L", "");
  bar.animColourA = Rgba{1, 1, 1, 1};
  bar.animColourB = Rgba{2, 2, 2, 2};
  bar.animStepsLeft = 3;
  bar.animMode = 1;
  AppendToPanel(&bar);
  sim::Simulation simulation(test::ScenarioFrom(kTenFps));
  RunEveryFrame(
      simulation, [] { DrawPanelFrame(); }, 30);
  const auto shown = [&](std::int64_t frame) {
    return !ItemsOfKind(simulation, frame, sim::DrawKind::Rect).empty();
  };
  // Ticks in frame 0 (the clock starts long ago), 9 and 18.
  EXPECT_TRUE(shown(0));
  EXPECT_TRUE(shown(8)) << "800 ms is not yet a tick";
  EXPECT_FALSE(shown(9));
  EXPECT_FALSE(shown(17));
  EXPECT_TRUE(shown(18));
  EXPECT_TRUE(shown(29));
  EXPECT_EQ(bar.animMode, 0);
  EXPECT_EQ(bar.animStepsLeft, 0);
  // Hidden rows keep their background and label.
  EXPECT_EQ(ItemsOfKind(simulation, 9, sim::DrawKind::Sprite).size(), 1U);
  EXPECT_EQ(ItemsOfKind(simulation, 9, sim::DrawKind::Text).size(), 1U);
}

TEST_F(PanelFrame, AnimatingBarsStepTogetherOnOneTick) {
  const Rgba a{10, 0, 0, 255}, b{20, 0, 0, 255};
  HudBar first("0", ""), second("1", "");
  for (HudBar* bar : {&first, &second}) {
    bar->animColourA = a;
    bar->animColourB = b;
    bar->animStepsLeft = 2;
    bar->animMode = 2;
    AppendToPanel(bar);
  }
  HudBar idle("2", "");
  idle.animMode = 2;  // no steps left: never steps, keeps its mode
  AppendToPanel(&idle);
  sim::Simulation simulation(test::ScenarioFrom(kTenFps));
  RunEveryFrame(
      simulation, [] { DrawPanelFrame(); }, 12);
  const auto fills = [&](std::int64_t frame) {
    std::vector<sim::Colour> colours;
    const auto rects = ItemsOfKind(simulation, frame, sim::DrawKind::Rect);
    for (std::size_t i = 1; i < rects.size(); i += 2) colours.push_back(rects[i].colour);
    return colours;
  };
  const sim::Colour colourA{10, 0, 0, 255}, colourB{20, 0, 0, 255}, fill{240, 240, 240, 140};
  EXPECT_EQ(fills(0), (std::vector<sim::Colour>{colourA, colourA, fill}));
  EXPECT_EQ(fills(8), (std::vector<sim::Colour>{colourA, colourA, fill}));
  EXPECT_EQ(fills(9), (std::vector<sim::Colour>{colourB, colourB, fill}));
  EXPECT_EQ(first.animMode, 0);
  EXPECT_EQ(second.animMode, 0);
  EXPECT_EQ(idle.animMode, 2);
}

TEST_F(PanelFrame, OverlayWaitFinishesThePanelInTheFrameItEnds) {
  HudBar entries("E", "");
  entries.kind = HudBarKind::Entries;
  entries.entries = {rebound::EntryLitMarked};
  HudBar progress("P", "");
  AppendToPanel(&entries);
  AppendToPanel(&progress);
  sim::Simulation simulation(test::ScenarioFrom(R"({"frames": 10, "world": {"textures": {
      "loaded": ["timerbars"], "perDictionary": {"commonmenu": 2}}}})"));
  RunEveryFrame(
      simulation, [] { DrawPanelFrame(); }, 4);

  EXPECT_EQ(hudtest::DrawnInFrame(simulation, 0).size(), 3U) << "background, label, marker";
  EXPECT_EQ(simulation.GetWorld().drawing.Frame(1), nullptr);
  const auto frame2 = CallsInFrame(simulation.GetTrace(), 2);
  EXPECT_EQ(std::count(frame2.begin(), frame2.end(), "GET_FRAME_COUNT()"), 0)
      << "the interrupted frame is finished, not started again";
  EXPECT_EQ(frame2.back(), "RESET_SCRIPT_GFX_ALIGN()");
  EXPECT_EQ(LabelYs(simulation, 2).count("P"), 1U);
  EXPECT_EQ(ItemsOfKind(simulation, 2, sim::DrawKind::Sprite)[0].texture, "shop_tick_icon");
  for (const sim::DrawItem& item : simulation.GetWorld().drawing.DrawList(2)) {
    EXPECT_TRUE(item.alignment.active) << "still aligned after the wait";
  }
  EXPECT_EQ(hudtest::DrawnInFrame(simulation, 3).size(), 8U) << "the next frame draws it all";
}

}  // namespace
