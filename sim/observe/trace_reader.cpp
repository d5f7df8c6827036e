// The recording reader. Each line is scanned once, key by key, straight into
// the entry, with no JSON tree in between: replay reads millions of lines a
// second this way, where building a tree for each would take most of its time.
// The scanner is strict JSON for the one shape a line has (an object of
// numbers, strings, literals and arrays of them).
#include "sim/observe/trace_reader.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "sim/base/number_format.h"

namespace sim {

// ---------------------------------------------------------------------------
// Where the lines come from.

struct TraceReader::Source {
  virtual ~Source() = default;
  // The next line, without its newline, into `line`; false at the end.
  // `complete`: whether it ended in a newline.
  virtual bool Line(std::string& line, bool& complete) = 0;
  // Whether reading stopped at an error rather than the end.
  virtual bool Failed() const { return false; }
};

namespace {

class FileSource : public TraceReader::Source {
 public:
  explicit FileSource(std::FILE* file) : file_(file), buffer_(kChunk) {}
  ~FileSource() override { std::fclose(file_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  bool Line(std::string& line, bool& complete) override {
    line.clear();
    for (;;) {
      if (begin_ == end_ && !Fill()) {
        complete = false;
        return !line.empty();
      }
      const char* start = buffer_.data() + begin_;
      const void* newline = std::memchr(start, '\n', end_ - begin_);
      if (newline != nullptr) {
        const std::size_t n = static_cast<const char*>(newline) - start;
        line.append(start, n);
        begin_ += n + 1;
        complete = true;
        return true;
      }
      line.append(start, end_ - begin_);
      begin_ = end_;
    }
  }

  bool Failed() const override { return std::ferror(file_) != 0; }

 private:
  static constexpr std::size_t kChunk = 1 << 20;

  bool Fill() {
    begin_ = 0;
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    return end_ > 0;
  }

  std::FILE* file_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

class TextSource : public TraceReader::Source {
 public:
  explicit TextSource(std::string text) : text_(std::move(text)) {}
  bool Line(std::string& line, bool& complete) override {
    if (at_ >= text_.size()) return false;
    const std::size_t newline = text_.find('\n', at_);
    complete = newline != std::string::npos;
    const std::size_t end = complete ? newline : text_.size();
    line.assign(text_, at_, end - at_);
    at_ = complete ? newline + 1 : text_.size();
    return true;
  }

 private:
  std::string text_;
  std::size_t at_ = 0;
};

// ---------------------------------------------------------------------------
// The scanner of one line.

// Thrown inside the scanner, turned into a RecordingError naming file and line.
struct LineFault {
  std::string what;
};

// How a field is named in messages: "args"[2], "outs"[0][1].
struct FieldName {
  const char* key = "";
  int index = -1;
  int subIndex = -1;
  std::string Text() const {
    std::string s = std::string("field \"") + key + "\"";
    if (index >= 0) s += "[" + std::to_string(index) + "]";
    if (subIndex >= 0) s += "[" + std::to_string(subIndex) + "]";
    return s;
  }
};

// Bytes a string holds as they are: anything but its closing quote, an
// escape, or a control character (which JSON does not allow in a string).
constexpr std::array<bool, 256> kPlainStringBytes = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 256; ++c) plain[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
  return plain;
}();

// What ends a number or a literal.
constexpr bool EndsWord(char c) {
  return c == ',' || c == ']' || c == '}' || c == ' ' || c == '\t' || c == '\r';
}

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

class Scanner {
 public:
  explicit Scanner(std::string_view text) : s_(text) {}

  void Ws() {
    while (p_ < s_.size() && (s_[p_] == ' ' || s_[p_] == '\t' || s_[p_] == '\r')) ++p_;
  }
  bool AtEnd() {
    Ws();
    return p_ >= s_.size();
  }
  char Peek() {
    Ws();
    return p_ < s_.size() ? s_[p_] : '\0';
  }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++p_;
    return true;
  }
  void Expect(char c, const char* what) {
    if (!Take(c)) [[unlikely]]
      FailExpected(what);
  }
  [[noreturn, gnu::cold, gnu::noinline]] void FailExpected(const char* what) {
    Fail(std::string("expected ") + what + ", found " + Found());
  }
  [[noreturn]] void Fail(const std::string& what) { throw LineFault{what}; }

  // What stands at the scanner's place, for messages.
  std::string Found() {
    Ws();
    if (p_ >= s_.size()) return "the end of the line";
    return Excerpt(s_.substr(p_, 1));
  }
  static std::string Excerpt(std::string_view raw) {
    constexpr std::size_t kMax = 40;
    if (raw.size() <= kMax) return std::string(raw);
    return std::string(raw.substr(0, kMax)) + "...";
  }

  // A string's content, unescaped, into `out` (whose room is kept).
  void String(std::string& out) {
    Ws();
    if (p_ >= s_.size() || s_[p_] != '"') Fail("expected a string, found " + Found());
    ++p_;
    out.clear();
    for (;;) {
      const std::size_t start = p_;
      while (p_ < s_.size() && kPlainStringBytes[static_cast<unsigned char>(s_[p_])]) ++p_;
      out.append(s_.data() + start, p_ - start);
      if (p_ >= s_.size()) Fail("a string is not closed before the end of the line");
      const char c = s_[p_++];
      if (c == '"') return;
      if (c != '\\') Fail("a control character inside a string");
      Escape(out);
    }
  }

  // A string's content: a view of the line where it has no escapes (keys,
  // names, hashes: nearly always), else unescaped into `scratch`.
  std::string_view View(std::string& scratch) {
    Ws();
    if (p_ < s_.size() && s_[p_] == '"') {
      std::size_t q = p_ + 1;
      while (q < s_.size() && kPlainStringBytes[static_cast<unsigned char>(s_[q])]) ++q;
      if (q < s_.size() && s_[q] == '"') {
        const std::string_view view = s_.substr(p_ + 1, q - p_ - 1);
        p_ = q + 1;
        return view;
      }
    }
    String(scratch);
    return scratch;
  }

  // The raw text of the value at the scanner's place, skipped; for messages.
  std::string_view SkipValue() {
    Ws();
    const std::size_t start = p_;
    std::string scratch;
    const char c = Peek();
    if (c == '"') {
      String(scratch);
    } else if (c == '[' || c == '{') {
      const char close = c == '[' ? ']' : '}';
      ++p_;
      if (!Take(close)) {
        do {
          if (close == '}') {
            String(scratch);
            Expect(':', "':'");
          }
          SkipValue();
        } while (Take(','));
        Expect(close, close == ']' ? "']'" : "'}'");
      }
    } else {
      while (p_ < s_.size() && !EndsWord(s_[p_])) ++p_;
      if (p_ == start) Fail("expected a value, found " + Found());
      const std::string_view word = s_.substr(start, p_ - start);
      if (word != "true" && word != "false" && word != "null") {
        double ignored = 0;
        if (!NumberText(word, ignored)) Fail("expected a value, found " + Excerpt(word));
      }
    }
    return s_.substr(start, p_ - start);
  }

  // Whether a number stands here (it is not consumed).
  bool AtNumber() {
    const char c = Peek();
    return c == '-' || (c >= '0' && c <= '9');
  }
  bool AtLiteral(std::string_view word) {
    Ws();
    return s_.substr(p_, word.size()) == word && !WordGoesOn(p_ + word.size());
  }
  void Literal(std::string_view word) {
    if (!AtLiteral(word)) Fail("expected " + std::string(word) + ", found " + Found());
    p_ += word.size();
  }

  // A JSON number as written, checked for JSON's form; its value in `value`.
  // `whole`: it has no fraction or exponent.
  std::string_view Number(double& value, bool& whole) {
    Ws();
    const std::size_t start = p_;
    if (QuickNumber(value, whole)) return s_.substr(start, p_ - start);
    while (p_ < s_.size() && !EndsWord(s_[p_])) ++p_;
    const std::string_view word = s_.substr(start, p_ - start);
    if (!NumberText(word, value)) {
      p_ = start;
      Fail("expected a number, found " + Excerpt(word));
    }
    whole = word.find_first_of(".eE") == std::string_view::npos;
    return word;
  }

  // The common forms, -12 and 0.923 with up to 15 digits, read directly: the
  // digits are a whole number a double holds exactly and so is the power of
  // ten, so the one division rounds as a full conversion does. Anything
  // else (an exponent, more digits, a malformed number) takes the long way.
  bool QuickNumber(double& value, bool& whole) {
    std::size_t q = p_;
    const std::size_t n = s_.size();
    const bool negative = q < n && s_[q] == '-';
    if (negative) ++q;
    const std::size_t first = q;
    std::uint64_t digits = 0;
    while (q < n && s_[q] >= '0' && s_[q] <= '9')
      digits = digits * 10 + static_cast<unsigned>(s_[q++] - '0');
    const std::size_t wholeDigits = q - first;
    if (wholeDigits == 0 || (wholeDigits > 1 && s_[first] == '0')) return false;
    std::size_t fraction = 0;
    if (q < n && s_[q] == '.') {
      const std::size_t point = ++q;
      while (q < n && s_[q] >= '0' && s_[q] <= '9')
        digits = digits * 10 + static_cast<unsigned>(s_[q++] - '0');
      fraction = q - point;
      if (fraction == 0) return false;
    }
    if (wholeDigits + fraction > 15 || (q < n && !EndsWord(s_[q]))) return false;
    double v = static_cast<double>(digits);
    if (fraction > 0) v /= kPowersOfTen[fraction];
    value = negative ? -v : v;
    whole = fraction == 0;
    p_ = q;
    return true;
  }

  // A whole number of up to 18 digits in JSON's form, read directly; false
  // (nothing read) for anything else.
  bool QuickWhole(std::int64_t& value) {
    Ws();
    std::size_t q = p_;
    const std::size_t n = s_.size();
    const bool negative = q < n && s_[q] == '-';
    if (negative) ++q;
    const std::size_t first = q;
    std::int64_t v = 0;
    while (q < n && s_[q] >= '0' && s_[q] <= '9') v = v * 10 + (s_[q++] - '0');
    const std::size_t digits = q - first;
    if (digits == 0 || digits > 18 || (digits > 1 && s_[first] == '0')) return false;
    if (q < n && !EndsWord(s_[q])) return false;
    value = negative ? -v : v;
    p_ = q;
    return true;
  }

  std::size_t Place() const { return p_; }
  void SetPlace(std::size_t p) { p_ = p; }

 private:
  bool WordGoesOn(std::size_t at) const { return at < s_.size() && !EndsWord(s_[at]); }

  // JSON's number grammar, then its value.
  static bool NumberText(std::string_view w, double& value) {
    std::size_t i = 0;
    if (i < w.size() && w[i] == '-') ++i;
    if (i >= w.size()) return false;
    if (w[i] == '0') {
      ++i;
    } else if (w[i] >= '1' && w[i] <= '9') {
      while (i < w.size() && w[i] >= '0' && w[i] <= '9') ++i;
    } else {
      return false;
    }
    if (i < w.size() && w[i] == '.') {
      ++i;
      const std::size_t digits = i;
      while (i < w.size() && w[i] >= '0' && w[i] <= '9') ++i;
      if (i == digits) return false;
    }
    if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
      ++i;
      if (i < w.size() && (w[i] == '+' || w[i] == '-')) ++i;
      const std::size_t digits = i;
      while (i < w.size() && w[i] >= '0' && w[i] <= '9') ++i;
      if (i == digits) return false;
    }
    if (i != w.size()) return false;
    const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), value);
    // Out of a double's range: infinity, as JSON readers take it.
    if (ec == std::errc::result_out_of_range) value = w[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    return end == w.data() + w.size();
  }

