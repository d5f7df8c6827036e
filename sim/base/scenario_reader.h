// Typed, path-aware reading of a scenario file: every value knows its field
// path and the line it stands on, so a mistake is reported as
// "file:line: field 'world.fps': expected ..." rather than silently ignored.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/base/call.h"

namespace sim {

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Shared by every node of one document: the file name, where each field
// stands, and which fields some reader has taken.
struct ScenarioDocument {
  // Out of line, with the parsed tree behind a pointer: this header is read by
  // nearly every file of the simulator, and the JSON library's whole header
  // costs each of them seconds to compile; only the reader's own file needs it.
  ScenarioDocument();
  ~ScenarioDocument();

  std::string fileName;
  std::unique_ptr<nlohmann::json> root;
  std::map<std::string, int> lines;  // field path -> 1-based line
  std::set<std::string> consumed;

  // Parses text; a syntax error names the file, line and column, a key given
  // twice in one object both its lines, and a number too large for any type
  // its line and field.
  static std::shared_ptr<ScenarioDocument> Parse(std::string fileName, std::string_view text);

  int LineOf(const std::string& path) const;
  // Fails on the first field that no reader took (a typo, or a field this
  // version does not know).
  void RejectUnknownFields() const;
};

class ScenarioNode {
 public:
  ScenarioNode(std::shared_ptr<ScenarioDocument> doc, const nlohmann::json* value, std::string path)
      : doc_(std::move(doc)), value_(value), path_(std::move(path)) {}

  static ScenarioNode Root(const std::shared_ptr<ScenarioDocument>& doc);

  const std::string& Path() const { return path_; }
  int Line() const;
  bool IsObject() const;
  bool IsArray() const;
  const nlohmann::json& Json() const { return *value_; }

  bool Has(std::string_view key) const;
  // The member, marked as read; fails if it is missing.
  ScenarioNode Child(std::string_view key) const;
  std::optional<ScenarioNode> Optional(std::string_view key) const;

  // A whole number (1e3 counts) from min to max.
  std::int64_t AsInt(std::int64_t min = INT64_MIN, std::int64_t max = INT64_MAX) const;
  // Every float the game sees goes through here: a number no float can hold
  // (1e39) is refused rather than turned into infinity, which is written as
  // the trace writes it: "Infinity", "-Infinity", and "NaN" for NaN.
  float AsFloat() const;
  // true or false; 0 and 1 are taken as well.
  bool AsBool() const;
  std::string AsString() const;
  Vec3 AsVec3() const;
  std::vector<ScenarioNode> Items() const;  // elements of an array
  std::vector<std::string> Keys() const;    // member names of an object, in file order

  // Member readers with a default for a missing member.
  std::int64_t Int(std::string_view key, std::int64_t fallback, std::int64_t min = INT64_MIN,
                   std::int64_t max = INT64_MAX) const;
  float Float(std::string_view key, float fallback) const;
  bool Bool(std::string_view key, bool fallback) const;
  std::string String(std::string_view key, const std::string& fallback) const;
  Vec3 Vector(std::string_view key, Vec3 fallback) const;

  // Marks this node and everything under it as read.
  void MarkAllRead() const;
  // Fails the node itself was not an object.
  void ExpectObject() const;

  [[noreturn]] void Fail(const std::string& what) const;

 private:
  std::shared_ptr<ScenarioDocument> doc_;
  const nlohmann::json* value_;
  std::string path_;
};

std::string JsonTypeName(const nlohmann::json& value);

// The largest magnitude a float holds, written as 3.4028235e38: anything
// below 2^128 - 2^103 rounds to a finite float, anything from there up to
// infinity. The schema of scenario files states the same bound.
inline constexpr double kFloatLimit = 0x1.ffffffp127;

// A member name that stands for an index (a HUD colour, a language code): a
// whole number from 0 to 2147483647 in plain digits, without sign, spaces or
// leading zeros, so that "7" and "07" cannot both name colour 7.
std::optional<std::int32_t> IndexKey(std::string_view key);

}  // namespace sim
