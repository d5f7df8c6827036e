// Checks the simulated game's catalogue of natives: every native the plug-in
// calls is present exactly once, under the right hash, with the argument and
// result kinds the game documents.
#include "sim/native_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using sim::ArgKind;
using sim::FindNative;
using sim::NativeSignature;
using sim::NativeTable;
using sim::ResultKind;

std::string Render(const std::vector<ArgKind>& args) {
  std::string out;
  for (ArgKind kind : args) {
    if (!out.empty()) out += ", ";
    out += sim::ArgKindName(kind);
  }
  return "(" + out + ")";
}

std::string HashName(std::uint64_t hash) {
  char buffer[19];
  std::snprintf(buffer, sizeof buffer, "0x%016llX", static_cast<unsigned long long>(hash));
  return buffer;
}

// Every native hash the plug-in calls anywhere, copied from the game's
// documentation as the plug-in's design names them.
constexpr std::uint64_t kCalledHashes[] = {
    0x0145F696AAAAD2E4, 0x06843DA7060A026B, 0x07C837F9A01C34C9, 0x0DF606929C105BE1,
    0x11FE353CF9733E6F, 0x15D757606D170C3C, 0x17299B63C7683A2B, 0x1CA3E9EAC9D93E5E,
    0x1D132D614DD86811, 0x1D408577D440E81E, 0x1E0B4DC0D990A4E7, 0x202709F4C58A0424,
    0x25FBB336DF1804CB, 0x280C7E3AC7F56E90, 0x2A488C176D52CCA5, 0x2BDD44CC428A7EAE,
    0x2C2B3493FBF51C71, 0x2D03E13C460760D6, 0x2DF9038C90AD5264, 0x2ED7843F8F801023,
    0x32C62AA929C2DA6A, 0x362E2D3FE93A9959, 0x39FF19C64EF7DA5B, 0x3A618A217E5154F0,
    0x3C67506996001F5E, 0x3FEF770D40960D5A, 0x428CA6DBD1094446, 0x4A18E01DF2C87B86,
    0x4E096588B13FFECA, 0x4F8644AF03D0E0D6, 0x577D1284D6873711, 0x580417101DDB492F,
    0x5A7F62FDA59759BD, 0x5F9532F3B5CC2551, 0x63145D9C883A1A70, 0x66E0276CC5F6B9DA,
    0x6806C51AD12B83B8, 0x6B76DC1F3AE6E6A3, 0x6C188BE134E074AA, 0x71BC8E838B9C6035,
    0x7669F9E39DC17063, 0x797AC7CB535BA28F, 0x7B5280EBA9840C72, 0x7C9C91AB74A0360F,
    0x80338406F3475E55, 0x80C8B1846639BB19, 0x80CA6A8B6C094CC4, 0x84A2DD9AC37C35C1,
    0x85F01B8D5B90570E, 0x891B5B39AC6302AF, 0x8D8ACD8388CD99CE, 0x8E2530AA8ADA980E,
    0x95D2D383D5396B8A, 0x9CD27B0045628463, 0xA0EBB943C300E693, 0xA586FBEB32A53DBB,
    0xA6294919E56FF02A, 0xA635C11B8C44AFC2, 0xA6F312FCCE9C1DFE, 0xAA391C728106F7AF,
    0xAAA34F8A7CB32098, 0xB16FCE9DDC7BA182, 0xB4EDDC19532BFB85, 0xB8A850F20A067EB6,
    0xBE6B23FFA53FB442, 0xC0AA53F866B3134D, 0xC3D0841A0CC546A6, 0xC63CD5D2920ACBE7,
    0xC6796A8FFA375E53, 0xCA042B6957743895, 0xCD015E5BB0D96A57, 0xCEA04D83135264CC,
    0xD422FCC5F239A915, 0xD4E8E24955024033, 0xD80958FC74E988A6, 0xDA66D2796BA33F12,
    0xDFA2EF8E04127DD5, 0xE0A7D1E497FFCD6F, 0xE3A3DB414A373DAB, 0xE7FFAE5EBF23D890,
    0xEEF059FAD016D209, 0xF445DE8DA80A1792, 0xF5A2C681787E579D, 0xF6E48914C7A8694E,
    0xFC8202EFC642E6F2, 0xFEE4A5459472A9F8,
};

