// The reader of a user's natives catalogue: the slots and result each type
// gives, and every refusal with the file, line and field it names.
#include "sim/base/natives_catalogue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace sim {
namespace {

using enum ArgKind;

// One native "PLAYER/0x4F8644AF03D0E0D6" whose body is `body` (on line 3).
std::string OneNative(const std::string& body) {
  return "{\"PLAYER\": {\n"
         "  \"0x4F8644AF03D0E0D6\":\n" +
         body + "\n}}\n";
}

std::string Native(const std::string& name, const std::string& params, const std::string& result) {
  return "{\"name\": \"" + name + "\", \"jhash\": \"\", \"comment\": \"\", \"params\": [" + params +
         "], \"return_type\": \"" + result + "\", \"build\": \"323\"}";
}

// Parameters of 33 slots, one past what the host takes.
std::string ElevenVectors() {
  std::string params;
  for (char name = 'a'; name <= 'k'; ++name) {
    params +=
        std::string(params.empty() ? "" : ",") + R"({"type":"Vector3","name":")" + name + "\"}";
  }
  return params;
}

TEST(NativesCatalogue, ReadsEveryTypeIntoTheGamesSlotsAndResults) {
  const std::string text = R"({
  "PLAYER": {
    "0x4F8644AF03D0E0D6": {"name": "PLAYER_ID", "jhash": "0x8AEDD6E8", "comment": "",
      "params": [], "return_type": "Player", "build": "323"},
    "0x0000000000000001": {"name": "_0x0000000000000001", "jhash": "", "comment": "c",
      "params": [{"type": "Vector3", "name": "pos"}, {"type": "BOOL", "name": "b"},
                 {"type": "const char*", "name": "t"}, {"type": "char*", "name": "u"},
                 {"type": "Hash", "name": "h"}, {"type": "float", "name": "f"}],
      "return_type": "Vector3", "build": "323", "old_names": ["OLD"], "unused": true}
  },
  "MISC": {
    "0x0000000000000002": {"name": "OUTS", "jhash": "", "comment": "", "params": [
        {"type": "int*", "name": "a"}, {"type": "float*", "name": "b"},
        {"type": "Vector3*", "name": "c"}, {"type": "BOOL*", "name": "d"},
        {"type": "Entity*", "name": "e"}, {"type": "Any*", "name": "f"}],
      "return_type": "const char*", "build": "323"},
    "0x0000000000000003": {"name": "A", "jhash": "", "comment": "", "params": [],
      "return_type": "void", "build": "323"},
    "0x0000000000000004": {"name": "B", "jhash": "", "comment": "", "params": [],
      "return_type": "Any*", "build": "323"},
    "0x0000000000000005": {"name": "C", "jhash": "", "comment": "", "params": [],
      "return_type": "float", "build": "323"},
    "0x0000000000000006": {"name": "D", "jhash": "", "comment": "", "params": [],
      "return_type": "BOOL", "build": "323"}
  }
})";
  const NativesCatalogue catalogue = ParseNativesCatalogue("natives.json", text);
  EXPECT_EQ(catalogue.fileName, "natives.json");
  struct Expected {
    std::uint64_t hash;
    std::string name;
    std::vector<ArgKind> args;
    ResultKind result;
  };
  const std::vector<Expected> expected = {
      {0x1,
       "0x0000000000000001",
       {Float, Float, Float, Bool, TextOrNull, TextOrNull, Int, Float},
       ResultKind::Vector},
      {0x4F8644AF03D0E0D6, "PLAYER_ID", {}, ResultKind::Int},
      {0x2, "OUTS", {OutInt, OutFloat, OutVector, OutInt, OutInt, OutInt}, ResultKind::Text},
      {0x3, "A", {}, ResultKind::None},
      {0x4, "B", {}, ResultKind::Int},
      {0x5, "C", {}, ResultKind::Float},
      {0x6, "D", {}, ResultKind::Bool},
  };
  ASSERT_EQ(catalogue.natives.size(), expected.size());
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.name);
    const NativeSignature* found = nullptr;
    for (const NativeSignature& s : catalogue.natives) found = s.hash == e.hash ? &s : found;
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, e.name);
    EXPECT_EQ(found->args, e.args);
    EXPECT_EQ(found->result, e.result);
    EXPECT_TRUE(found->answeredByDefault);
  }
}

