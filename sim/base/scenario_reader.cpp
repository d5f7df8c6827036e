#include "sim/base/scenario_reader.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

namespace sim {
namespace {

std::string MemberPath(const std::string& parent, std::string_view key) {
  return parent.empty() ? std::string(key) : parent + "." + std::string(key);
}

std::string ElementPath(const std::string& parent, std::size_t index) {
  return parent + "[" + std::to_string(index) + "]";
}

std::string Located(const std::string& fileName, int line, const std::string& path,
                    const std::string& what) {
  std::ostringstream msg;
  msg << fileName << ":" << line << ": ";
  if (!path.empty()) msg << "field '" << path << "': ";
  msg << what;
  return msg.str();
}

// Walks the raw text once and notes the line on which each field's value (or,
// for an object member, its key) stands. It also refuses a key given twice in
// one object, of which the parser would keep the last silently. The text
// is known to be valid JSON (but for a number too large for any type, which
// FindOverflow is then asked to place), so the scanner only has to follow the
// structure.
class LineScanner {
 public:
  struct Overflow {
    std::string path;
    int line = 0;
    std::string token;
  };

  LineScanner(const std::string& fileName, std::string_view text, std::map<std::string, int>& lines)
      : fileName_(fileName), text_(text), lines_(lines) {}

  void Run() {
    SkipSpace();
    Value("");
  }

  // The first number the parser could not hold, with its field and line.
  std::optional<Overflow> FindOverflow() {
    findOverflow_ = true;
    Run();
    return overflow_;
  }

 private:
  void SkipSpace() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        break;
      }
      ++pos_;
    }
  }

  // A string token, decoded as the parser decodes it, so that "a\u0062" and
  // "ab" are the same key.
  std::string String() {
    const std::size_t start = pos_++;  // opening quote
    bool escaped = false;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      if (text_[pos_] == '\\') {
        escaped = true;
        ++pos_;
      }
      ++pos_;
    }
    ++pos_;  // closing quote
    const std::string_view raw = text_.substr(start, std::min(pos_, text_.size()) - start);
    if (!escaped) return std::string(raw.substr(1, raw.size() - 2));
    const nlohmann::json decoded = nlohmann::json::parse(raw, nullptr, false);
    return decoded.is_string() ? decoded.get<std::string>() : std::string(raw);
  }

  void Value(const std::string& path) {
    lines_.emplace(path, line_);
    if (pos_ >= text_.size()) return;
    const char c = text_[pos_];
    if (c == '{') {
      ++pos_;
      SkipSpace();
      std::map<std::string, int> seen;  // key -> its line, in this object
      while (pos_ < text_.size() && text_[pos_] != '}') {
        const int keyLine = line_;
        const std::string key = String();
        const std::string child = MemberPath(path, key);
        const auto [first, isNew] = seen.emplace(key, keyLine);
        if (!isNew) {
          throw ScenarioError(
              Located(fileName_, keyLine, child,
                      "duplicate key, first given on line " + std::to_string(first->second)));
        }
        lines_[child] = keyLine;
        SkipSpace();
        ++pos_;  // colon
        SkipSpace();
        ValueKeepingLine(child);
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
          SkipSpace();
        }
      }
      ++pos_;
    } else if (c == '[') {
      ++pos_;
      SkipSpace();
      std::size_t index = 0;
      while (pos_ < text_.size() && text_[pos_] != ']') {
        Value(ElementPath(path, index++));
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
          SkipSpace();
        }
      }
      ++pos_;
    } else if (c == '"') {
      String();
    } else {
      const std::size_t start = pos_;
      while (pos_ < text_.size() &&
             std::string_view(",]} \t\r\n").find(text_[pos_]) == std::string_view::npos) {
        ++pos_;
      }
      const std::string_view token = text_.substr(start, pos_ - start);
      if (findOverflow_ && !nlohmann::json::accept(token)) {
        overflow_ = Overflow{path, lines_[path], std::string(token)};
        pos_ = text_.size();  // the first one is enough
      }
    }
  }

  // An object member keeps the line of its key, not of its value.
  void ValueKeepingLine(const std::string& path) {
    const int keyLine = lines_[path];
    Value(path);
    lines_[path] = keyLine;
  }

  const std::string& fileName_;
  std::string_view text_;
  std::map<std::string, int>& lines_;
  std::size_t pos_ = 0;
  int line_ = 1;
  bool findOverflow_ = false;
  std::optional<Overflow> overflow_;
};

