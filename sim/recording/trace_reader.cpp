// The recording reader. Each line is scanned once, key by key, straight into
// the entry, with no JSON tree in between (line_scanner.h): replay reads
// millions of lines a second this way, where building a tree for each would
// take most of its time.
#include "sim/recording/trace_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "sim/base/number_format.h"
#include "sim/recording/line_scanner.h"

namespace sim {

using json_line::FieldName;
using json_line::LineFault;
using json_line::Scanner;

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
enum class BodyKey { Frame, Time, Native, Host, Name, Args, Outs, Result, By, Other };

// Whether `key` is `word`: a comparison of a known length, which the
// compiler does in place.
template <std::size_t N>
bool Is(std::string_view key, const char (&word)[N]) {
  return key.size() == N - 1 && std::memcmp(key.data(), word, N - 1) == 0;
}

// One look at the first letter and one comparison: every line has several.
BodyKey BodyKeyOf(std::string_view key) {
  if (key.empty()) return BodyKey::Other;
  switch (key[0]) {
    case 'f':
      return Is(key, "frame") ? BodyKey::Frame : BodyKey::Other;
    case 't':
      return Is(key, "time") ? BodyKey::Time : BodyKey::Other;
    case 'n':
      return Is(key, "native") ? BodyKey::Native : Is(key, "name") ? BodyKey::Name : BodyKey::Other;
    case 'h':
      return Is(key, "host") ? BodyKey::Host : BodyKey::Other;
    case 'a':
      return Is(key, "args") ? BodyKey::Args : BodyKey::Other;
    case 'o':
      return Is(key, "outs") ? BodyKey::Outs : BodyKey::Other;
    case 'r':
      return Is(key, "result") ? BodyKey::Result : BodyKey::Other;
    case 'b':
      return Is(key, "by") ? BodyKey::By : BodyKey::Other;
    default:
      return BodyKey::Other;
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
                                                      "droppedKeys",
                                                      "fault",
                                                      "getGameVersion",
                                                      "getGameVersionInfo",
                                                      "getGlobalPtr",
                                                      "getScriptHandleBaseAddress",
                                                      "worldGetAllVehicles",
                                                      "worldGetAllPeds",
                                                      "worldGetAllObjects",
                                                      "worldGetAllPickups",
                                                      "createTexture",
                                                      "drawTexture",
                                                      "presentCallbackRegister",
                                                      "presentCallbackUnregister",
                                                      "present",
                                                      "nativeCanExecuteInThisContext",
                                                      "scriptsAreLaunchedUsingReloading"};
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
  } else if (host == "getGameVersion" || host == "getScriptHandleBaseAddress" ||
             host == "drawTexture" || host.rfind("worldGetAll", 0) == 0 ||
             host == "createTexture" || host == "getGlobalPtr") {
    // The services' values are the int arguments and results of the host's
    // functions.
    low = kInt32Min;
    high = kInt32Max;
  } else if (host == "repeat") {
    high = kMaxRecordedFrame + 1;
    if (name == "frames") low = 1;
    if (name == "firstFrame") low = -1;
    if (name == "firstTime") {
      low = kInt32Min;
      high = kInt32Max;
    }
  }
}

// Only a line that opens with "format" is a header.
bool IsHeaderLine(std::string_view line) {
  try {
    Scanner probe(line);
    std::string key;
    return probe.Take('{') && probe.Peek() == '"' && (probe.String(key), key == "format");
  } catch (const LineFault&) {
    return false;
  }
}

// The header's version, looked at before anything else: a newer format may
// have other fields.
std::int64_t HeaderVersion(std::string_view line) {
  Scanner look(line);
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
                    ") than this rebound-sim reads (" + std::to_string(kRecordingFormatVersion) +
                    ")"};
  }
  if (*version < 1) {
    throw LineFault{"field \"version\": expected a version from 1 to " +
                    std::to_string(kRecordingFormatVersion) + ", got " + std::to_string(*version)};
  }
  return *version;
}