TEST(NativeTable, HoldsExactlyTheNativesThePluginCalls) {
  std::set<std::uint64_t> expected(std::begin(kCalledHashes), std::end(kCalledHashes));
  ASSERT_EQ(expected.size(), std::size(kCalledHashes)) << "the expected list repeats a hash";

  for (std::uint64_t hash : expected) {
    EXPECT_NE(FindNative(hash), nullptr) << "missing " << HashName(hash);
  }
  // No extra entry either: an entry with a mistyped hash would show up here.
  for (const NativeSignature& signature : NativeTable()) {
    EXPECT_TRUE(expected.count(signature.hash) == 1)
        << signature.name << " has unexpected hash " << HashName(signature.hash);
  }
  EXPECT_EQ(NativeTable().size(), expected.size());
}

TEST(NativeTable, HashesAndNamesAreUnique) {
  std::set<std::uint64_t> hashes;
  std::set<std::string_view> names;
  for (const NativeSignature& signature : NativeTable()) {
    EXPECT_TRUE(hashes.insert(signature.hash).second)
        << "hash " << HashName(signature.hash) << " listed twice";
    EXPECT_TRUE(names.insert(signature.name).second)
        << "name " << signature.name << " listed twice";
  }
}

TEST(NativeTable, NamesAreGameNamesOrTheirOwnHash) {
  for (const NativeSignature& signature : NativeTable()) {
    const std::string_view name = signature.name;
    ASSERT_FALSE(name.empty()) << HashName(signature.hash);
    if (name.substr(0, 2) == "0x") {
      // Natives known by hash alone are named by that same hash.
      EXPECT_EQ(name, HashName(signature.hash));
      continue;
    }
    for (char c : name) {
      EXPECT_TRUE(std::isupper(static_cast<unsigned char>(c)) ||
                  std::isdigit(static_cast<unsigned char>(c)) || c == '_')
          << name << " is not an upper-case game name";
    }
  }
}

TEST(NativeTable, FindNativeReturnsTheTableEntry) {
  for (const NativeSignature& signature : NativeTable()) {
    EXPECT_EQ(FindNative(signature.hash), &signature) << signature.name;
  }
}

TEST(NativeTable, FindNativeOfAnUnknownHashIsNull) {
  constexpr std::uint64_t kUnknown[] = {
      0x0000000000000000, 0xFFFFFFFFFFFFFFFF, 0x0000000074E988A6,
      0xD80958FC00000000,  // halves of PLAYER_PED_ID
      0xD80958FC74E988A7,  // PLAYER_PED_ID off by one
      0x4F8644AF03D0E0D5,  // PLAYER_ID off by one
  };
  for (std::uint64_t hash : kUnknown) {
    EXPECT_EQ(FindNative(hash), nullptr) << HashName(hash);
  }
}

// Representative signatures, written from the call sites' descriptions of
// what is pushed and what is read back.
struct ExpectedSignature {
  std::uint64_t hash;
  std::string_view name;
  std::vector<ArgKind> args;
  ResultKind result;
};

