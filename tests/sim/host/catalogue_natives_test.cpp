// Natives of a user's catalogue that the game's table lacks: answered with
// their result's default whether or not the run is traced, their slots
// checked, their calls and argument-count mismatches counted.
#include "sim/host/catalogue_natives.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "sim/host/simulation.h"
#include "src/host/host_api.h"
#include "tests/support/sim_harness.h"

namespace {

const std::uint64_t kPedIdHash = sim::FindNativeByName("PLAYER_PED_ID")->hash;
const std::uint64_t kEntityCoordsHash = sim::FindNativeByName("GET_ENTITY_COORDS")->hash;

// One native per kind of result, and one taking a BOOL and a float out-variable.
constexpr const char* kCatalogue = R"({"TEST": {
  "0x0000000000000A01": {"name": "T_INT", "params": [], "return_type": "Hash"},
  "0x0000000000000A02": {"name": "T_FLOAT", "params": [], "return_type": "float"},
  "0x0000000000000A03": {"name": "T_VECTOR", "params": [], "return_type": "Vector3"},
  "0x0000000000000A04": {"name": "T_BOOL", "params": [], "return_type": "BOOL"},
  "0x0000000000000A05": {"name": "T_TEXT", "params": [], "return_type": "const char*"},
  "0x0000000000000A06": {"name": "T_VOID", "params": [], "return_type": "void"},
  "0x0000000000000A07": {"name": "T_FLAG", "params": [{"type": "BOOL", "name": "on"},
      {"type": "float*", "name": "out"}], "return_type": "Any*"}
}})";

sim::CatalogueNatives TestCatalogue() {
  return sim::CatalogueNatives(sim::ParseNativesCatalogue("natives.json", kCatalogue));
}

// Where the player stands: the vector answer fills three result slots.
constexpr const char* kScenario = R"({"frames": 4, "player": {"position": [1, 2, 3]}})";

// The result slots of a call, after a vector answer has filled them.
std::uint64_t* CallAfterVector(std::uint64_t hash, std::initializer_list<std::uint64_t> slots) {
  nativeInit(kPedIdHash);
  const std::uint64_t player = *nativeCall();
  nativeInit(kEntityCoordsHash);
  nativePush64(player);
  nativePush64(0);
  EXPECT_NE(nativeCall()[2], 0U) << "the player stands at a height of 0";
  nativeInit(hash);
  for (std::uint64_t slot : slots) nativePush64(slot);
  return nativeCall();
}

TEST(CatalogueNatives, AnswerTheDefaultOfTheirResultTracedOrNot) {
  for (const bool traced : {false, true}) {
    for (std::uint64_t hash = 0xA01; hash <= 0xA06; ++hash) {
      SCOPED_TRACE(std::to_string(hash) + (traced ? " traced" : " untraced"));
      sim::CatalogueNatives catalogue = TestCatalogue();
      sim::SimOptions options;
      options.recordTrace = traced;
      options.catalogue = &catalogue;
      sim::Simulation simulation(test::ScenarioFrom(kScenario), options);
      std::uint64_t result[4] = {9, 9, 9, 9};
      ASSERT_TRUE(test::RunOnce(
          simulation, [&] { std::memcpy(result, CallAfterVector(hash, {}), sizeof result); }, 2))
          << simulation.Fault();
      const bool text = hash == 0xA05;
      if (text) {
        EXPECT_STREQ(reinterpret_cast<const char*>(result[0]), "");
      }
      EXPECT_EQ(result[0] == 0, !text);
      EXPECT_EQ(result[1] | result[2] | result[3], 0U);
      EXPECT_EQ(catalogue.AnsweredCalls(), 1U);
    }
  }
}

TEST(CatalogueNatives, CountAnArgumentCountTheCatalogueDoesNotGiveOncePerNative) {
  sim::CatalogueNatives catalogue = TestCatalogue();
  sim::SimOptions options;
  options.catalogue = &catalogue;
  sim::Simulation simulation(test::ScenarioFrom(kScenario), options);
  float out = 0;
  const auto outSlot = reinterpret_cast<std::uintptr_t>(&out);
  ASSERT_TRUE(test::RunScript(simulation, [&](std::int64_t frame) {
    CallAfterVector(0xA07, {1, outSlot});  // as listed
    if (frame >= 1) CallAfterVector(0xA07, {1});
    if (frame >= 2) CallAfterVector(0xA07, {1, outSlot, 5});
  })) << simulation.Fault();
  EXPECT_EQ(catalogue.AnsweredCalls(), 4U + 3U + 2U);
  ASSERT_EQ(catalogue.Mismatches().size(), 1U);
  const sim::CatalogueNatives::CountMismatch& m = catalogue.Mismatches()[0];
  EXPECT_EQ(m.native->name, "T_FLAG");
  EXPECT_EQ(m.pushed, 1U);  // the first such call's
  EXPECT_EQ(m.firstFrame, 1);
  EXPECT_EQ(m.calls, 3U + 2U);
  const std::string warning =
      "warning: T_FLAG called with 1 argument, the catalogue gives it 2 (answered by default; "
      "warned once)";
  int notes = 0;
  for (const sim::TimelineEntry& e : simulation.GetWorld().timeline.Entries()) {
    notes += e.category == sim::kCatalogueNote && e.text == warning && e.frame == 1 ? 1 : 0;
  }
  EXPECT_EQ(notes, 1);
}

TEST(CatalogueNatives, RefuseASlotOutsideItsKind) {
  sim::CatalogueNatives catalogue = TestCatalogue();
  sim::SimOptions options;
  options.catalogue = &catalogue;
  sim::Simulation simulation(test::ScenarioFrom(kScenario), options);
  float out = 0;
  EXPECT_FALSE(test::RunOnce(
      simulation,
      [&] {
        CallAfterVector(0xA07, {2, reinterpret_cast<std::uintptr_t>(&out)});
      },
      2));
  EXPECT_EQ(simulation.Fault(),
            "frame 0 (game time 100000): native T_FLAG (0x0000000000000A07): argument 1 (bool) is "
            "2, not 0 or 1");
  EXPECT_EQ(catalogue.AnsweredCalls(), 0U);
}

}  // namespace