void HeaderText(Scanner& in, const std::string& key, std::string& out) {
  if (in.Peek() != '"') {
    const std::string_view raw = in.SkipValue();
    throw LineFault{"field \"" + key + "\": expected a text, got " + Scanner::Excerpt(raw)};
  }
  in.String(out);
}

// A text the recorder could not read where it ran: null.
void HeaderTextOrNull(Scanner& in, const std::string& key, std::optional<std::string>& out) {
  if (in.AtLiteral("null")) {
    in.Literal("null");
    out.reset();
    return;
  }
  if (in.Peek() != '"') {
    const std::string_view raw = in.SkipValue();
    throw LineFault{"field \"" + key + "\": expected a text or null, got " + Scanner::Excerpt(raw)};
  }
  out.emplace();
  in.String(*out);
}

// One field of the header (its version read already).
void HeaderField(Scanner& in, const std::string& key, RecordingHeader& header) {
  std::optional<std::string>* optional = key == "hostFile"      ? &header.hostFile
                                         : key == "hostVersion" ? &header.hostVersion
                                         : key == "gameFile"    ? &header.gameFile
                                         : key == "gameVersion" ? &header.gameVersion
                                                                : nullptr;
  std::string* text = key == "rebound"    ? &header.rebound
                      : key == "build"    ? &header.build
                      : key == "platform" ? &header.platform
                                          : nullptr;
  if (optional != nullptr) return HeaderTextOrNull(in, key, *optional);
  if (text != nullptr) {
    HeaderText(in, key, *text);
    if (key == "platform" && *text != "windows" && *text != "linux") {
      throw LineFault{"field \"platform\": expected \"windows\" or \"linux\", got \"" + *text +
                      "\""};
    }
    return;
  }
  if (key == "format") {
    std::string format;
    HeaderText(in, key, format);
    if (format != "rebound-recording") {
      throw LineFault{"field \"format\": expected \"rebound-recording\", got \"" + format + "\""};
    }
  } else if (key == "version") {
    in.SkipValue();  // read first
  } else if (key == "frameBase") {
    if (in.AtLiteral("null")) {
      in.Literal("null");
    } else {
      header.frameBase = WholeNumber(in, FieldName{"frameBase"}, kInt32Min, kUint32Max);
    }
  } else {
    throw LineFault{"field \"" + key + "\": not a field of the header"};
  }
}

void ReadHeaderFields(std::string_view line, RecordingHeader& header) {
  Scanner in(line);
  in.Expect('{', "'{'");
  std::vector<std::string> seen;
  if (!in.Take('}')) {
    do {
      std::string key;
      in.String(key);
      in.Expect(':', "':' after a key");
      if (std::find(seen.begin(), seen.end(), key) != seen.end())
        throw LineFault{"field \"" + key + "\": given twice"};
      seen.push_back(key);
      HeaderField(in, key, header);
    } while (in.Take(','));
    in.Expect('}', "',' or '}'");
  }
  if (!in.AtEnd()) throw LineFault{"more after the header's closing brace: " + in.Found()};
  for (const char* required : {"rebound", "build", "platform"}) {
    if (std::find(seen.begin(), seen.end(), required) == seen.end())
      throw LineFault{std::string("field \"") + required + "\": missing from the header"};
  }
}

// One line after the header into an entry, field by field. Every method
// throws LineFault naming the field.
class BodyParser {
 public:
  BodyParser(std::string_view line, TraceEntry& entry, std::string& keyScratch,
             std::string& nameScratch)
      : in_(line), entry_(entry), keyScratch_(keyScratch), nameScratch_(nameScratch) {
    entry.native = nullptr;
    entry.host.clear();
    entry.outs.clear();
    entry.result.reset();
    entry.byRecorder = false;
    entry.frame = 0;
    entry.time = 0;
  }

