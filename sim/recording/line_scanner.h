// A scanner of one line of a recording: strict JSON for the one shape a line
// has (an object of numbers, strings, literals and arrays of them), read in
// place, with the common forms (a key, a plain string, a whole number, a short
// decimal) taken on a quick way. Used by the recording reader alone.
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim::json_line {

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

// The deepest nesting of arrays and objects a line may have; a recording's
// lines go two deep.
inline constexpr int kMaxDepth = 64;

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
  // Arrays and objects nested deeper than kMaxDepth are refused: a line is
  // untrusted, and each level costs a frame of the stack.
  std::string_view SkipValue(int depth = 0) {
    Ws();
    if (depth >= kMaxDepth) {
      Fail("arrays and objects nested more than " + std::to_string(kMaxDepth) + " deep");
    }
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
          SkipValue(depth + 1);
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
    // Counted before they are added up: a 19th digit could overflow.
    while (q < n && s_[q] >= '0' && s_[q] <= '9') {
      if (q - first == 18) return false;
      v = v * 10 + (s_[q++] - '0');
    }
    const std::size_t digits = q - first;
    if (digits == 0 || (digits > 1 && s_[first] == '0')) return false;
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

}  // namespace sim::json_line
