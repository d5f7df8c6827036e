// Checks the simulated game's catalogue of natives: every native the plug-in
// calls is present exactly once, under the right hash, with the argument and
// result kinds the game documents.
#include "sim/base/native_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
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

// The plug-in's own list of the natives it calls (src/host/natives.h, which
// the product builds from and which never includes the simulator), read as
// text: each wrapper's name, the hash it pushes and how many arguments it
// takes. The simulator's table must hold exactly these, under the same names.
struct PluginNative {
  std::string name;  // the game's name, or "0x..." for NATIVE_0x... wrappers
  std::uint64_t hash = 0;
  std::size_t args = 0;
};

std::vector<PluginNative> PluginNatives() {
  std::ifstream in(REBOUND_PLUGIN_NATIVES_H);
  std::stringstream text;
  text << in.rdbuf();
  const std::string source = text.str();
  // A hash that has a name: inline constexpr std::uint64_t kNameHash = 0xHASH;
  std::map<std::string, std::string> named;
  const std::regex constant(R"(constexpr std::uint64_t (k\w+) = (0x[0-9A-F]{16});)");
  for (auto it = std::sregex_iterator(source.begin(), source.end(), constant);
       it != std::sregex_iterator(); ++it) {
    named[(*it)[1].str()] = (*it)[2].str();
  }
  // inline R NAME(params) { ... InvokeNative<R>(0xHASH or kNameHash, ...
  const std::regex wrapper(
      R"((\w+)\(([^)]*)\)\s*\{[^}]*?InvokeNative(?:<[\w:]+>)?\((0x[0-9A-F]{16}|k\w+))");
  std::vector<PluginNative> out;
  for (auto it = std::sregex_iterator(source.begin(), source.end(), wrapper);
       it != std::sregex_iterator(); ++it) {
    PluginNative n;
    n.name = (*it)[1].str();
    if (n.name.rfind("NATIVE_", 0) == 0) n.name = n.name.substr(7);
    const std::string params = (*it)[2].str();
    if (params.find_first_not_of(" \n") != std::string::npos) {
      n.args = static_cast<std::size_t>(std::count(params.begin(), params.end(), ',')) + 1;
    }
    const std::string hash = (*it)[3].str();
    const auto name = named.find(hash);
    if (hash[0] == 'k' && name == named.end()) {
      ADD_FAILURE() << n.name << " calls with " << hash << ", which natives.h does not define";
      continue;
    }
    n.hash = std::stoull(name != named.end() ? name->second : hash, nullptr, 16);
    out.push_back(n);
  }
  return out;
}

TEST(NativeTable, HoldsExactlyTheNativesThePluginCalls) {
  const std::vector<PluginNative> plugin = PluginNatives();
  ASSERT_GT(plugin.size(), 50U) << "could not read the wrappers of " << REBOUND_PLUGIN_NATIVES_H;

  std::set<std::uint64_t> called;
  for (const PluginNative& n : plugin) {
    SCOPED_TRACE(n.name);
    EXPECT_TRUE(called.insert(n.hash).second)
        << "the plug-in wraps " << HashName(n.hash) << " twice";
    const NativeSignature* found = FindNative(n.hash);
    ASSERT_NE(found, nullptr) << "missing " << HashName(n.hash);
    EXPECT_EQ(found->name, n.name)
        << "the table and the plug-in name " << HashName(n.hash) << " differently";
    EXPECT_EQ(found->args.size(), n.args) << "argument counts differ";
  }
  // No extra entry either: an entry with a mistyped hash would show up here.
  for (const NativeSignature& signature : NativeTable()) {
    EXPECT_EQ(called.count(signature.hash), 1U)
        << signature.name << " (" << HashName(signature.hash) << ") is not called by the plug-in";
  }
  EXPECT_EQ(NativeTable().size(), called.size());
}