  void Parse() {
    in_.Expect('{', "a JSON object '{'");
    if (in_.Take('}')) throw LineFault{"an empty object: neither a native call nor a host event"};
    do {
      const std::string_view key = in_.View(keyScratch_);
      in_.Expect(':', "':' after a key");
      try {
        Field(key);
      } catch (LineFault& fault) {
        // Whatever went wrong in a value, the message names its field.
        if (fault.what.rfind("field ", 0) != 0)
          fault.what = "field \"" + std::string(key) + "\": " + fault.what;
        throw;
      }
    } while (in_.Take(','));
    in_.Expect('}', "',' or '}'");
    if (!in_.AtEnd()) throw LineFault{"more after the line's closing brace: " + in_.Found()};
    Complete();
  }

  bool GaveFrame() const { return gaveFrame_; }
  bool GaveTime() const { return gaveTime_; }

 private:
  void Field(std::string_view key) {
    switch (BodyKeyOf(key)) {
      case BodyKey::Frame:
        if (gaveFrame_) throw LineFault{"field \"frame\": given twice"};
        entry_.frame = WholeNumber(in_, FieldName{"frame"}, -1, kMaxRecordedFrame);
        gaveFrame_ = true;
        return;
      case BodyKey::Time:
        if (gaveTime_) throw LineFault{"field \"time\": given twice"};
        entry_.time =
            static_cast<std::int32_t>(WholeNumber(in_, FieldName{"time"}, kInt32Min, kInt32Max));
        gaveTime_ = true;
        return;
      case BodyKey::Native:
        return Native();
      case BodyKey::Host:
        return Host();
      case BodyKey::Name:
        return Name();
      case BodyKey::Args:
        return Args();
      case BodyKey::Outs:
        return Outs();
      case BodyKey::Result:
        if (!hasArgs_)
          throw LineFault{"field \"result\": only a native line has a result, after \"args\""};
        if (entry_.result) throw LineFault{"field \"result\": given twice"};
        entry_.result.emplace();
        return ResultValue(in_, entry_.native->result, *entry_.result);
      case BodyKey::By:
        return By();
      case BodyKey::Other:
        if (names_ != nullptr) return HostValue(key);
        throw LineFault{"field \"" + std::string(key) + "\": not a field of a " +
                        (entry_.native != nullptr ? std::string("native") : std::string("trace")) +
                        " line"};
    }
  }

  void Native() {
    if (entry_.native != nullptr || names_ != nullptr)
      throw LineFault{"field \"native\": given twice, or with \"host\""};
    const std::uint64_t hash = HashValue(in_);
    entry_.native = FindNative(hash);
    if (entry_.native == nullptr) {
      throw LineFault{"field \"native\": " + HexHash(hash) + " is not a native of the game"};
    }
  }

  void Host() {
    if (entry_.native != nullptr || names_ != nullptr)
      throw LineFault{"field \"host\": given twice, or with \"native\""};
    if (in_.Peek() != '"') {
      const std::string_view raw = in_.SkipValue();
      throw LineFault{"field \"host\": expected the name of a host event, got " +
                      Scanner::Excerpt(raw)};
    }
    in_.String(entry_.host);
    const std::vector<std::string_view>& kinds = HostKinds();
    if (std::find(kinds.begin(), kinds.end(), entry_.host) == kinds.end())
      throw LineFault{"field \"host\": \"" + entry_.host + "\" is not a host event of the format"};
    names_ = &HostValueNames(entry_.host);
    entry_.args.resize(names_->size());
    for (TraceValue& v : entry_.args) Reset(v);
  }

  void Name() {
    if (entry_.native == nullptr)
      throw LineFault{"field \"name\": only a native line has a name, after \"native\""};
    const std::string_view name = in_.View(nameScratch_);
    if (name != entry_.native->name) {
      throw LineFault{"field \"name\": \"" + std::string(name) + "\" is not the name of " +
                      HexHash(entry_.native->hash) + " (" + entry_.native->name + ")"};
    }
  }