TEST(NativeTable, RepresentativeSignatures) {
  using enum ArgKind;
  const ExpectedSignature cases[] = {
      {0xD80958FC74E988A6, "PLAYER_PED_ID", {}, ResultKind::Int},
      {0x3FEF770D40960D5A, "GET_ENTITY_COORDS", {Int, Bool}, ResultKind::Vector},
      {0x06843DA7060A026B,
       "SET_ENTITY_COORDS",
       {Int, Float, Float, Float, Bool, Bool, Bool, Bool},
       ResultKind::None},
      {0x5F9532F3B5CC2551, "IS_ENTITY_DEAD", {Int, Bool}, ResultKind::Bool},
      {0x2A488C176D52CCA5, "VDIST", {Float, Float, Float, Float, Float, Float}, ResultKind::Float},
      {0x7B5280EBA9840C72, "GET_FILENAME_FOR_AUDIO_CONVERSATION", {Text}, ResultKind::Text},
      {0x2ED7843F8F801023, "END_TEXT_COMMAND_THEFEED_POST_TICKER", {Bool, Bool}, ResultKind::Int},
      {0x11FE353CF9733E6F, "REQUEST_SCALEFORM_MOVIE", {Text}, ResultKind::Int},
      {0xF6E48914C7A8694E, "BEGIN_SCALEFORM_MOVIE_METHOD", {Int, Text}, ResultKind::Bool},
      {0x0DF606929C105BE1,
       "DRAW_SCALEFORM_MOVIE_FULLSCREEN",
       {Int, Int, Int, Int, Int, Int},
       ResultKind::None},
      {0x1D132D614DD86811, "SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED", {InOutInt}, ResultKind::None},
      {0xCA042B6957743895, "0xCA042B6957743895", {Int}, ResultKind::Int},
      {0x95D2D383D5396B8A, "0x95D2D383D5396B8A", {Int, Bool}, ResultKind::None},
      {0x7669F9E39DC17063, "0x7669F9E39DC17063", {}, ResultKind::None},
      {0x1CA3E9EAC9D93E5E, "SET_TEXT_DROP_SHADOW", {}, ResultKind::None},
      {0xCD015E5BB0D96A57, "END_TEXT_COMMAND_DISPLAY_TEXT", {Float, Float, Int}, ResultKind::None},
      {0xE7FFAE5EBF23D890,
       "DRAW_SPRITE",
       {Text, Text, Float, Float, Float, Float, Float, Int, Int, Int, Int, Int, Int},
       ResultKind::None},
      {0x3A618A217E5154F0,
       "DRAW_RECT",
       {Float, Float, Float, Float, Int, Int, Int, Int, Int},
       ResultKind::None},
      {0x7C9C91AB74A0360F,
       "GET_HUD_COLOUR",
       {Int, OutInt, OutInt, OutInt, OutInt},
       ResultKind::None},
      {0x2DF9038C90AD5264,
       "SPAWNPOINTS_START_SEARCH",
       {Float, Float, Float, Float, Float, Int, Float, Int},
       ResultKind::None},
      {0xA635C11B8C44AFC2, "SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", {}, ResultKind::Int},
      {0x280C7E3AC7F56E90,
       "SPAWNPOINTS_GET_SEARCH_RESULT",
       {Int, OutFloat, OutFloat, OutFloat},
       ResultKind::None},
      {0x80CA6A8B6C094CC4,
       "GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING",
       {Float, Float, Float, Int, OutVector, OutFloat, OutInt, Int, Float, Float},
       ResultKind::Bool},
  };
  for (const ExpectedSignature& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    const NativeSignature* found = FindNative(c.hash);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, c.name);
    EXPECT_EQ(found->args, c.args)
        << "table " << Render(found->args) << ", expected " << Render(c.args);
    EXPECT_EQ(found->result, c.result) << "table " << sim::ResultKindName(found->result)
                                       << ", expected " << sim::ResultKindName(c.result);
  }
}

// The kind names appear in the simulator's trace and mismatch reports, so two
// kinds must never share one.
TEST(NativeTable, KindNamesAreTheShortTraceNames) {
  const std::pair<ArgKind, std::string_view> argNames[] = {
      {ArgKind::Int, "int"},
      {ArgKind::Bool, "bool"},
      {ArgKind::Float, "float"},
      {ArgKind::Text, "text"},
      {ArgKind::OutInt, "out int"},
      {ArgKind::OutFloat, "out float"},
      {ArgKind::OutVector, "out vector"},
      {ArgKind::InOutInt, "in/out int"},
  };
  for (const auto& [kind, name] : argNames) EXPECT_EQ(sim::ArgKindName(kind), name);

  const std::pair<ResultKind, std::string_view> resultNames[] = {
      {ResultKind::None, "none"},   {ResultKind::Int, "int"},       {ResultKind::Bool, "bool"},
      {ResultKind::Float, "float"}, {ResultKind::Vector, "vector"}, {ResultKind::Text, "text"},
  };
  for (const auto& [kind, name] : resultNames) EXPECT_EQ(sim::ResultKindName(kind), name);
}

}  // namespace