  unsigned Hex4() {
    if (p_ + 4 > s_.size()) Fail("a \\u escape is cut short");
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[p_++];
      v <<= 4;
      if (c >= '0' && c <= '9') {
        v |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        v |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        v |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        Fail("a \\u escape with a character that is not a hex digit");
      }
    }
    return v;
  }

  static void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  void Escape(std::string& out) {
    if (p_ >= s_.size()) Fail("a string is not closed before the end of the line");
    const char c = s_[p_++];
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += c;
        return;
      case 'b':
        out += '\b';
        return;
      case 'f':
        out += '\f';
        return;
      case 'n':
        out += '\n';
        return;
      case 'r':
        out += '\r';
        return;
      case 't':
        out += '\t';
        return;
      case 'u': {
        unsigned cp = Hex4();
        if (cp >= 0xD800 && cp <= 0xDBFF && s_.substr(p_, 2) == "\\u") {
          const std::size_t back = p_;
          p_ += 2;
          const unsigned low = Hex4();
          if (low >= 0xDC00 && low <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else {
            p_ = back;
          }
        }
        // A lone surrogate has no UTF-8: the replacement character, as the
        // trace writes bytes that are not UTF-8.
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
        AppendUtf8(out, cp);
        return;
      }
      default:
        Fail(std::string("an unknown escape \\") + c + " inside a string");
    }
  }