  void Args() {
    if (entry_.native == nullptr)
      throw LineFault{"field \"args\": only a native line has args, after \"native\""};
    if (hasArgs_) throw LineFault{"field \"args\": given twice"};
    hasArgs_ = true;
    const std::vector<ArgKind>& kinds = entry_.native->args;
    OpenArray("args");
    entry_.args.resize(kinds.size());
    std::size_t n = 0;
    if (!in_.Take(']')) {
      do {
        if (n >= kinds.size()) {
          throw LineFault{"field \"args\": more than the " + std::to_string(kinds.size()) +
                          " arguments " + entry_.native->name + " takes"};
        }
        ArgValue(in_, kinds[n], FieldName{"args", static_cast<int>(n)}, entry_.args[n]);
        ++n;
      } while (in_.Take(','));
      in_.Expect(']', "',' or ']' in \"args\"");
    }
    if (n != kinds.size()) {
      throw LineFault{"field \"args\": " + std::to_string(n) + " arguments, " +
                      entry_.native->name + " takes " + std::to_string(kinds.size())};
    }
  }

  // The values the game wrote through the out-variables, in argument order.
  void Outs() {
    if (!hasArgs_) throw LineFault{"field \"outs\": only a native line has outs, after \"args\""};
    if (hasOuts_) throw LineFault{"field \"outs\": given twice"};
    hasOuts_ = true;
    const std::vector<ArgKind>& kinds = entry_.native->args;
    OpenArray("outs");
    std::size_t arg = 0;  // the argument the next out belongs to
    std::size_t n = 0;
    const auto nextOut = [&] {
      while (arg < kinds.size() && !IsOut(kinds[arg])) ++arg;
      return arg < kinds.size();
    };
    if (!in_.Take(']')) {
      do {
        if (!nextOut()) {
          throw LineFault{"field \"outs\": more values than " + entry_.native->name +
                          " has out-variables"};
        }
        if (entry_.outs.size() <= n) entry_.outs.emplace_back();
        OutValue(in_, kinds[arg], FieldName{"outs", static_cast<int>(n)}, entry_.outs[n]);
        ++arg;
        ++n;
      } while (in_.Take(','));
      in_.Expect(']', "',' or ']' in \"outs\"");
    }
    entry_.outs.resize(n);
    if (nextOut()) {
      throw LineFault{"field \"outs\": " + std::to_string(n) + " values, fewer than " +
                      entry_.native->name + "'s out-variables"};
    }
  }

  void By() {
    if (entry_.native == nullptr)
      throw LineFault{"field \"by\": only a native line is made by the recorder"};
    const std::string_view by = in_.View(nameScratch_);
    if (by != "recorder") {
      throw LineFault{"field \"by\": expected \"recorder\", got \"" + std::string(by) + "\""};
    }
    entry_.byRecorder = true;
  }