// Arrays and objects nested deeper than this are refused before the parser
// sees them: the parser's tree and every walk over it (the line scanner
// above, the unread fields' search) take a level of the stack each.
constexpr std::size_t kMaxScenarioDepth = 64;

// One pass over the text, counting brackets outside strings; the message
// names the line and the field where the nesting goes too deep.
void RefuseDeepNesting(const std::string& fileName, std::string_view text) {
  struct Level {
    bool array = false;
    std::size_t index = 0;
    std::string_view key;  // raw, as written
  };
  std::vector<Level> levels;
  int line = 1;
  bool inString = false;
  bool escaped = false;
  std::size_t stringStart = 0;
  std::string_view lastString;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') ++line;
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
        lastString = text.substr(stringStart, i - stringStart);
      }
      continue;
    }
    if (c == '"') {
      inString = true;
      stringStart = i + 1;
    } else if (c == ':' && !levels.empty() && !levels.back().array) {
      levels.back().key = lastString;
    } else if (c == ',' && !levels.empty() && levels.back().array) {
      ++levels.back().index;
    } else if (c == '[' || c == '{') {
      if (levels.size() == kMaxScenarioDepth) {
        std::string path;
        for (const Level& level : levels) {
          path = level.array ? ElementPath(path, level.index) : MemberPath(path, level.key);
        }
        throw ScenarioError(Located(
            fileName, line, path,
            "arrays and objects nested more than " + std::to_string(kMaxScenarioDepth) + " deep"));
      }
      levels.push_back(Level{c == '[', 0, {}});
    } else if ((c == ']' || c == '}') && !levels.empty()) {
      levels.pop_back();
    }
  }
}

void CollectUnread(const nlohmann::json& value, const std::string& path,
                   const std::set<std::string>& consumed, std::vector<std::string>& out) {
  if (value.is_object()) {
    for (auto it = value.begin(); it != value.end(); ++it) {
      const std::string child = MemberPath(path, it.key());
      if (consumed.count(child) == 0) {
        out.push_back(child);
      } else {
        CollectUnread(it.value(), child, consumed, out);
      }
    }
  } else if (value.is_array()) {
    for (std::size_t i = 0; i < value.size(); ++i) {
      CollectUnread(value[i], ElementPath(path, i), consumed, out);
    }
  }
}

}  // namespace

std::string JsonTypeName(const nlohmann::json& value) {
  if (value.is_number_integer()) return "an integer";
  if (value.is_number()) return "a number";
  if (value.is_boolean()) return "a boolean";
  if (value.is_string()) return "a string";
  if (value.is_array()) return "an array";
  if (value.is_object()) return "an object";
  return "null";
}

ScenarioDocument::ScenarioDocument() : root(std::make_unique<nlohmann::json>()) {}
ScenarioDocument::~ScenarioDocument() = default;

ScenarioNode ScenarioNode::Root(const std::shared_ptr<ScenarioDocument>& doc) {
  return ScenarioNode(doc, doc->root.get(), "");
}
int ScenarioNode::Line() const { return doc_->LineOf(path_); }
bool ScenarioNode::IsObject() const { return value_->is_object(); }
bool ScenarioNode::IsArray() const { return value_->is_array(); }