  std::string_view s_;
  std::size_t p_ = 0;
};

// ---------------------------------------------------------------------------
// Typed values of a line.

// A whole number from `low` to `high`, for the field named.
std::int64_t WholeNumber(Scanner& in, const FieldName& field, std::int64_t low, std::int64_t high) {
  const std::size_t at = in.Place();
  std::int64_t quick = 0;
  if (in.QuickWhole(quick) && quick >= low && quick <= high) [[likely]]
    return quick;
  in.SetPlace(at);
  if (!in.AtNumber()) {
    const std::string_view raw = in.SkipValue();
    throw LineFault{field.Text() + ": expected a whole number, got " + Scanner::Excerpt(raw)};
  }
  double value = 0;
  bool whole = false;
  const std::string_view raw = in.Number(value, whole);
  std::int64_t n = 0;
  bool read = whole;
  constexpr double kExact = 9007199254740992.0;  // 2^53: every whole double below is exact
  if (whole && value > -kExact && value < kExact) {
    n = static_cast<std::int64_t>(value);
  } else if (whole) {
    const auto [end, ec] = std::from_chars(raw.data(), raw.data() + raw.size(), n);
    read = ec == std::errc() && end == raw.data() + raw.size();
  }
  if (!read || n < low || n > high) {
    in.SetPlace(at);
    throw LineFault{field.Text() + ": expected a whole number from " + std::to_string(low) +
                    " to " + std::to_string(high) + ", got " + Scanner::Excerpt(raw)};
  }
  return n;
}

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kUint32Max = std::numeric_limits<std::uint32_t>::max();
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

// A float: a number, or "NaN", "Infinity", "-Infinity" as the trace writes
// what JSON has no number for.
float FloatValue(Scanner& in, const FieldName& field) {
  if (in.AtNumber()) {
    double value = 0;
    bool whole = false;
    in.Number(value, whole);
    return static_cast<float>(value);
  }
  if (in.Peek() == '"') {
    const std::size_t at = in.Place();
    std::string scratch;
    const std::string_view word = in.View(scratch);
    if (word == "NaN") return std::numeric_limits<float>::quiet_NaN();
    if (word == "Infinity") return std::numeric_limits<float>::infinity();
    if (word == "-Infinity") return -std::numeric_limits<float>::infinity();
    in.SetPlace(at);
  }
  const std::string_view raw = in.SkipValue();
  throw LineFault{field.Text() + ": expected a number, got " + Scanner::Excerpt(raw)};
}

bool BoolValue(Scanner& in, const FieldName& field) {
  if (in.AtLiteral("true")) {
    in.Literal("true");
    return true;
  }
  if (in.AtLiteral("false")) {
    in.Literal("false");
    return false;
  }
  const std::string_view raw = in.SkipValue();
  throw LineFault{field.Text() + ": expected true or false, got " + Scanner::Excerpt(raw)};
}

// A text, or null for a null pointer.
void TextValue(Scanner& in, const FieldName& field, TraceValue& out) {
  if (in.AtLiteral("null")) {
    in.Literal("null");
    out.kind = TraceValue::Kind::Null;
    return;
  }
  if (in.Peek() != '"') {
    const std::string_view raw = in.SkipValue();
    throw LineFault{field.Text() + ": expected a text or null, got " + Scanner::Excerpt(raw)};
  }
  out.kind = TraceValue::Kind::Text;
  in.String(out.text);
}

