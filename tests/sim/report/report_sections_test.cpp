// The report page's sections written from small hand-made data: where the
// timeline and the death maps put things, the tables' cells, and that hostile
// text and NaN or infinite numbers reach the page harmless.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "sim/report/report_sections.h"
#include "tests/support/text_search.h"

namespace {

using sim::DeathRecord;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

void Set(double (&p)[3], double x, double y, double z) {
  p[0] = x;
  p[1] = y;
  p[2] = z;
}

// A death at (100, 200, 10), placed `east` and `north` metres away.
DeathRecord Death(std::int64_t frame, double east, double north) {
  DeathRecord d;
  d.deathFrame = frame;
  d.placeFrame = frame + 80;
  d.respawnFrame = frame + 90;
  Set(d.deathPosition, 100.0, 200.0, 10.0);
  Set(d.spawnPosition, 100.0 + east, 200.0 + north, 10.0);
  d.spawnHeading = 90.0;
  d.distance = std::hypot(east, north);
  d.searchOutcome = "search";
  return d;
}

sim::SeriesColumn Column(std::int64_t first, float fill, std::uint32_t calls,
                         sim::FlowPhase phase = sim::FlowPhase::Watching) {
  sim::SeriesColumn c;
  c.firstFrame = first;
  c.frames = 1;
  c.maxFill = fill;
  c.maxCalls = calls;
  c.calls = calls;
  c.phaseFrames[static_cast<std::size_t>(phase)] = 1;
  return c;
}

TEST(ReportMaps, PlaceTwoDeathsAroundTheirPlaceOfDeath) {
  // The first placed 50 m north, within the view; the second 2 km east, past
  // the farthest the view reaches (800 m), so drawn at the edge.
  const std::vector<DeathRecord> deaths = {Death(100, 0.0, 50.0), Death(700, 2000.0, 0.0)};
  const std::vector<sim::RoadNode> nodes = {{{110.0F, 200.0F, 10.0F}}, {{5000.0F, 200.0F, 0.0F}}};
  std::ostringstream out;
  sim::report::WriteMaps(out, deaths, 2, nodes);
  const std::string page = out.str();
  EXPECT_EQ(test::CountOf(page, "<figure class=\"map\">"), 2U);
  // 330 m to the edge: 178 / 330 map units a metre, north up.
  EXPECT_TRUE(Has(page, "<circle class=\"placed\" cx=\"200.0\" cy=\"173.0\""));
  EXPECT_TRUE(Has(page, "<b>Death 1</b>, frame 100: placed 50.0 m away (search)"));
  EXPECT_TRUE(Has(page,
                  "<rect x=\"202.4\" y=\"197.0\" width=\"6\" height=\"6\">"
                  "<title>road node (110.0, 200.0, 10.0)</title>"));
  // 800 m to the edge, and the point held 11 units inside it.
  EXPECT_TRUE(Has(page, "<circle class=\"placed\" cx=\"389.0\" cy=\"200.0\""));
  EXPECT_TRUE(Has(page, "x=\"381.0\" y=\"204.0\" text-anchor=\"end\">placed 2000 m away</text>"));
  EXPECT_TRUE(Has(page,
                  "<b>Death 2</b>, frame 700: placed 2000.0 m away (search); 1 road "
                  "node lies off the map."));
  EXPECT_FALSE(Has(page, "later deaths are not mapped"));
}

TEST(ReportMaps, MapNoMoreThanTwelveDeaths) {
  const std::vector<DeathRecord> deaths(14, Death(10, 0.0, 50.0));
  std::ostringstream out;
  sim::report::WriteMaps(out, deaths, 20, {});
  EXPECT_EQ(test::CountOf(out.str(), "<figure class=\"map\">"), 12U);
  EXPECT_TRUE(Has(out.str(), "8 later deaths are not mapped."));
}

TEST(ReportMaps, NaNAndInfinitePositionsDrawAtTheCentreAndReadAsDashes) {
  DeathRecord d = Death(5, 0.0, 50.0);
  Set(d.deathPosition, kNaN, 200.0, kInf);
  d.chosen = true;
  Set(d.chosenPoint, kInf, -kInf, 0.0);
  std::ostringstream out;
  sim::report::WriteDeathMap(out, d, 1, {{{kNaN, 0.0F, 0.0F}}});
  const std::string map = out.str();
  EXPECT_FALSE(Has(map, "nan"));
  EXPECT_FALSE(Has(map, "inf"));
  EXPECT_TRUE(Has(map, "<title>place of death (—, 200.0, —)</title>"));
  EXPECT_TRUE(Has(map, "<title>point chosen (—, —, 0.0)</title>"));
}

TEST(ReportDeaths, TableCellsForARespawnAndForADeathNotYetOver) {
  DeathRecord respawned = Death(100, 30.0, 40.0);
  respawned.shardFrame = 130;
  respawned.taps = 3;
  respawned.spawnHeading = kNaN;
  DeathRecord open;
  open.deathFrame = 400;
  Set(open.deathPosition, 1.26, -2.0, 0.0);
  std::ostringstream out;
  sim::report::WriteDeathTable(out, {respawned, open}, 5, 1000.0 / 60.0);
  const std::string table = out.str();
  EXPECT_TRUE(Has(table,
                  "<tr><td>1</td><td class=\"num\">100</td><td class=\"num\">130</td>"
                  "<td class=\"num\">—</td><td class=\"num\">180</td><td class=\"num\">190"
                  "</td><td>90 frames (1.50 s)</td><td class=\"num\">3</td>"
                  "<td>(100.0, 200.0, 10.0)</td><td>(130.0, 240.0, 10.0)</td>"
                  "<td class=\"num\">—</td><td class=\"num\">50.0 m</td><td>search</td>"));
  EXPECT_TRUE(Has(table, "<tr><td>2</td><td class=\"num\">400</td>"));
  EXPECT_TRUE(Has(table, "<td>(1.3, -2.0, 0.0)</td><td>—</td><td>—</td><td>—</td><td>—</td>"));
  EXPECT_TRUE(Has(table, "3 later deaths are left out of this table."));
}

TEST(ReportDeaths, NoDeathNoTable) {
  std::ostringstream out;
  sim::report::WriteDeathTable(out, {}, 0, 16.0);
  EXPECT_EQ(out.str(),
            "<section id=\"deaths\"><h2>Deaths and respawns</h2>\n"
            "<p>No death was taken over in this run.</p></section>\n");
}

TEST(ReportTimeline, RowsOfBandsPlotsMarksAndKeyFrames) {
  // Five frames over 1094 units from x = 76: 218.8 a frame.
  const std::vector<sim::SeriesColumn> columns = {
      Column(0, -1.0F, 2), Column(1, 50.0F, 7, sim::FlowPhase::BarFilling),
      Column(2, 100.0F, 3, sim::FlowPhase::BarFilling), Column(3, -1.0F, 1), Column(4, -1.0F, 1)};
  const std::vector<sim::RunMark> marks = {{1, sim::MarkKind::Death}, {3, sim::MarkKind::Tap}};
  std::vector<sim::RecordedFrame> frames(2);
  frames[0].frame = 1;
  frames[1].frame = 2;
  frames[1].key = "Bar <full>";
  std::ostringstream out;
  sim::report::WriteTimeline(out, {columns, 1, 5, marks, 0, frames, 60.0});
  const std::string tl = out.str();
  EXPECT_TRUE(Has(tl, "data-left=\"76.0\" data-width=\"1094.0\" data-frames=\"5\""));
  EXPECT_TRUE(Has(tl,
                  "<rect class=\"band ph-barfilling\" x=\"294.8\" y=\"58.0\" width=\"437.6\" "
                  "height=\"260.0\"><title>BarFilling: frames 1–2</title></rect>"));
  EXPECT_EQ(test::CountOf(tl, "class=\"band"), 1U);
  // The fill at each column's middle: 50 % halfway down the 150 high plot.
  EXPECT_TRUE(Has(tl, "<path class=\"fill\" d=\"M404.2,133.0L623.0,58.0\"/>"));
  EXPECT_FALSE(Has(tl, "class=\"fade\""));
  EXPECT_FALSE(Has(tl, "calls-avg"));
  // The calls' scale rounds 7 up to 10.
  EXPECT_TRUE(Has(tl, "text-anchor=\"end\">10</text>"));
  EXPECT_TRUE(Has(tl, "<title>death, frame 1</title><path d=\"M398.2,10.0L410.2,10.0L404.2,22.0Z"));
  EXPECT_TRUE(Has(tl, "<title>tap, frame 3</title><line x1=\"841.8\" x2=\"841.8\""));
  EXPECT_TRUE(Has(tl,
                  "<path data-i=\"1\" d=\"M623.0,317.0l4,6l-4,6l-4,-6Z\">"
                  "<title>Key frame 2: Bar &lt;full&gt;</title>"));
  EXPECT_EQ(test::CountOf(tl, "data-i="), 1U);
}

TEST(ReportTimeline, AFadeClosesAtTheFirstClearColumnOrTheEnd) {
  std::vector<sim::SeriesColumn> columns = {Column(0, -1.0F, 0), Column(1, -1.0F, 0),
                                            Column(2, -1.0F, 0), Column(3, -1.0F, 0)};
  columns[1].maxFade = 1.0F;
  columns[3].maxFade = 0.5F;
  std::ostringstream out;
  sim::report::WriteTimeline(out, {columns, 2, 4, {}, 12, {}, 60.0});
  const std::string tl = out.str();
  EXPECT_TRUE(Has(tl,
                  "<path class=\"fade\" d=\"M349.5,208.0L349.5,58.0L623.0,58.0L623.0,208.0Z"
                  "M896.5,208.0L896.5,133.0L1170.0,133.0L1170.0,208.0Z\"/>"));
  EXPECT_TRUE(Has(tl, "calls-avg"));
  EXPECT_TRUE(Has(tl, "Each column of the plots covers 2 frames"));
  EXPECT_TRUE(Has(tl, " 12 later marks (taps, deaths, starts, unloads) are left out"));
}

TEST(ReportEscaping, HostileTextIsEscapedEverywhereItIsShown) {
  sim::Timeline timeline;
  timeline.Add({-1, 5, "a\"b", "<img src=x onerror=alert(1)>&\x01"});
  std::ostringstream events;
  sim::report::WriteEvents(events, timeline);
  EXPECT_TRUE(Has(events.str(),
                  "<tr><td class=\"num\">load</td><td class=\"num\">5</td>"
                  "<td class=\"cat cat-a&quot;b\">a&quot;b</td>"
                  "<td>&lt;img src=x onerror=alert(1)&gt;&amp;</td></tr>"));

  std::vector<sim::RecordedFrame> frames(1);
  frames[0].key = "</script><script>alert(1)</script>";
  std::ostringstream data;
  sim::report::WriteFrameData(data, sim::Scenario{}, frames, nullptr);
  EXPECT_EQ(test::CountOf(data.str(), "</script>"), 1U);
  EXPECT_TRUE(Has(data.str(), "\"k\":\"\\u003c/script>\\u003cscript>alert(1)\\u003c/script>\""));

  sim::Scenario scenario;
  scenario.name = "<b>bold</b>";
  std::ostringstream head;
  sim::report::WriteSummary(head, scenario, sim::RunSummary{}, false);
  EXPECT_TRUE(Has(head.str(), "<title>Rebound run: &lt;b&gt;bold&lt;/b&gt;</title>"));
}

TEST(ReportSummary, CarriesTheStyleSheetAndTheSeedThatReplaysTheRun) {
  sim::Scenario scenario;
  scenario.fileName = "scenarios/plain-death.json";
  sim::RunSummary summary;
  summary.frames = 600;
  summary.gameTimeMs = 10000;
  summary.nativeCalls = 1500;
  summary.seeding = sim::Seeding::Seeded;
  summary.seed = 424242;
  std::ostringstream out;
  sim::report::WriteSummary(out, scenario, summary, true);
  const std::string head = out.str();
  EXPECT_EQ(sim::ReportStyle().substr(0, 6), ":root ");
  EXPECT_TRUE(Has(head, "<style>\n" + std::string(sim::ReportStyle()) + "</style>"));
  EXPECT_TRUE(Has(head,
                  "600 frames at 60 fps (10.00 s of game time) from game time 100000 · "
                  "1500 native calls (2.5 per frame"));
  EXPECT_TRUE(Has(head,
                  "<code>rebound-sim --scenario scenarios/plain-death.json --seed 424242"
                  "</code> replays this run."));
  EXPECT_FALSE(Has(head, "contradicted itself"));
}

TEST(ReportSummary, TheBuiltInScenarioReplaysWithoutScenario) {
  sim::RunSummary summary;
  summary.seeding = sim::Seeding::Seeded;
  summary.seed = 7;
  std::ostringstream out;
  sim::report::WriteSummary(out, sim::Scenario::Default(), summary, true);
  EXPECT_TRUE(Has(out.str(), "<code>rebound-sim --seed 7</code> replays this run.")) << out.str();
}

TEST(ReportSummary, SaysWhenTheWorldContradictedItself) {
  sim::RunSummary summary;
  summary.searchesMiscounted = 2;
  std::ostringstream out;
  sim::report::WriteSummary(out, sim::Scenario::Default(), summary, true);
  EXPECT_TRUE(Has(out.str(),
                  "The scenario's world contradicted itself: 2 spawn searches reported more "
                  "results than it held"));
}

// The frame a run stopped in is a key frame of its own, before any death
// too, with what was wrong and the call, escaped; the viewer's data carries
// both.
TEST(ReportFault, TheFrameARunStoppedInShowsTheReasonAndTheCall) {
  std::vector<sim::RecordedFrame> frames(2);
  frames[0].frame = 3;
  frames[0].key = "Bar shown at 0 %";
  frames[0].death = 1;
  frames[1].frame = 5;
  frames[1].key = "The run stopped at a fault";
  frames[1].fault = "DRAW_SPRITE of \"<x>\" from texture dictionary \"d\", which is not loaded";
  frames[1].refused = "DRAW_SPRITE(\"d\", \"<x>\", 0.5)";
  const sim::report::KeptFrames kept{frames, 2, 1, 0};
  std::ostringstream keys;
  sim::report::WriteKeyFrames(keys, kept);
  const std::string section = keys.str();
  EXPECT_TRUE(Has(section, "<h3>Death 1</h3>"));
  EXPECT_TRUE(Has(section, "<h3>Before any death</h3>")) << section;
  EXPECT_FALSE(Has(section, "Death 0"));
  EXPECT_TRUE(Has(section,
                  "<figure class=\"key stopped\" data-i=\"1\" tabindex=\"0\">"
                  "<div class=\"thumb\"></div><div class=\"thumb-inset\"></div><figcaption>"
                  "<b>Frame 5</b> The run stopped at a fault: DRAW_SPRITE of &quot;&lt;x&gt;"
                  "&quot; from texture dictionary &quot;d&quot;, which is not loaded <code>"
                  "DRAW_SPRITE(&quot;d&quot;, &quot;&lt;x&gt;&quot;, 0.5)</code></figcaption>"))
      << section;
  EXPECT_TRUE(Has(section, "<figure class=\"key\" data-i=\"0\""));

  std::ostringstream data;
  sim::report::WriteFrameData(data, sim::Scenario{}, frames, nullptr);
  EXPECT_TRUE(Has(data.str(), "\"r\":\"DRAW_SPRITE(\\\"d\\\", \\\"\\u003cx>\\\", 0.5)\""))
      << data.str();
  EXPECT_EQ(test::CountOf(data.str(), "\"x\":"), 1U);

  sim::RunSummary summary;
  summary.fault = "frame 5 (game time 100083): " + frames[1].fault;
  summary.faultCall = frames[1].refused;
  summary.faultCallIndex = 4;
  std::ostringstream head;
  sim::report::WriteSummary(head, sim::Scenario::Default(), summary, true);
  EXPECT_TRUE(Has(head.str(),
                  "<p class=\"fault\">The run stopped: frame 5 (game time 100083): DRAW_SPRITE "
                  "of &quot;&lt;x&gt;&quot; from texture dictionary &quot;d&quot;, which is not "
                  "loaded<br>The call it stopped at (the frame's call 4, counted from 0): <code>"
                  "DRAW_SPRITE(&quot;d&quot;, &quot;&lt;x&gt;&quot;, 0.5)</code></p>"))
      << head.str();
}

}  // namespace
