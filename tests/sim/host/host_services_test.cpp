// The host's services' own state, without a plug-in: the scenario's service
// fields and their mistakes, the handle lists as the worldGetAll functions
// copy them, the global slots, the present callbacks' registrations, and the
// textures shown frame by frame. services_test.py runs them through a module.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sim/host/host_services.h"
#include "sim/host/scenario.h"

namespace {

// Test doubles: two present callbacks that do nothing.
void FirstCallback(void* /*swapChain*/) {}
void SecondCallback(void* /*swapChain*/) {}

std::string ServicesErrorOf(std::string_view json) {
  try {
    sim::Scenario::Parse("services.json", json);
  } catch (const sim::ScenarioError& e) {
    return e.what();
  }
  return "(no error)";
}

sim::TextureInstance Instance(std::int32_t id, std::int32_t index, std::int32_t level,
                              std::int64_t drawnFrame, std::int64_t untilMs) {
  sim::TextureInstance t;
  t.id = id;
  t.index = index;
  t.level = level;
  t.drawnFrame = drawnFrame;
  t.untilMs = untilMs;
  t.sizeX = 0.2F;
  t.sizeY = 0.1F;
  return t;
}

std::vector<std::string> Shown(sim::TextureBoard& board, std::int64_t frame, std::int64_t nowMs) {
  std::vector<std::string> entries;
  for (const sim::DrawItem& item : board.FrameItems(frame, nowMs)) entries.push_back(item.entry);
  return entries;
}

TEST(ServiceSettings, DefaultsNameBuild3411AndNothingElse) {
  const sim::Scenario s = sim::Scenario::Parse("empty.json", "{}");
  EXPECT_EQ(s.services.gameVersion, 93);
  EXPECT_TRUE(s.services.globals.empty());
  for (const auto& list : s.services.entities) EXPECT_TRUE(list.empty());
  EXPECT_FALSE(s.services.presentCallbacks);
}

TEST(ServiceSettings, ReadsEveryField) {
  const sim::Scenario s = sim::Scenario::Parse("s.json", R"({"gameVersion": 1013,
    "globals": {"0": -1, "262145": 5},
    "entities": {"vehicles": [3, 2], "peds": [9], "objects": [4], "pickups": [8]},
    "presentCallbacks": true})");
  EXPECT_EQ(s.services.gameVersion, 1013);
  EXPECT_EQ(s.services.globals, (std::map<std::int32_t, std::int64_t>{{0, -1}, {262145, 5}}));
  EXPECT_EQ(s.services.entities[0], (std::vector<std::int32_t>{3, 2}));  // in file order
  EXPECT_EQ(s.services.entities[1], (std::vector<std::int32_t>{9}));
  EXPECT_EQ(s.services.entities[2], (std::vector<std::int32_t>{4}));
  EXPECT_EQ(s.services.entities[3], (std::vector<std::int32_t>{8}));
  EXPECT_TRUE(s.services.presentCallbacks);
}