  // One of a host line's named values, kept in args at its name's place.
  void HostValue(std::string_view key) {
    // A fault line, the last of a run that stopped at one: its reason is a
    // text, and the call it refused is shown to people, not read (nothing is
    // answered from it).
    if (entry_.host == "fault" && key == "refused") {
      in_.SkipValue();
      return;
    }
    const auto it = std::find(names_->begin(), names_->end(), key);
    if (it == names_->end()) {
      throw LineFault{"field \"" + std::string(key) + "\": not a field of a " + entry_.host +
                      " line"};
    }
    const auto i = static_cast<std::size_t>(it - names_->begin());
    if ((valuesGiven_ >> i) & 1U)
      throw LineFault{"field \"" + std::string(key) + "\": given twice"};
    valuesGiven_ |= 1U << i;
    if (key == "answer") {
      // The services' yes-or-no answers.
      const std::string_view raw = in_.SkipValue();
      if (raw != "true" && raw != "false") {
        throw LineFault{"field \"answer\": expected true or false, got " + Scanner::Excerpt(raw)};
      }
      const bool answer = raw == "true";
      entry_.args[i] = TraceValue::Bool(answer);
      return;
    }
    if ((entry_.host == "fault" && key == "reason") ||
        (entry_.host == "createTexture" && key == "file")) {
      if (in_.Peek() != '"') {
        const std::string_view raw = in_.SkipValue();
        throw LineFault{"field \"reason\": expected a text, got " + Scanner::Excerpt(raw)};
      }
      entry_.args[i].kind = TraceValue::Kind::Text;
      in_.String(entry_.args[i].text);
      return;
    }
    std::int64_t low = 0;
    std::int64_t high = 0;
    HostValueBounds(entry_.host, key, low, high);
    FieldName field;
    field.key = it->data();
    entry_.args[i].kind = TraceValue::Kind::Int;
    entry_.args[i].integer = WholeNumber(in_, field, low, high);
  }

  void OpenArray(const char* key) {
    if (in_.Peek() != '[') {
      const std::string_view raw = in_.SkipValue();
      throw LineFault{std::string("field \"") + key + "\": expected an array, got " +
                      Scanner::Excerpt(raw)};
    }
    in_.Take('[');
  }

  // What a line of its kind must have.
  void Complete() const {
    if (entry_.native != nullptr) {
      if (!hasArgs_) throw LineFault{"field \"args\": missing from the native line"};
      // A call with out-variables always gives what they were set to.
      const std::vector<ArgKind>& kinds = entry_.native->args;
      if (!hasOuts_ && std::any_of(kinds.begin(), kinds.end(), IsOut)) {
        throw LineFault{"field \"outs\": missing; " + entry_.native->name + " has out-variables"};
      }
      return;
    }
    if (names_ == nullptr) {
      throw LineFault{"neither a native call nor a host event (no \"native\" or \"host\" field)"};
    }
    for (std::size_t i = 0; i < names_->size(); ++i) {
      if (((valuesGiven_ >> i) & 1U) == 0) {
        throw LineFault{"field \"" + std::string((*names_)[i]) + "\": missing from the " +
                        entry_.host + " line"};
      }
    }
  }

  Scanner in_;
  TraceEntry& entry_;
  std::string& keyScratch_;
  std::string& nameScratch_;
  bool gaveFrame_ = false;
  bool gaveTime_ = false;
  bool hasArgs_ = false;
  bool hasOuts_ = false;
  const std::vector<std::string_view>* names_ = nullptr;  // a host line's named values
  std::uint32_t valuesGiven_ = 0;                         // bit i: the i-th of them was given
};

}  // namespace

// ---------------------------------------------------------------------------
// The reader.

TraceReader::TraceReader(std::unique_ptr<Source> source, std::string name, ReadLimits limits)
    : source_(std::move(source)), name_(std::move(name)), limits_(limits) {}

TraceReader::~TraceReader() = default;

std::unique_ptr<TraceReader> TraceReader::Open(const std::string& path, ReadLimits limits) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    throw RecordingError(path + ": cannot be read: " + std::strerror(errno));
  }
  std::unique_ptr<TraceReader> reader(
      new TraceReader(std::make_unique<FileSource>(file), path, limits));
  reader->ReadHeader();
  return reader;
}

std::unique_ptr<TraceReader> TraceReader::FromText(std::string text, std::string name,
                                                   ReadLimits limits) {
  std::unique_ptr<TraceReader> reader(
      new TraceReader(std::make_unique<TextSource>(std::move(text)), std::move(name), limits));
  reader->ReadHeader();
  return reader;
}

void TraceReader::Fail(std::int64_t line, const std::string& what) const {
  throw RecordingError(name_ + ":" + std::to_string(line) + ": " + what);
}