TEST(NativeTable, HashesAndNamesAreUnique) {
  std::set<std::uint64_t> hashes;
  std::set<std::string_view> names;
  for (const NativeSignature& signature : NativeTable()) {
    EXPECT_TRUE(hashes.insert(signature.hash).second)
        << "hash " << HashName(signature.hash) << " listed twice";
    EXPECT_TRUE(names.insert(signature.name).second)
        << "name " << signature.name << " listed twice";
    // A modelled hash-only native is registered by its model name, which
    // must be as unique as the game's names and never look like one.
    if (!signature.modelledAs.empty()) {
      EXPECT_EQ(signature.name.substr(0, 2), "0x") << signature.modelledAs;
      EXPECT_TRUE(names.insert(signature.modelledAs).second)
          << "name " << signature.modelledAs << " listed twice";
      EXPECT_EQ(sim::FindNativeByName(signature.modelledAs), &signature);
    }
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
  std::string_view name;
  std::vector<ArgKind> args;
  ResultKind result;
};

TEST(NativeTable, RepresentativeSignatures) {
  using enum ArgKind;
  const ExpectedSignature cases[] = {
      {"PLAYER_PED_ID", {}, ResultKind::Int},
      {"GET_ENTITY_COORDS", {Int, Bool}, ResultKind::Vector},
      {"SET_ENTITY_COORDS", {Int, Float, Float, Float, Bool, Bool, Bool, Bool}, ResultKind::None},
      {"IS_ENTITY_DEAD", {Int, Bool}, ResultKind::Bool},
      {"VDIST", {Float, Float, Float, Float, Float, Float}, ResultKind::Float},
      {"GET_FILENAME_FOR_AUDIO_CONVERSATION", {Text}, ResultKind::Text},
      {"END_TEXT_COMMAND_THEFEED_POST_TICKER", {Bool, Bool}, ResultKind::Int},
      {"REQUEST_SCALEFORM_MOVIE", {Text}, ResultKind::Int},
      {"BEGIN_SCALEFORM_MOVIE_METHOD", {Int, Text}, ResultKind::Bool},
      {"DRAW_SCALEFORM_MOVIE_FULLSCREEN", {Int, Int, Int, Int, Int, Int}, ResultKind::None},
      {"SET_SCALEFORM_MOVIE_AS_NO_LONGER_NEEDED", {InOutInt}, ResultKind::None},
      {"0xCA042B6957743895", {Int}, ResultKind::Int},
      {"0x95D2D383D5396B8A", {Int, Bool}, ResultKind::None},
      {"0x7669F9E39DC17063", {}, ResultKind::None},
      {"SET_TEXT_DROP_SHADOW", {}, ResultKind::None},
      {"END_TEXT_COMMAND_DISPLAY_TEXT", {Float, Float, Int}, ResultKind::None},
      {"DRAW_SPRITE",
       {Text, Text, Float, Float, Float, Float, Float, Int, Int, Int, Int, Int, Int},
       ResultKind::None},
      {"DRAW_RECT", {Float, Float, Float, Float, Int, Int, Int, Int, Int}, ResultKind::None},
      {"GET_HUD_COLOUR", {Int, OutInt, OutInt, OutInt, OutInt}, ResultKind::None},
      {"SPAWNPOINTS_START_SEARCH",
       {Float, Float, Float, Float, Float, Int, Float, Int},
       ResultKind::None},
      {"SPAWNPOINTS_GET_NUM_SEARCH_RESULTS", {}, ResultKind::Int},
      {"SPAWNPOINTS_GET_SEARCH_RESULT", {Int, OutFloat, OutFloat, OutFloat}, ResultKind::None},
      {"GET_NTH_CLOSEST_VEHICLE_NODE_WITH_HEADING",
       {Float, Float, Float, Int, OutVector, OutFloat, OutInt, Int, Float, Float},
       ResultKind::Bool},
  };
  for (const ExpectedSignature& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    const NativeSignature* found = sim::FindNativeByName(c.name);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(FindNative(found->hash), found);
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