TEST(ServiceSettings, MistakesNameTheirLineAndField) {
  const struct {
    const char* json;
    const char* expected;
  } cases[] = {
      {"{\n\"gameVersion\": -2}", "services.json:2: field 'gameVersion'"},
      {"{\n\"gameVersion\": 2147483648}", "field 'gameVersion'"},
      {"{\"globals\": [1]}", "field 'globals'"},
      {"{\"globals\": {\"07\": 1}}", "field 'globals.07'"},
      {"{\"globals\": {\"x\": 1}}", "field 'globals.x'"},
      {"{\"globals\": {\"1\": 1.5}}", "field 'globals.1'"},
      {"{\"entities\": {\"peds\": [-1]}}", "field 'entities.peds[0]'"},
      {"{\"entities\": {\"peds\": [5, 5]}}", "field 'entities.peds[1]': handle 5 is listed twice"},
      {"{\"entities\": {\"peds\": [5], \"pickups\": [5]}}", "field 'entities.pickups[0]'"},
      {"{\"entities\": {\"cars\": [5]}}", "'entities.cars'"},
      {"{\"entities\": [5]}", "field 'entities'"},
      {"{\"presentCallbacks\": \"yes\"}", "field 'presentCallbacks'"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(ServicesErrorOf(c.json).find(c.expected), std::string::npos)
        << c.json << " gave: " << ServicesErrorOf(c.json);
  }
}

TEST(CopyHandles, WritesAtMostTheRoomGivenAndAnswersTheCount) {
  const std::vector<std::int32_t> handles{11, 12, 13};
  const struct {
    std::int32_t size;
    std::int32_t written;
    std::vector<std::int32_t> array;  // after the call, from {-1, -1, -1, -1}
  } cases[] = {
      {4, 3, {11, 12, 13, -1}},  {3, 3, {11, 12, 13, -1}},
      {2, 2, {11, 12, -1, -1}},  {0, 0, {-1, -1, -1, -1}},
      {-1, 0, {-1, -1, -1, -1}}, {std::numeric_limits<std::int32_t>::min(), 0, {-1, -1, -1, -1}},
  };
  for (const auto& c : cases) {
    std::vector<std::int32_t> array{-1, -1, -1, -1};
    EXPECT_EQ(sim::CopyHandles(handles, array.data(), c.size), c.written) << c.size;
    EXPECT_EQ(array, c.array) << c.size;
  }
  EXPECT_EQ(sim::CopyHandles(handles, nullptr, 3), 0);
}

TEST(GlobalSlots, GiveOneStableSlotPerIdZeroedUnlessPreset) {
  sim::GlobalSlots slots({{1234, 5}, {7, -2}});
  std::uint64_t* preset = slots.Slot(1234);
  EXPECT_EQ(*preset, 5U);
  EXPECT_EQ(*slots.Slot(7), static_cast<std::uint64_t>(-2));
  std::uint64_t* fresh = slots.Slot(99);
  EXPECT_EQ(*fresh, 0U);
  *fresh = 42;
  // Many more slots later, the first ones have not moved.
  for (std::int32_t id = 1000; id < 1200; ++id) slots.Slot(id);
  EXPECT_EQ(slots.Slot(1234), preset);
  EXPECT_EQ(slots.Slot(99), fresh);
  const auto values = slots.Values();
  ASSERT_EQ(values.size(), 203U);
  EXPECT_EQ(values.front(), (std::pair<std::int32_t, std::int64_t>{7, -2}));
  EXPECT_EQ(values[1], (std::pair<std::int32_t, std::int64_t>{99, 42}));
}

TEST(PresentCallbacks, RegisterOnceAndUnregisterOnlyWhatIsRegistered) {
  sim::PresentCallbacks callbacks;
  EXPECT_STREQ(callbacks.Register(nullptr), "presentCallbackRegister with a null callback");
  EXPECT_EQ(callbacks.Register(&FirstCallback), nullptr);
  EXPECT_STREQ(callbacks.Register(&FirstCallback),
               "presentCallbackRegister with a callback that is registered already");
  EXPECT_EQ(callbacks.Register(&SecondCallback), nullptr);
  EXPECT_EQ(callbacks.All(), (std::vector<sim::PresentCallback>{&FirstCallback, &SecondCallback}));
  EXPECT_EQ(callbacks.Unregister(&FirstCallback), nullptr);
  EXPECT_STREQ(callbacks.Unregister(&FirstCallback),
               "presentCallbackUnregister with a callback that is not registered");
  EXPECT_EQ(callbacks.All(), (std::vector<sim::PresentCallback>{&SecondCallback}));
  EXPECT_EQ(callbacks.Unregister(&SecondCallback), nullptr);
  EXPECT_FALSE(callbacks.Any());
}

TEST(TextureBoard, GivesIncreasingIdsThatAReloadFreesForGood) {
  sim::TextureBoard board;
  EXPECT_EQ(board.Create("a.png"), 0);
  EXPECT_EQ(board.Create("a.png"), 1);  // one per call, even for the same file
  EXPECT_TRUE(board.Known(1));
  EXPECT_FALSE(board.Known(2));
  EXPECT_FALSE(board.Known(-1));
  board.Draw(Instance(0, 0, 0, 5, 10'000));
  board.FreeAll();
  EXPECT_FALSE(board.AnyShown());
  EXPECT_FALSE(board.Known(0));
  EXPECT_TRUE(board.Freed(1));
  EXPECT_EQ(board.Create("b.png"), 2);
  EXPECT_TRUE(board.Known(2));
  EXPECT_FALSE(board.Freed(2));
  EXPECT_EQ(board.File(2), "b.png");
}

TEST(TextureBoard, ShowsAnInstanceInItsFrameAndUntilItsTimeIsUp) {
  sim::TextureBoard board;
  board.Create("a.png");
  // Drawn in frame 10 at 1000 ms for 50 ms: shown at 1000, 1016, 1033 and
  // 1049, gone at 1050. Time 0 still shows it in the frame it was drawn.
  board.Draw(Instance(0, 0, 0, 10, 1050));
  const struct {
    std::int64_t frame;
    std::int64_t nowMs;
    std::size_t shown;
  } cases[] = {{10, 1000, 1}, {11, 1016, 1}, {13, 1049, 1}, {14, 1050, 0}, {15, 1066, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(board.FrameItems(c.frame, c.nowMs).size(), c.shown) << c.frame;
  }
  EXPECT_FALSE(board.AnyShown());  // dropped once its time was up
  board.Draw(Instance(0, 1, 0, 20, 2000));
  EXPECT_EQ(board.FrameItems(20, 2000).size(), 1U);
  EXPECT_EQ(board.FrameItems(21, 2016).size(), 0U);
}

TEST(TextureBoard, DrawsLowerLevelsFirstThenByIdAndIndex) {
  sim::TextureBoard board;
  board.Create("a.png");
  board.Create("b.png");
  board.Draw(Instance(1, 0, 2, 0, 100));
  board.Draw(Instance(0, 5, 2, 0, 100));
  board.Draw(Instance(1, 3, -1, 0, 100));
  board.Draw(Instance(0, 1, 2, 0, 100));
  EXPECT_EQ(
      Shown(board, 0, 0),
      (std::vector<std::string>{"texture 1 instance 3 level -1", "texture 0 instance 1 level 2",
                                "texture 0 instance 5 level 2", "texture 1 instance 0 level 2"}));
  // Drawing an instance again updates it in place.
  board.Draw(Instance(0, 5, -5, 0, 100));
  EXPECT_EQ(Shown(board, 0, 0).front(), "texture 0 instance 5 level -5");
  EXPECT_EQ(Shown(board, 0, 0).size(), 4U);
}

TEST(TextureBoard, PlacesTheItemByItsMiddleFromThePositionOfItsCentrePoint) {
  sim::TextureBoard board;
  board.Create("C:\\mods\\x.png");
  sim::TextureInstance t = Instance(0, 0, 0, 0, 100);
  t.sizeX = 0.4F;
  t.sizeY = 0.2F;
  t.centerX = 0.0F;  // the top-left corner at the position
  t.centerY = 0.0F;
  t.posX = 0.1F;
  t.posY = 0.7F;
  t.rotation = 0.25F;
  t.colour = sim::ColourOfFractions(1.0F, 0.5F, 0.0F, 2.0F);
  board.Draw(t);
  const std::vector<sim::DrawItem> items = board.FrameItems(0, 0);
  ASSERT_EQ(items.size(), 1U);
  const sim::DrawItem& item = items[0];
  EXPECT_EQ(item.kind, sim::DrawKind::Texture);
  EXPECT_FLOAT_EQ(item.x, 0.3F);
  EXPECT_FLOAT_EQ(item.y, 0.8F);
  EXPECT_FLOAT_EQ(item.width, 0.4F);
  EXPECT_FLOAT_EQ(item.height, 0.2F);
  EXPECT_FLOAT_EQ(item.heading, 90.0F);
  EXPECT_EQ(item.texture, "C:\\mods\\x.png");
  EXPECT_EQ(item.colour, (sim::Colour{255, 128, 0, 255}));  // clamped to 0..1
}

TEST(TextureColour, TakesFractionsClampedAndNaNAsZero) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(sim::ColourOfFractions(nan, -1.0F, 0.2F, std::numeric_limits<float>::infinity()),
            (sim::Colour{0, 0, 51, 0}));
}

}  // namespace