TEST(NativesCatalogue, RefusesBadInputNamingFileLineAndField) {
  const std::string field = "natives.json:3: field 'PLAYER.0x4F8644AF03D0E0D6";
  // A fault of the native itself is placed on its key's line.
  const std::string native = "natives.json:2: field 'PLAYER.0x4F8644AF03D0E0D6";
  struct Case {
    const char* what;
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"an unknown parameter type",
       OneNative(
           Native("PLAYER_ID", R"({"type":"int","name":"a"},{"type":"Foo","name":"b"})", "int")),
       field + ".params[1].type': unknown type \"Foo\""},
      {"an unknown return type", OneNative(Native("PLAYER_ID", "", "int*")),
       field + ".return_type': unknown type \"int*\""},
      {"a pointer to a text", OneNative(Native("X", R"({"type":"char**","name":"a"})", "void")),
       field + ".params[0].type': unknown type \"char**\""},
      {"a parameter without a name", OneNative(Native("X", R"({"type":"int"})", "void")),
       field + ".params[0]': missing field 'name'"},
      {"a missing return type", OneNative(R"({"name": "X", "params": []})"),
       native + "': missing field 'return_type'"},
      {"an empty name", OneNative(Native("", "", "void")),
       field + ".name': expected the native's name, got an empty string"},
      {"a native that is not an object", OneNative("[]"),
       native + "': expected an object, got an array"},
      {"a lower-case hash",
       "{\"PLAYER\": {\n\"0x4f8644af03d0e0d6\": " + Native("X", "", "void") + "}}",
       "natives.json:2: field 'PLAYER.0x4f8644af03d0e0d6': not a native's hash: expected \"0x\" "
       "and 16 upper-case hex digits"},
      {"a namespace that is not an object", "{\"PLAYER\": 1}",
       "natives.json:1: field 'PLAYER': expected an object, got an integer"},
      {"a hash given twice in one namespace",
       "{\"PLAYER\": {\n\"0x0000000000000001\": " + Native("X", "", "void") +
           ",\n\"0x0000000000000001\": " + Native("Y", "", "void") + "}}",
       "natives.json:3: field 'PLAYER.0x0000000000000001': duplicate key, first given on line 2"},
      {"a hash given in two namespaces",
       "{\"A\": {\"0x0000000000000001\": " + Native("X", "", "void") +
           "},\n\"B\": {\n\"0x0000000000000001\": " + Native("Y", "", "void") + "}}",
       "natives.json:3: field 'B.0x0000000000000001': the hash is listed twice, also under A"},
      {"too many argument slots", OneNative(Native("X", ElevenVectors(), "void")),
       field + ".params': takes 33 argument slots, more than the host's 32"},
      {"an array at the top", "[]", "natives.json:1: expected an object, got an array"},
      {"no natives", "{\"PLAYER\": {}}",
       "natives.json: holds no natives: expected an object of namespaces, each an object of "
       "natives keyed by hash"},
      {"an empty file", "", "natives.json:1:1: not valid JSON: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      ParseNativesCatalogue("natives.json", c.text);
      ADD_FAILURE() << "accepted";
    } catch (const NativesCatalogueError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.message.size()), c.message);
    }
  }
}

TEST(NativesCatalogue, RefusesAFileItCannotRead) {
  const std::string missing = testing::TempDir() + "no-such-catalogue.json";
  std::remove(missing.c_str());
  try {
    ReadNativesCatalogue(missing);
    ADD_FAILURE() << "read a missing file";
  } catch (const NativesCatalogueError& e) {
    EXPECT_EQ(std::string(e.what()),
              missing + ": cannot read the natives catalogue: No such file or directory");
  }
  EXPECT_THROW(ReadNativesCatalogue(testing::TempDir()), NativesCatalogueError);
}

}  // namespace
}  // namespace sim
