// The dispatch table that joins the natives table to the handlers the world's
// areas register by name: every native is answered on purpose, a mistyped or
// repeated name stops the start-up, and each argument slot is checked by kind.
#include "sim/host/native_dispatch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/game/world.h"

namespace {

using sim::ArgKind;
using sim::HandlerRegistry;
using sim::HandlerTableError;
using sim::NativeDispatch;
using sim::NativeSignature;

void Noop(sim::World& /*world*/, sim::CallFrame& /*call*/) {}

HandlerRegistry WorldRegistry() {
  HandlerRegistry registry;
  sim::World::RegisterHandlers(registry);
  return registry;
}

const NativeSignature& FirstAnsweredByDefault() {
  for (const NativeSignature& n : sim::NativeTable()) {
    if (n.answeredByDefault) return n;
  }
  throw std::logic_error("no native is answered by default");
}

TEST(NativeDispatch, AnswersEveryNativeOfTheTable) {
  const NativeDispatch& dispatch = sim::WorldDispatch();
  EXPECT_EQ(dispatch.Size(), sim::NativeTable().size());
  EXPECT_GE(dispatch.Capacity(), 2 * dispatch.Size()) << "the table must stay at most half full";
  for (const NativeSignature& n : sim::NativeTable()) {
    SCOPED_TRACE(n.name);
    const sim::NativeEntry* e = dispatch.Find(n.hash);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->signature, &n);
    EXPECT_EQ(e->argCount, n.args.size());
    EXPECT_EQ(e->handler == &sim::AnswerNeutrally, n.answeredByDefault)
        << "a handler of its own exactly when the table does not leave the native to the default";
  }
  for (std::uint64_t unknown : {std::uint64_t{0}, ~std::uint64_t{0}, std::uint64_t{0x1234}}) {
    EXPECT_EQ(dispatch.Find(unknown), nullptr);
  }
}

struct BadRegistry {
  const char* what;
  std::function<HandlerRegistry()> build;
  std::string expected;  // part of the message
};

void PrintTo(const BadRegistry& b, std::ostream* os) { *os << b.what; }

class BadRegistries : public ::testing::TestWithParam<BadRegistry> {};

TEST_P(BadRegistries, StopTheStartUpNamingTheNative) {
  const BadRegistry& b = GetParam();
  try {
    NativeDispatch dispatch(sim::NativeTable(), b.build());
    FAIL() << "the dispatch table was built";
  } catch (const HandlerTableError& e) {
    EXPECT_NE(std::string(e.what()).find(b.expected), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Registrations, BadRegistries,
    ::testing::Values(BadRegistry{"duplicate",
                                  [] {
                                    HandlerRegistry r = WorldRegistry();
                                    r.Add("PLAYER_PED_ID", Noop);
                                    return r;
                                  },
                                  "PLAYER_PED_ID has more than one handler"},
                      BadRegistry{"unknown_name",
                                  [] {
                                    HandlerRegistry r = WorldRegistry();
                                    r.Add("PLAYER_PED_IDD", Noop);
                                    return r;
                                  },
                                  "PLAYER_PED_IDD, which is not in the natives table"},
                      BadRegistry{"missing_handler",
                                  [] {
                                    HandlerRegistry r;
                                    const HandlerRegistry world = WorldRegistry();
                                    for (const auto& e : world.Entries()) {
                                      if (e.native != "GET_GAME_TIMER") r.Add(e.native, e.handler);
                                    }
                                    return r;
                                  },
                                  "GET_GAME_TIMER has no handler"},
                      BadRegistry{"handler_for_a_default_native",
                                  [] {
                                    HandlerRegistry r = WorldRegistry();
                                    r.Add(FirstAnsweredByDefault().name, Noop);
                                    return r;
                                  },
                                  FirstAnsweredByDefault().name + " has a handler"},
                      BadRegistry{"null_handler",
                                  [] {
                                    HandlerRegistry r;
                                    const HandlerRegistry world = WorldRegistry();
                                    for (const auto& e : world.Entries()) {
                                      r.Add(e.native, e.native == "VDIST" ? nullptr : e.handler);
                                    }
                                    return r;
                                  },
                                  "VDIST is null"}),
    [](const ::testing::TestParamInfo<BadRegistry>& param) { return param.param.what; });

TEST(NativeDispatch, NamesEveryMismatchAtOnce) {
  HandlerRegistry r = WorldRegistry();
  r.Add("NOT_A_NATIVE", Noop);
  r.Add("VDIST", Noop);
  try {
    NativeDispatch dispatch(sim::NativeTable(), r);
    FAIL() << "the dispatch table was built";
  } catch (const HandlerTableError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("NOT_A_NATIVE"), std::string::npos) << message;
    EXPECT_NE(message.find("VDIST has more than one handler"), std::string::npos) << message;
  }
}

TEST(NativeDispatch, RefusesAHashListedTwice) {
  const std::vector<NativeSignature> table = {
      {0x1111, "FIRST", {}, sim::ResultKind::None, true, false, {}},
      {0x1111, "SECOND", {}, sim::ResultKind::None, true, false, {}},
  };
  EXPECT_THROW(NativeDispatch(table, HandlerRegistry{}), HandlerTableError);
}

// Each kind's edges: the last value it accepts and the first it refuses.
struct SlotCase {
  ArgKind kind;
  std::vector<std::uint64_t> accepted;
  std::vector<std::uint64_t> refused;
};

TEST(NativeDispatch, SlotChecksFollowTheArgumentKinds) {
  constexpr std::uint64_t kHigh = std::uint64_t{1} << 32;
  const SlotCase cases[] = {
      {ArgKind::Int, {0, 0xFFFFFFFF}, {kHigh, kHigh | 5, ~std::uint64_t{0}}},
      {ArgKind::Float, {0, 0x3F800000, 0xFFFFFFFF}, {kHigh}},
      {ArgKind::Bool, {0, 1}, {2, 0xFFFFFFFF, kHigh | 1}},
      {ArgKind::Text, {1, 0x7FFF0000, ~std::uint64_t{0}}, {0}},
      {ArgKind::TextOrNull, {0, 1, ~std::uint64_t{0}}, {}},
      {ArgKind::OutInt, {8}, {0}},
      {ArgKind::OutFloat, {8}, {0}},
      {ArgKind::OutVector, {8}, {0}},
      {ArgKind::InOutInt, {8}, {0}},
  };
  for (const SlotCase& c : cases) {
    SCOPED_TRACE(std::string(sim::ArgKindName(c.kind)));
    // A native of one Int slot before the slot under test, so that a check
    // reading the wrong slot would show.
    const std::vector<NativeSignature> table = {
        {0x42, "PROBE", {ArgKind::Int, c.kind}, sim::ResultKind::None, true, false, {}}};
    const NativeDispatch dispatch(table, HandlerRegistry{});
    const sim::NativeEntry* e = dispatch.Find(0x42);
    ASSERT_NE(e, nullptr);
    for (std::uint64_t v : c.accepted) {
      const std::uint64_t slots[] = {7, v};
      EXPECT_TRUE(e->Accepts(slots)) << std::hex << v;
    }
    for (std::uint64_t v : c.refused) {
      const std::uint64_t slots[] = {7, v};
      EXPECT_FALSE(e->Accepts(slots)) << std::hex << v;
    }
    const std::uint64_t badFirst[] = {kHigh, c.accepted.front()};
    EXPECT_FALSE(e->Accepts(badFirst)) << "the first slot is checked too";
  }
}

}  // namespace