std::shared_ptr<ScenarioDocument> ScenarioDocument::Parse(std::string fileName,
                                                          std::string_view text) {
  auto doc = std::make_shared<ScenarioDocument>();
  doc->fileName = std::move(fileName);
  RefuseDeepNesting(doc->fileName, text);
  try {
    *doc->root = nlohmann::json::parse(text.begin(), text.end());
  } catch (const nlohmann::json::parse_error& e) {
    // Turn the byte offset into a line and column a person can find.
    std::size_t offset = e.byte > 0 ? e.byte - 1 : 0;
    offset = std::min(offset, text.size());
    int line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < offset; ++i) {
      if (text[i] == '\n') {
        ++line;
        lineStart = i + 1;
      }
    }
    std::string what = e.what();
    const std::size_t colon = what.find(": ", what.find("parse error"));
    std::ostringstream msg;
    msg << doc->fileName << ":" << line << ":" << (offset - lineStart + 1)
        << ": not valid JSON: " << (colon != std::string::npos ? what.substr(colon + 2) : what);
    throw ScenarioError(msg.str());
  } catch (const nlohmann::json::exception& e) {
    // A number too large for any type: the parser gives no place, so find it.
    std::map<std::string, int> lines;
    if (auto overflow = LineScanner(doc->fileName, text, lines).FindOverflow()) {
      throw ScenarioError(
          Located(doc->fileName, overflow->line, overflow->path,
                  "the number " + overflow->token + " is too large for any number type"));
    }
    const std::string what = e.what();
    const std::size_t bracket = what.find("] ");
    throw ScenarioError(doc->fileName + ": not valid JSON: " +
                        (bracket != std::string::npos ? what.substr(bracket + 2) : what));
  }
  LineScanner(doc->fileName, text, doc->lines).Run();
  return doc;
}

int ScenarioDocument::LineOf(const std::string& path) const {
  std::string p = path;
  for (;;) {
    auto it = lines.find(p);
    if (it != lines.end()) return it->second;
    const std::size_t cut = p.find_last_of(".[");
    if (cut == std::string::npos) return 1;
    p.resize(cut);
  }
}

void ScenarioDocument::RejectUnknownFields() const {
  std::vector<std::string> unread;
  CollectUnread(*root, "", consumed, unread);
  if (unread.empty()) return;
  std::ostringstream msg;
  msg << fileName << ":" << LineOf(unread.front()) << ": field '" << unread.front()
      << "': unknown field";
  throw ScenarioError(msg.str());
}

bool ScenarioNode::Has(std::string_view key) const {
  return value_->is_object() && value_->contains(key);
}

ScenarioNode ScenarioNode::Child(std::string_view key) const {
  ExpectObject();
  const std::string path = MemberPath(path_, key);
  auto it = value_->find(key);
  if (it == value_->end()) Fail("missing field '" + std::string(key) + "'");
  doc_->consumed.insert(path);
  return ScenarioNode(doc_, &*it, path);
}

std::optional<ScenarioNode> ScenarioNode::Optional(std::string_view key) const {
  ExpectObject();
  if (!Has(key)) return std::nullopt;
  return Child(key);
}

std::int64_t ScenarioNode::AsInt(std::int64_t min, std::int64_t max) const {
  const auto outOfRange = [&](const std::string& shown) {
    std::ostringstream msg;
    msg << "expected an integer from " << min << " to " << max << ", got " << shown;
    Fail(msg.str());
  };
  std::int64_t v = 0;
  if (value_->is_number_unsigned() && value_->get<std::uint64_t>() > INT64_MAX) {
    outOfRange(std::to_string(value_->get<std::uint64_t>()));
  } else if (value_->is_number_integer()) {
    v = value_->get<std::int64_t>();
  } else if (value_->is_number_float() &&
             std::nearbyint(value_->get<double>()) == value_->get<double>()) {
    // A whole number written as 1e3 is fine; one beyond 64 bits is not.
    const double d = value_->get<double>();
    if (!(d >= -9.2e18 && d <= 9.2e18)) outOfRange(value_->dump());
    v = static_cast<std::int64_t>(d);
  } else {
    Fail("expected an integer, got " + JsonTypeName(*value_));
  }
  if (v < min || v > max) outOfRange(std::to_string(v));
  return v;
}