bool TraceReader::ReadLine() {
  bool complete = true;
  if (cut_ || faultLine_ != 0) return false;
  if (!source_->Line(lineText_, complete)) {
    if (source_->Failed()) {
      Fail(lineNumber_ + 1, "cannot be read further: " + std::string(std::strerror(errno)));
    }
    return false;
  }
  ++lineNumber_;
  lineStart_ = bytesRead_;
  bytesRead_ += lineText_.size() + (complete ? 1 : 0);
  if (!complete) {
    // A recording cut off mid-write (the game crashed, the disk filled):
    // read up to the line before, the cut line is not guessed at.
    bool whole = true;
    try {
      Scanner in(lineText_);
      in.SkipValue();
      whole = in.AtEnd();
    } catch (const LineFault&) {
      whole = false;
    }
    if (!whole) {
      cut_ = CutLine{lineNumber_, lineStart_, lineText_.size()};
      return false;
    }
  }
  return true;
}

std::string TraceReader::CutNote() const {
  if (!cut_) return "";
  return name_ + ":" + std::to_string(cut_->line) + ": the recording is cut inside this line, " +
         "at byte " + std::to_string(cut_->offset) + " (" + std::to_string(cut_->bytes) +
         " bytes without a newline or a whole line's JSON): read up to line " +
         std::to_string(cut_->line - 1);
}

void TraceReader::CheckFrame(std::int64_t frame) {
  if (lastGivenFrame_ && frame < *lastGivenFrame_) {
    Fail(lineNumber_, "field \"frame\": frame " + std::to_string(frame) + " after frame " +
                          std::to_string(*lastGivenFrame_) + ": frames never go back");
  }
  const auto bytes = static_cast<std::int64_t>(std::min<std::uint64_t>(bytesRead_, 1ULL << 40));
  const std::int64_t allowed = limits_.freeFrames + bytes * limits_.framesPerByte;
  if (frame > allowed) {
    Fail(lineNumber_, "field \"frame\": frame " + std::to_string(frame) + " is further than the " +
                          std::to_string(bytes) + " bytes read so far can stand for (frame " +
                          std::to_string(allowed) + " at most)");
  }
  lastGivenFrame_ = frame;
}

// A run that stopped at a fault may close its trace with a line saying so,
// {"type":"fault",...}. It is taken as the trace's end, whatever else it
// holds; it must be the last line.
bool TraceReader::IsFaultLine() const {
  try {
    Scanner in(lineText_);
    in.Expect('{', "'{'");
    std::string key;
    std::string scratch;
    bool fault = false;
    do {
      in.String(key);
      in.Expect(':', "':'");
      if (key == "type" && in.Peek() == '"') {
        fault = in.View(scratch) == "fault";
      } else {
        in.SkipValue();
      }
    } while (in.Take(','));
    in.Expect('}', "'}'");
    return fault && in.AtEnd();
  } catch (const LineFault&) {
    return false;
  }
}

void TraceReader::EndAtFaultLine() {
  faultLine_ = lineNumber_;
  bool complete = true;
  std::string after;
  if (source_->Line(after, complete)) {
    Fail(lineNumber_ + 1, "a line after the run's fault line (line " + std::to_string(faultLine_) +
                              "), which ends a trace");
  }
}

void TraceReader::ReadHeader() {
  if (!ReadLine()) {
    if (cut_) {
      Fail(cut_->line, "the file is cut inside its first line: it holds no recording or trace");
    }
    throw RecordingError(name_ + ": the file is empty: it holds no recording or trace");
  }
  if (!IsHeaderLine(lineText_)) {
    // The first line of a simulator trace: a seeded run's says its seed.
    headerLinePending_ = true;
    try {
      TraceEntry first;
      BodyParser probe(lineText_, first, keyScratch_, nameScratch_);
      probe.Parse();
      unseeded_ = !first.IsHost("seed");
    } catch (const LineFault&) {
      // Refused, naming what is wrong with it, when it is read.
    }
    return;
  }
  try {
    header_.version = HeaderVersion(lineText_);
    ReadHeaderFields(lineText_, header_);
  } catch (const LineFault& fault) {
    Fail(lineNumber_, fault.what);
  }
}

