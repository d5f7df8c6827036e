// The catalogue is read with the scenario reader's nodes, so that a mistake
// is named as a scenario's is: file, line and field. Its natives all get the
// answer by default: the world models none of them.
#include "sim/base/natives_catalogue.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "sim/base/call.h"
#include "sim/base/number_format.h"
#include "sim/base/scenario_reader.h"

namespace sim {

namespace {

// What the game reads from a value of one of the catalogue's types.
enum class ValueClass { Integer, Float, Bool, Text, Vector };

struct CatalogueType {
  std::string_view name;
  ValueClass value;
};

// Handles, hashes and the untyped Any are 32-bit values to the game.
constexpr CatalogueType kTypes[] = {
    {"int", ValueClass::Integer},      {"float", ValueClass::Float},
    {"BOOL", ValueClass::Bool},        {"char*", ValueClass::Text},
    {"const char*", ValueClass::Text}, {"Any", ValueClass::Integer},
    {"Blip", ValueClass::Integer},     {"Cam", ValueClass::Integer},
    {"Entity", ValueClass::Integer},   {"FireId", ValueClass::Integer},
    {"Hash", ValueClass::Integer},     {"Interior", ValueClass::Integer},
    {"ItemSet", ValueClass::Integer},  {"Object", ValueClass::Integer},
    {"Ped", ValueClass::Integer},      {"Pickup", ValueClass::Integer},
    {"Player", ValueClass::Integer},   {"ScrHandle", ValueClass::Integer},
    {"Vector3", ValueClass::Vector},   {"Vehicle", ValueClass::Integer},
};

std::optional<ValueClass> PlainType(std::string_view name) {
  for (const CatalogueType& type : kTypes) {
    if (type.name == name) return type.value;
  }
  return std::nullopt;
}

// "int*", "Vector3*", ...: an out-variable. A text's address is a text, not
// an out-variable, so "char**" is not a type of the catalogue's.
std::optional<ValueClass> PointedType(std::string_view name) {
  if (!name.ends_with('*')) return std::nullopt;
  const std::optional<ValueClass> pointed = PlainType(name.substr(0, name.size() - 1));
  if (!pointed || *pointed == ValueClass::Text) return std::nullopt;
  return pointed;
}

[[noreturn]] void UnknownType(const ScenarioNode& node, const std::string& type) {
  node.Fail("unknown type \"" + type + "\"");
}

// The slots one parameter takes. A vector goes by value as its three floats,
// one slot each; a text may be null, as the catalogue cannot say which the
// game accepts.
void AddParam(const ScenarioNode& param, std::vector<ArgKind>& args) {
  param.ExpectObject();
  param.Child("name").AsString();
  const ScenarioNode typeNode = param.Child("type");
  const std::string type = typeNode.AsString();
  if (const std::optional<ValueClass> plain = PlainType(type)) {
    switch (*plain) {
      case ValueClass::Integer:
        return args.push_back(ArgKind::Int);
      case ValueClass::Float:
        return args.push_back(ArgKind::Float);
      case ValueClass::Bool:
        return args.push_back(ArgKind::Bool);
      case ValueClass::Text:
        return args.push_back(ArgKind::TextOrNull);
      case ValueClass::Vector:
        args.insert(args.end(), 3, ArgKind::Float);
        return;
    }
  }
  const std::optional<ValueClass> pointed = PointedType(type);
  if (!pointed) UnknownType(typeNode, type);
  args.push_back(*pointed == ValueClass::Float    ? ArgKind::OutFloat
                 : *pointed == ValueClass::Vector ? ArgKind::OutVector
                                                  : ArgKind::OutInt);
}

ResultKind ResultOf(const ScenarioNode& node) {
  const std::string type = node.AsString();
  if (type == "void") return ResultKind::None;
  if (type == "Any*") return ResultKind::Int;  // an address the game owns; answered as null
  const std::optional<ValueClass> plain = PlainType(type);
  if (!plain) UnknownType(node, type);
  switch (*plain) {
    case ValueClass::Integer:
      return ResultKind::Int;
    case ValueClass::Float:
      return ResultKind::Float;
    case ValueClass::Bool:
      return ResultKind::Bool;
    case ValueClass::Text:
      return ResultKind::Text;
    case ValueClass::Vector:
      return ResultKind::Vector;
  }
  UnknownType(node, type);
}

// "0x" and 16 upper-case hex digits, as the catalogue writes every key.
std::optional<std::uint64_t> HashKey(std::string_view key) {
  if (key.size() != 18 || !key.starts_with("0x")) return std::nullopt;
  std::uint64_t hash = 0;
  for (const char c : key.substr(2)) {
    const bool digit = c >= '0' && c <= '9';
    if (!digit && !(c >= 'A' && c <= 'F')) return std::nullopt;
    hash = hash * 16 + static_cast<std::uint64_t>(digit ? c - '0' : c - 'A' + 10);
  }
  return hash;
}

NativeSignature ReadNative(const ScenarioNode& node, std::uint64_t hash) {
  node.ExpectObject();
  NativeSignature signature;
  signature.hash = hash;
  const ScenarioNode nameNode = node.Child("name");
  const std::string name = nameNode.AsString();
  if (name.empty()) nameNode.Fail("expected the native's name, got an empty string");
  // An unnamed native ("_0x...") goes by its hash, as the game's own table
  // writes the natives it knows by hash only.
  signature.name = name.starts_with("_0x") ? HexHash(hash) : name;
  const ScenarioNode params = node.Child("params");
  for (const ScenarioNode& param : params.Items()) AddParam(param, signature.args);
  if (signature.args.size() > kMaxArgs) {
    params.Fail("takes " + std::to_string(signature.args.size()) +
                " argument slots, more than the host's " + std::to_string(kMaxArgs));
  }
  signature.result = ResultOf(node.Child("return_type"));
  signature.answeredByDefault = true;
  return signature;
}

std::vector<NativeSignature> ReadNamespaces(const ScenarioNode& root) {
  std::vector<NativeSignature> natives;
  std::map<std::uint64_t, std::string> namespaceOf;
  for (const std::string& space : root.Keys()) {
    const ScenarioNode members = root.Child(space);
    for (const std::string& key : members.Keys()) {
      const ScenarioNode entry = members.Child(key);
      const std::optional<std::uint64_t> hash = HashKey(key);
      if (!hash) entry.Fail("not a native's hash: expected \"0x\" and 16 upper-case hex digits");
      const auto [first, isNew] = namespaceOf.emplace(*hash, space);
      if (!isNew) entry.Fail("the hash is listed twice, also under " + first->second);
      natives.push_back(ReadNative(entry, *hash));
    }
  }
  return natives;
}

}  // namespace

NativesCatalogue ParseNativesCatalogue(const std::string& fileName, std::string_view text) {
  NativesCatalogue catalogue;
  catalogue.fileName = fileName;
  try {
    const std::shared_ptr<ScenarioDocument> doc = ScenarioDocument::Parse(fileName, text);
    catalogue.natives = ReadNamespaces(ScenarioNode::Root(doc));
  } catch (const ScenarioError& e) {
    throw NativesCatalogueError(e.what());
  }
  if (catalogue.natives.empty()) {
    throw NativesCatalogueError(fileName +
                                ": holds no natives: expected an object of namespaces, each an "
                                "object of natives keyed by hash");
  }
  return catalogue;
}

NativesCatalogue ReadNativesCatalogue(const std::string& path) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in.is_open() || in.bad()) {
    throw NativesCatalogueError(path + ": cannot read the natives catalogue: " +
                                (errno != 0 ? std::strerror(errno) : "read error"));
  }
  return ParseNativesCatalogue(path, text.str());
}

}  // namespace sim