float ScenarioNode::AsFloat() const {
  // JSON has no NaN or infinity: a scenario writes them as the trace does.
  if (value_->is_string()) {
    const std::string& word = value_->get_ref<const std::string&>();
    if (word == "NaN") return std::numeric_limits<float>::quiet_NaN();
    if (word == "Infinity") return std::numeric_limits<float>::infinity();
    if (word == "-Infinity") return -std::numeric_limits<float>::infinity();
    Fail("expected a number, \"NaN\", \"Infinity\" or \"-Infinity\", got \"" + word + "\"");
  }
  if (!value_->is_number()) Fail("expected a number, got " + JsonTypeName(*value_));
  const double d = value_->get<double>();
  if (!(std::fabs(d) < kFloatLimit)) {
    Fail("expected a number a float can hold (from -3.4028235e38 to 3.4028235e38), got " +
         value_->dump());
  }
  return static_cast<float>(d);
}

bool ScenarioNode::AsBool() const {
  if (value_->is_boolean()) return value_->get<bool>();
  // 0 and 1 as whole numbers, in the same sense as AsInt (1.0 is 1).
  if (value_->is_number()) {
    const double d = value_->get<double>();
    if (d == 0.0 || d == 1.0) return d == 1.0;
  }
  Fail("expected true or false, got " + JsonTypeName(*value_));
}

std::string ScenarioNode::AsString() const {
  if (!value_->is_string()) Fail("expected a string, got " + JsonTypeName(*value_));
  return value_->get<std::string>();
}

Vec3 ScenarioNode::AsVec3() const {
  if (!value_->is_array()) Fail("expected a position [x, y, z], got " + JsonTypeName(*value_));
  if (value_->size() != 3) {
    Fail("expected a position [x, y, z], got " + std::to_string(value_->size()) + " numbers");
  }
  const auto items = Items();
  return Vec3{items[0].AsFloat(), items[1].AsFloat(), items[2].AsFloat()};
}

std::vector<ScenarioNode> ScenarioNode::Items() const {
  if (!value_->is_array()) Fail("expected an array, got " + JsonTypeName(*value_));
  std::vector<ScenarioNode> out;
  out.reserve(value_->size());
  for (std::size_t i = 0; i < value_->size(); ++i) {
    out.emplace_back(doc_, &(*value_)[i], ElementPath(path_, i));
  }
  return out;
}

std::vector<std::string> ScenarioNode::Keys() const {
  ExpectObject();
  std::vector<std::string> keys;
  for (auto it = value_->begin(); it != value_->end(); ++it) keys.push_back(it.key());
  return keys;
}

std::int64_t ScenarioNode::Int(std::string_view key, std::int64_t fallback, std::int64_t min,
                               std::int64_t max) const {
  auto child = Optional(key);
  return child ? child->AsInt(min, max) : fallback;
}

float ScenarioNode::Float(std::string_view key, float fallback) const {
  auto child = Optional(key);
  return child ? child->AsFloat() : fallback;
}

bool ScenarioNode::Bool(std::string_view key, bool fallback) const {
  auto child = Optional(key);
  return child ? child->AsBool() : fallback;
}

std::string ScenarioNode::String(std::string_view key, const std::string& fallback) const {
  auto child = Optional(key);
  return child ? child->AsString() : fallback;
}

Vec3 ScenarioNode::Vector(std::string_view key, Vec3 fallback) const {
  auto child = Optional(key);
  return child ? child->AsVec3() : fallback;
}

void ScenarioNode::MarkAllRead() const {
  if (value_->is_object()) {
    for (const auto& key : Keys()) Child(key).MarkAllRead();
  } else if (value_->is_array()) {
    for (const auto& item : Items()) item.MarkAllRead();
  }
}

void ScenarioNode::ExpectObject() const {
  if (!value_->is_object()) Fail("expected an object, got " + JsonTypeName(*value_));
}

void ScenarioNode::Fail(const std::string& what) const {
  throw ScenarioError(Located(doc_->fileName, Line(), path_, what));
}

std::optional<std::int32_t> IndexKey(std::string_view key) {
  if (key.empty() || key.size() > 10 || (key.size() > 1 && key[0] == '0')) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : key) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

}  // namespace sim