// `field` names the vector; its numbers are named by their place in it.
void VectorValue(Scanner& in, const FieldName& field, TraceValue& out) {
  if (in.Peek() != '[') {
    const std::string_view raw = in.SkipValue();
    throw LineFault{field.Text() + ": expected a vector [x, y, z], got " + Scanner::Excerpt(raw)};
  }
  in.Take('[');
  out.kind = TraceValue::Kind::Vector;
  for (int i = 0; i < 3; ++i) {
    if (i > 0 && !in.Take(',')) {
      throw LineFault{field.Text() + ": expected a vector of three numbers, found " + in.Found()};
    }
    FieldName number = field;
    (field.index >= 0 ? number.subIndex : number.index) = i;
    out.vector[i] = FloatValue(in, number);
  }
  if (!in.Take(']')) {
    throw LineFault{field.Text() + ": expected a vector of three numbers, found " + in.Found()};
  }
}

void Reset(TraceValue& v) {
  v.kind = TraceValue::Kind::Int;
  v.integer = 0;
  v.number = 0.0;
  v.text.clear();
}

// One argument of `kind` into `out`.
void ArgValue(Scanner& in, ArgKind kind, const FieldName& field, TraceValue& out) {
  Reset(out);
  switch (kind) {
    case ArgKind::Int:
      out.kind = TraceValue::Kind::Int;
      out.integer = WholeNumber(in, field, kInt32Min, kInt32Max);
      return;
    case ArgKind::Bool:
      out.kind = TraceValue::Kind::Bool;
      out.integer = BoolValue(in, field) ? 1 : 0;
      return;
    case ArgKind::Float:
      out.kind = TraceValue::Kind::Float;
      out.number = FloatValue(in, field);
      return;
    case ArgKind::Text:
    case ArgKind::TextOrNull:
      TextValue(in, field, out);
      return;
    case ArgKind::OutInt:
    case ArgKind::OutFloat:
    case ArgKind::OutVector:
    case ArgKind::InOutInt: {
      const std::size_t at = in.Place();
      if (in.Peek() == '"' && in.View(out.text) == "out") {
        out.text.clear();
        out.kind = TraceValue::Kind::Out;
        return;
      }
      in.SetPlace(at);
      const std::string_view raw = in.SkipValue();
      throw LineFault{field.Text() + ": expected \"out\" (an out-variable), got " +
                      Scanner::Excerpt(raw)};
    }
  }
}

bool IsOut(ArgKind kind) {
  return kind == ArgKind::OutInt || kind == ArgKind::OutFloat || kind == ArgKind::OutVector ||
         kind == ArgKind::InOutInt;
}

// The value an out-variable of `kind` was given.
void OutValue(Scanner& in, ArgKind kind, const FieldName& field, TraceValue& out) {
  Reset(out);
  switch (kind) {
    case ArgKind::OutFloat:
      out.kind = TraceValue::Kind::Float;
      out.number = FloatValue(in, field);
      return;
    case ArgKind::OutVector:
      VectorValue(in, field, out);
      return;
    default:
      out.kind = TraceValue::Kind::Int;
      out.integer = WholeNumber(in, field, kInt32Min, kInt32Max);
      return;
  }
}

void ResultValue(Scanner& in, ResultKind kind, TraceValue& out) {
  const FieldName field{"result"};
  Reset(out);
  switch (kind) {
    case ResultKind::Int:
      out.kind = TraceValue::Kind::Int;
      out.integer = WholeNumber(in, field, kInt32Min, kInt32Max);
      return;
    case ResultKind::Bool:
      out.kind = TraceValue::Kind::Bool;
      out.integer = BoolValue(in, field) ? 1 : 0;
      return;
    case ResultKind::Float:
      out.kind = TraceValue::Kind::Float;
      out.number = FloatValue(in, field);
      return;
    case ResultKind::Vector:
      VectorValue(in, field, out);
      return;
    case ResultKind::Text:
      TextValue(in, field, out);
      return;
    case ResultKind::None:
      break;
  }
  const std::string_view raw = in.SkipValue();
  throw LineFault{"field \"result\": the native answers nothing, but the line gives " +
                  Scanner::Excerpt(raw)};
}

// "0x" and up to 16 hex digits.
std::uint64_t HashValue(Scanner& in) {
  const std::size_t at = in.Place();
  std::string scratch;
  if (in.Peek() == '"') {
    const std::string_view text = in.View(scratch);
    std::uint64_t hash = 0;
    bool digits = text.size() > 2 && text.size() <= 18 && text[0] == '0' &&
                  (text[1] == 'x' || text[1] == 'X');
    for (std::size_t i = 2; digits && i < text.size(); ++i) {
      const char c = text[i];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                               : -1;
      digits = digit >= 0;
      hash = (hash << 4) | static_cast<unsigned>(digit & 15);
    }
    if (digits) return hash;
  }
  in.SetPlace(at);
  const std::string_view raw = in.SkipValue();
  throw LineFault{"field \"native\": expected a hash \"0x\" and 16 hex digits, got " +
                  Scanner::Excerpt(raw)};
}

// The fields of a line after the header.
enum class BodyKey { kFrame, kTime, kNative, kHost, kName, kArgs, kOuts, kResult, kBy, kOther };

// Whether `key` is `word`: a comparison of a known length, which the
// compiler does in place.
template <std::size_t N>
bool Is(std::string_view key, const char (&word)[N]) {
  return key.size() == N - 1 && std::memcmp(key.data(), word, N - 1) == 0;
}