std::optional<TraceReader::Given> TraceReader::ParseBody(TraceEntry& entry) {
  try {
    BodyParser parser(lineText_, entry, keyScratch_, nameScratch_);
    parser.Parse();
    ++bodyLines_;
    return Given{parser.GaveFrame(), parser.GaveTime()};
  } catch (const LineFault& fault) {
    if (IsFaultLine()) return std::nullopt;
    Fail(lineNumber_, fault.what);
  }
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
    const std::optional<Given> parsed = ParseBody(target);
    if (!parsed) {
      if (waitingBefore) waiting_.pop_back();
      EndAtFaultLine();
      break;
    }
    const Given given = *parsed;
    if (given.frame) CheckFrame(target.frame);
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
      PassToWaiting(target, given);
    }
  }
  return AtTheEnd(entry);
}

void TraceReader::PassToWaiting(const TraceEntry& target, Given given) {
  // The lines waiting before this one take what it gives: of the lines after
  // them that have a frame (or a time), it is the nearest.
  for (std::size_t i = 0; i + 1 < waiting_.size(); ++i) {
    Given& settled = waiting_[i].given;
    if (given.frame && !settled.frame) waiting_[i].entry.frame = target.frame;
    if (given.time && !settled.time) waiting_[i].entry.time = target.time;
    settled.frame = settled.frame || given.frame;
    settled.time = settled.time || given.time;
  }
  waiting_.back().line = lineNumber_;
  waiting_.back().given = given;
}

bool TraceReader::AtTheEnd(TraceEntry& entry) {
  // Lines still waiting take the last frame and time given.
  if (bodyLines_ == 0) {
    throw RecordingError(name_ + ": holds a recording's header and nothing after it: " +
                         "no recording or trace to read" +
                         (cut_ ? " (line " + std::to_string(cut_->line) + " is cut short)" : ""));
  }
  if (waiting_.empty()) return false;
  for (Waiting& w : waiting_) {
    if (!w.given.frame) w.entry.frame = lastFrame_.value_or(-1);
    if (!w.given.time) w.entry.time = lastTime_.value_or(0);
  }
  waitingReady_ = waiting_.size();
  return Next(entry);
}

Recording ReadRecordingText(std::string text, std::string name, ReadLimits limits) {
  std::unique_ptr<TraceReader> reader =
      TraceReader::FromText(std::move(text), std::move(name), limits);
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
  const std::int64_t repeated = frame_[frameSize_ - 1].frame;
  if (firstFrame_ <= repeated) {
    reader_.Fail(reader_.Line(), "field \"firstFrame\": frame " + std::to_string(firstFrame_) +
                                     " does not come after frame " + std::to_string(repeated) +
                                     ", which it repeats");
  }
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

// span * index / steps, rounded down, for a span below 2^32 and an index up
// to steps (at most 2^32): the product itself may not fit 64 bits (a long
// stretch over a wide span), its two parts do.
std::int64_t RepeatExpander::Interpolated(std::int64_t span, std::int64_t index,
                                          std::int64_t steps) {
  const auto s = static_cast<std::uint64_t>(span);
  const auto i = static_cast<std::uint64_t>(index);
  const auto d = static_cast<std::uint64_t>(steps);
  return static_cast<std::int64_t>(s / d * i + s % d * i / d);
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
          frames_ <= 1 ? lastTime_ : firstTime_ + Interpolated(span, index_, frames_ - 1);
      entry.time = static_cast<std::int32_t>(static_cast<std::uint32_t>(time));
      entry.timeInterpolated = index_ > 0 && index_ + 1 < frames_;
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