// One look at the first letter and one comparison: every line has several.
BodyKey BodyKeyOf(std::string_view key) {
  if (key.empty()) return BodyKey::kOther;
  switch (key[0]) {
    case 'f':
      return Is(key, "frame") ? BodyKey::kFrame : BodyKey::kOther;
    case 't':
      return Is(key, "time") ? BodyKey::kTime : BodyKey::kOther;
    case 'n':
      return Is(key, "native") ? BodyKey::kNative
             : Is(key, "name") ? BodyKey::kName
                               : BodyKey::kOther;
    case 'h':
      return Is(key, "host") ? BodyKey::kHost : BodyKey::kOther;
    case 'a':
      return Is(key, "args") ? BodyKey::kArgs : BodyKey::kOther;
    case 'o':
      return Is(key, "outs") ? BodyKey::kOuts : BodyKey::kOther;
    case 'r':
      return Is(key, "result") ? BodyKey::kResult : BodyKey::kOther;
    case 'b':
      return Is(key, "by") ? BodyKey::kBy : BodyKey::kOther;
    default:
      return BodyKey::kOther;
  }
}

// The host events of the format, the most frequent first.
const std::vector<std::string_view>& HostKinds() {
  static const std::vector<std::string_view> kinds = {"scriptWait",
                                                      "randomDraw",
                                                      "keyboard",
                                                      "repeat",
                                                      "scriptStart",
                                                      "seed",
                                                      "attach",
                                                      "detach",
                                                      "scriptRegister",
                                                      "scriptUnregister",
                                                      "keyboardHandlerRegister",
                                                      "keyboardHandlerUnregister",
                                                      "dropped",
                                                      "capped",
                                                      "droppedKeys"};
  return kinds;
}

// The bounds of each named value of a host line.
void HostValueBounds(std::string_view host, std::string_view name, std::int64_t& low,
                     std::int64_t& high) {
  low = 0;
  high = kInt64Max;
  if (host == "seed") {
    high = (std::int64_t{1} << 53) - 1;
  } else if (host == "scriptWait" || host == "randomDraw") {
    high = kUint32Max;
  } else if (host == "keyboard") {
    high = name == "key"        ? kUint32Max
           : name == "repeats"  ? 0xFFFF
           : name == "scanCode" ? 0xFF
                                : kInt32Max;
    if (name != "key" && name != "repeats" && name != "scanCode") low = kInt32Min;
  } else if (host == "repeat") {
    if (name == "frames") low = 1;
    if (name == "firstFrame") low = -1;
    if (name == "firstTime") {
      low = kInt32Min;
      high = kInt32Max;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// The reader.

TraceReader::TraceReader(std::unique_ptr<Source> source, std::string name)
    : source_(std::move(source)), name_(std::move(name)) {}

TraceReader::~TraceReader() = default;

std::unique_ptr<TraceReader> TraceReader::Open(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    throw RecordingError(path + ": cannot be read: " + std::strerror(errno));
  }
  std::unique_ptr<TraceReader> reader(new TraceReader(std::make_unique<FileSource>(file), path));
  reader->ReadHeader();
  return reader;
}

std::unique_ptr<TraceReader> TraceReader::FromText(std::string text, std::string name) {
  std::unique_ptr<TraceReader> reader(
      new TraceReader(std::make_unique<TextSource>(std::move(text)), std::move(name)));
  reader->ReadHeader();
  return reader;
}

void TraceReader::Fail(std::int64_t line, const std::string& what) const {
  throw RecordingError(name_ + ":" + std::to_string(line) + ": " + what);
}

bool TraceReader::ReadLine() {
  bool complete = true;
  if (!source_->Line(lineText_, complete)) {
    if (source_->Failed()) {
      Fail(lineNumber_ + 1, "cannot be read further: " + std::string(std::strerror(errno)));
    }
    return false;
  }
  ++lineNumber_;
  if (!complete) {
    // A recording cut off mid-write (the game crashed, the disk filled):
    // the last line is refused rather than guessed at.
    bool whole = true;
    try {
      Scanner in(lineText_);
      in.SkipValue();
      whole = in.AtEnd();
    } catch (const LineFault&) {
      whole = false;
    }
    if (!whole)
      Fail(lineNumber_, "the last line is cut short (no newline at its end, and not whole JSON)");
  }
  return true;
}

void TraceReader::ReadHeader() {
  if (!ReadLine()) return;  // an empty trace
  Scanner in(lineText_);
  // Only a line that opens with "format" is a header; anything else is the
  // first line of a simulator trace.
  {
    Scanner probe(lineText_);
    std::string key;
    bool isHeader = false;
    try {
      isHeader = probe.Take('{') && probe.Peek() == '"' && (probe.String(key), key == "format");
    } catch (const LineFault&) {
      isHeader = false;
    }
    if (!isHeader) {
      headerLinePending_ = true;
      return;
    }
  }
  try {
    // The version is looked at before anything else: a newer format may
    // have other fields.
    {
      Scanner look(lineText_);
      look.Take('{');
      std::string key;
      std::optional<std::int64_t> version;
      do {
        look.String(key);
        look.Expect(':', "':'");
        if (key == "version") {
          version = WholeNumber(look, FieldName{"version"}, 0, kInt64Max);
          break;
        }
        look.SkipValue();
      } while (look.Take(','));
      if (!version) throw LineFault{"field \"version\": missing from the header"};
      if (*version > kRecordingFormatVersion) {
        throw LineFault{"a newer format (version " + std::to_string(*version) +
                        ") than this rebound-sim reads (" +
                        std::to_string(kRecordingFormatVersion) + ")"};
      }
      if (*version < 1) {
        throw LineFault{"field \"version\": expected a version from 1 to " +
                        std::to_string(kRecordingFormatVersion) + ", got " +
                        std::to_string(*version)};
      }
      header_.version = *version;
    }
    in.Expect('{', "'{'");
    std::string key;
    std::string format;
    const auto optionalText = [&in](const char* name, std::optional<std::string>& out) {
      if (in.AtLiteral("null")) {
        in.Literal("null");
        out.reset();
        return;
      }
      if (in.Peek() != '"') {
        const std::string_view raw = in.SkipValue();
        throw LineFault{std::string("field \"") + name + "\": expected a text or null, got " +
                        Scanner::Excerpt(raw)};
      }
      out.emplace();
      in.String(*out);
    };
    const auto text = [&in](const char* name, std::string& out) {
      if (in.Peek() != '"') {
        const std::string_view raw = in.SkipValue();
        throw LineFault{std::string("field \"") + name + "\": expected a text, got " +
                        Scanner::Excerpt(raw)};
      }
      in.String(out);
    };
    std::vector<std::string> seen;
    if (!in.Take('}')) {
      do {
        in.String(key);
        in.Expect(':', "':' after a key");
        for (const std::string& s : seen) {
          if (s == key) throw LineFault{"field \"" + key + "\": given twice"};
        }
        seen.push_back(key);
        if (key == "format") {
          text("format", format);
          if (format != "rebound-recording") {
            throw LineFault{"field \"format\": expected \"rebound-recording\", got \"" + format +
                            "\""};
          }
        } else if (key == "version") {
          in.SkipValue();  // read above
        } else if (key == "rebound") {
          text("rebound", header_.rebound);
        } else if (key == "build") {
          text("build", header_.build);
        } else if (key == "platform") {
          text("platform", header_.platform);
          if (header_.platform != "windows" && header_.platform != "linux") {
            throw LineFault{"field \"platform\": expected \"windows\" or \"linux\", got \"" +
                            header_.platform + "\""};
          }
        } else if (key == "hostFile") {
          optionalText("hostFile", header_.hostFile);
        } else if (key == "hostVersion") {
          optionalText("hostVersion", header_.hostVersion);
        } else if (key == "gameFile") {
          optionalText("gameFile", header_.gameFile);
        } else if (key == "gameVersion") {
          optionalText("gameVersion", header_.gameVersion);
        } else if (key == "frameBase") {
          if (in.AtLiteral("null")) {
            in.Literal("null");
          } else {
            header_.frameBase = WholeNumber(in, FieldName{"frameBase"}, kInt32Min, kUint32Max);
          }
        } else {
          throw LineFault{"field \"" + key + "\": not a field of the header"};
        }
      } while (in.Take(','));
      in.Expect('}', "',' or '}'");
    }
    if (!in.AtEnd()) throw LineFault{"more after the header's closing brace: " + in.Found()};
    for (const char* required : {"rebound", "build", "platform"}) {
      bool found = false;
      for (const std::string& s : seen) found = found || s == required;
      if (!found)
        throw LineFault{std::string("field \"") + required + "\": missing from the header"};
    }
  } catch (const LineFault& fault) {
    Fail(lineNumber_, fault.what);
  }
}

TraceReader::Given TraceReader::ParseBody(TraceEntry& entry) {
  entry.native = nullptr;
  entry.host.clear();
  entry.outs.clear();
  entry.result.reset();
  entry.byRecorder = false;
  entry.frame = 0;
  entry.time = 0;
  Given given;
  Scanner in(lineText_);
  std::string_view key;
  bool hasArgs = false;
  bool hasOuts = false;
  std::size_t hostValues = 0;        // named values of a host line read so far
  std::uint32_t hostValuesSeen = 0;  // bit i: the i-th named value was given
  const std::vector<std::string_view>* names = nullptr;
  try {
    in.Expect('{', "a JSON object '{'");
    if (in.Take('}')) throw LineFault{"an empty object: neither a native call nor a host event"};
    do {
      key = in.View(keyScratch_);
      in.Expect(':', "':' after a key");
      const BodyKey which = BodyKeyOf(key);
      if (which == BodyKey::kFrame) {
        if (given.frame) throw LineFault{"field \"frame\": given twice"};
        entry.frame = WholeNumber(in, FieldName{"frame"}, -1, kInt64Max);
        given.frame = true;
      } else if (which == BodyKey::kTime) {
        if (given.time) throw LineFault{"field \"time\": given twice"};
        entry.time =
            static_cast<std::int32_t>(WholeNumber(in, FieldName{"time"}, kInt32Min, kInt32Max));
        given.time = true;
      } else if (which == BodyKey::kNative) {
        if (entry.native != nullptr || names != nullptr)
          throw LineFault{"field \"native\": given twice, or with \"host\""};
        const std::uint64_t hash = HashValue(in);
        entry.native = FindNative(hash);
        if (entry.native == nullptr) {
          throw LineFault{"field \"native\": " + HexHash(hash) + " is not a native of the game"};
        }
      } else if (which == BodyKey::kHost) {
        if (entry.native != nullptr || names != nullptr)
          throw LineFault{"field \"host\": given twice, or with \"native\""};
        if (in.Peek() != '"') {
          const std::string_view raw = in.SkipValue();
          throw LineFault{"field \"host\": expected the name of a host event, got " +
                          Scanner::Excerpt(raw)};
        }
        in.String(entry.host);
        bool known = false;
        for (std::string_view kind : HostKinds()) {
          if (kind == entry.host) {
            known = true;
            break;
          }
        }
        if (!known)
          throw LineFault{"field \"host\": \"" + entry.host +
                          "\" is not a host event of the format"};
        names = &HostValueNames(entry.host);
        entry.args.resize(names->size());
        for (TraceValue& v : entry.args) Reset(v);
      } else if (which == BodyKey::kName) {
        if (entry.native == nullptr)
          throw LineFault{"field \"name\": only a native line has a name, after \"native\""};
        const std::string_view name = in.View(nameScratch_);
        if (name != entry.native->name) {
          throw LineFault{"field \"name\": \"" + std::string(name) + "\" is not the name of " +
                          HexHash(entry.native->hash) + " (" + entry.native->name + ")"};
        }
      } else if (which == BodyKey::kArgs) {
        if (entry.native == nullptr)
          throw LineFault{"field \"args\": only a native line has args, after \"native\""};
        if (hasArgs) throw LineFault{"field \"args\": given twice"};
        hasArgs = true;
        const std::vector<ArgKind>& kinds = entry.native->args;
        if (in.Peek() != '[') {
          const std::string_view raw = in.SkipValue();
          throw LineFault{"field \"args\": expected an array, got " + Scanner::Excerpt(raw)};
        }
        in.Take('[');
        entry.args.resize(kinds.size());
        std::size_t n = 0;
        if (!in.Take(']')) {
          do {
            if (n >= kinds.size()) {
              throw LineFault{"field \"args\": more than the " + std::to_string(kinds.size()) +
                              " arguments " + entry.native->name + " takes"};
            }
            ArgValue(in, kinds[n], FieldName{"args", static_cast<int>(n)}, entry.args[n]);
            ++n;
          } while (in.Take(','));
          in.Expect(']', "',' or ']' in \"args\"");
        }
        if (n != kinds.size()) {
          throw LineFault{"field \"args\": " + std::to_string(n) + " arguments, " +
                          entry.native->name + " takes " + std::to_string(kinds.size())};
        }
      } else if (which == BodyKey::kOuts) {
        if (!hasArgs)
          throw LineFault{"field \"outs\": only a native line has outs, after \"args\""};
        if (hasOuts) throw LineFault{"field \"outs\": given twice"};
        hasOuts = true;
        const std::vector<ArgKind>& kinds = entry.native->args;
        if (in.Peek() != '[') {
          const std::string_view raw = in.SkipValue();
          throw LineFault{"field \"outs\": expected an array, got " + Scanner::Excerpt(raw)};
        }
        in.Take('[');
        std::size_t arg = 0;  // the argument the next out belongs to
        std::size_t n = 0;
        const auto nextOut = [&] {
          while (arg < kinds.size() && !IsOut(kinds[arg])) ++arg;
          return arg < kinds.size();
        };
        if (!in.Take(']')) {
          do {
            if (!nextOut()) {
              throw LineFault{"field \"outs\": more values than " + entry.native->name +
                              " has out-variables"};
            }
            if (entry.outs.size() <= n) entry.outs.emplace_back();
            OutValue(in, kinds[arg], FieldName{"outs", static_cast<int>(n)}, entry.outs[n]);
            ++arg;
            ++n;
          } while (in.Take(','));
          in.Expect(']', "',' or ']' in \"outs\"");
        }
        entry.outs.resize(n);
        if (nextOut()) {
          throw LineFault{"field \"outs\": " + std::to_string(n) + " values, fewer than " +
                          entry.native->name + "'s out-variables"};
        }
      } else if (which == BodyKey::kResult) {
        if (!hasArgs)
          throw LineFault{"field \"result\": only a native line has a result, after \"args\""};
        if (entry.result) throw LineFault{"field \"result\": given twice"};
        entry.result.emplace();
        ResultValue(in, entry.native->result, *entry.result);
      } else if (which == BodyKey::kBy) {
        if (entry.native == nullptr)
          throw LineFault{"field \"by\": only a native line is made by the recorder"};
        const std::string_view by = in.View(nameScratch_);
        if (by != "recorder") {
          throw LineFault{"field \"by\": expected \"recorder\", got \"" + std::string(by) + "\""};
        }
        entry.byRecorder = true;
      } else if (names != nullptr) {
        std::size_t i = 0;
        while (i < names->size() && (*names)[i] != key) ++i;
        if (i == names->size()) {
          throw LineFault{"field \"" + std::string(key) + "\": not a field of a " + entry.host +
                          " line"};
        }
        if ((hostValuesSeen >> i) & 1U)
          throw LineFault{"field \"" + std::string(key) + "\": given twice"};
        hostValuesSeen |= 1U << i;
        std::int64_t low = 0;
        std::int64_t high = 0;
        HostValueBounds(entry.host, key, low, high);
        FieldName field;
        field.key = (*names)[i].data();
        entry.args[i].kind = TraceValue::Kind::Int;
        entry.args[i].integer = WholeNumber(in, field, low, high);
        ++hostValues;
      } else {
        throw LineFault{"field \"" + std::string(key) + "\": not a field of a " +
                        (entry.native != nullptr ? std::string("native") : std::string("trace")) +
                        " line"};
      }
    } while (in.Take(','));
    in.Expect('}', "',' or '}'");
    if (!in.AtEnd()) throw LineFault{"more after the line's closing brace: " + in.Found()};
    if (entry.native != nullptr) {
      if (!hasArgs) throw LineFault{"field \"args\": missing from the native line"};
      if (!hasOuts) {
        // A call with out-variables always gives what they were set to.
        for (ArgKind kind : entry.native->args) {
          if (IsOut(kind))
            throw LineFault{"field \"outs\": missing; " + entry.native->name +
                            " has out-variables"};
        }
      }
    } else if (names != nullptr) {
      if (hostValues != names->size()) {
        for (std::size_t i = 0; i < names->size(); ++i) {
          if (((hostValuesSeen >> i) & 1U) == 0) {
            throw LineFault{"field \"" + std::string((*names)[i]) + "\": missing from the " +
                            entry.host + " line"};
          }
        }
      }
    } else {
      throw LineFault{"neither a native call nor a host event (no \"native\" or \"host\" field)"};
    }
  } catch (const LineFault& fault) {
    Fail(lineNumber_, fault.what);
  }
  return given;
}

bool TraceReader::Next(TraceEntry& entry) {
  // Lines that waited for their frame and have it now go first.
  if (waitingNext_ < waitingReady_) {
    Waiting& w = waiting_[waitingNext_++];
    std::swap(entry, w.entry);
    line_ = w.line;
    if (waitingNext_ == waitingReady_) {
      waiting_.clear();
      waitingNext_ = waitingReady_ = 0;
    }
    return true;
  }
  for (;;) {
    if (headerLinePending_) {
      headerLinePending_ = false;
    } else if (!ReadLine()) {
      break;
    }
    const bool waitingBefore = !waiting_.empty();
    TraceEntry& target = waitingBefore ? waiting_.emplace_back().entry : entry;
    const Given given = ParseBody(target);
    if (given.frame) lastFrame_ = target.frame;
    if (given.time) lastTime_ = target.time;
    if (given.frame && given.time) {
      if (!waitingBefore) {
        line_ = lineNumber_;
        return true;
      }
      waiting_.back().line = lineNumber_;
      waiting_.back().given = given;
      for (Waiting& w : waiting_) {
        if (!w.given.frame) w.entry.frame = target.frame;
        if (!w.given.time) w.entry.time = target.time;
      }
      waitingReady_ = waiting_.size();
      return Next(entry);
    }
    if (!waitingBefore) {
      Waiting& w = waiting_.emplace_back();
      std::swap(w.entry, entry);
      w.line = lineNumber_;
      w.given = given;
    } else {
      waiting_.back().line = lineNumber_;
      waiting_.back().given = given;
    }
  }
  // The end: lines still waiting take the last frame and time given.
  if (waiting_.empty()) return false;
  for (Waiting& w : waiting_) {
    if (!w.given.frame) w.entry.frame = lastFrame_.value_or(-1);
    if (!w.given.time) w.entry.time = lastTime_.value_or(0);
  }
  waitingReady_ = waiting_.size();
  return Next(entry);
}

Recording ReadRecordingText(std::string text, std::string name) {
  std::unique_ptr<TraceReader> reader = TraceReader::FromText(std::move(text), std::move(name));
  Recording recording;
  recording.header = reader->Header();
  TraceEntry entry;
  while (reader->Next(entry)) recording.entries.push_back(entry);
  return recording;
}

// ---------------------------------------------------------------------------
// Repeats.

void RepeatExpander::Remember(const TraceEntry& entry) {
  if (frameClosed_) {
    frameSize_ = 0;
    frameClosed_ = false;
  }
  if (frameSize_ == frame_.size()) {
    frame_.push_back(entry);
  } else {
    frame_[frameSize_] = entry;
  }
  ++frameSize_;
  if (entry.IsHost("scriptWait")) frameClosed_ = true;
}

void RepeatExpander::StartRepeat(const TraceEntry& repeat) {
  if (!frameClosed_ || frameSize_ == 0) {
    reader_.Fail(reader_.Line(),
                 "field \"host\": a repeat line must follow a frame that ended in its scriptWait");
  }
  repeatLine_ = reader_.Line();
  frames_ = repeat.args[0].integer;
  firstFrame_ = repeat.args[1].integer;
  firstTime_ = repeat.args[2].integer;
  lastTime_ = repeat.time;
  if (repeat.frame != firstFrame_ + frames_ - 1) {
    reader_.Fail(reader_.Line(), "field \"frames\": " + std::to_string(frames_) +
                                     " frames from frame " + std::to_string(firstFrame_) +
                                     " do not end at the line's frame " +
                                     std::to_string(repeat.frame));
  }
  left_ = frames_;
  index_ = 0;
  position_ = 0;
}

bool RepeatExpander::Next(TraceEntry& entry) {
  for (;;) {
    if (left_ > 0) {
      const TraceEntry& model = frame_[position_];
      entry = model;
      entry.frame = firstFrame_ + index_;
      // The game timer may wrap within the stretch: its span is taken modulo
      // 2^32, and so never negative.
      const std::int64_t span = static_cast<std::uint32_t>(lastTime_ - firstTime_);
      const std::int64_t time =
          frames_ <= 1 ? lastTime_ : firstTime_ + span * index_ / (frames_ - 1);
      entry.time = static_cast<std::int32_t>(static_cast<std::uint32_t>(time));
      if (entry.byRecorder && entry.result && entry.native != nullptr) {
        if (entry.native->name == "GET_FRAME_COUNT") {
          entry.result->integer =
              static_cast<std::int32_t>(model.result->integer + entry.frame - model.frame);
        } else if (entry.native->name == "GET_GAME_TIMER") {
          entry.result->integer = entry.time;
        }
      }
      line_ = repeatLine_;
      if (++position_ == frameSize_) {
        position_ = 0;
        ++index_;
        --left_;
      }
      return true;
    }
    if (!reader_.Next(entry)) return false;
    line_ = reader_.Line();
    if (entry.IsHost("repeat")) {
      StartRepeat(entry);
      continue;
    }
    Remember(entry);
    return true;
  }
}

}  // namespace sim
