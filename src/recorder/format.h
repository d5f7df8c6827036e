// Turns the recording build's binary chunks into the recording's JSON lines,
// written exactly as the simulator's trace writes the same values. Runs on
// the recorder's writer thread (and on the detaching thread at the end), never
// on the script fibre; it allocates nothing, so that the writer can be
// stopped anywhere outside its turn on the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rebound::recorder {

// One line of text in a caller's fixed buffer. Appending past the end stops
// appending and marks the line as overflowed; it is then not written.
class LineText {
 public:
  LineText(char* data, std::size_t capacity) noexcept : data_(data), capacity_(capacity) {}
  void Clear() noexcept {
    length_ = 0;
    overflowed_ = false;
  }
  void Raw(std::string_view text) noexcept;
  void Int(std::int64_t value) noexcept;
  void Unsigned(std::uint64_t value) noexcept;
  // The fewest digits that read back as the same float, written as the
  // trace writes them ("1.0", "0.923", "1e+20"); NaN and the infinities as
  // the strings "NaN", "Infinity" and "-Infinity".
  void Float(float value) noexcept;
  // A JSON string: quotes, backslashes and control characters escaped, bytes
  // that are not valid UTF-8 replaced by U+FFFD as the trace's JSON library
  // replaces them.
  void Text(const char* bytes, std::size_t length) noexcept;
  // 0x and 16 upper-case hex digits, quoted.
  void Hash(std::uint64_t hash) noexcept;

  std::string_view View() const noexcept { return {data_, length_}; }
  bool Overflowed() const noexcept { return overflowed_; }

 private:
  bool Room(std::size_t bytes) noexcept;

  char* data_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  bool overflowed_ = false;
};

// Where formatted lines go. Line() gets one line with its newline; it returns
// false to stop the formatting (the file reached its cap).
class LineSink {
 public:
  virtual bool Line(std::string_view line) noexcept = 0;

 protected:
  ~LineSink() = default;
};

// What the formatting carries from one chunk to the next.
struct FormatState {
  std::int32_t frameBase = 0;  // the game's frame count in the script's first frame
  bool lastKnown = false;      // a line with frame and time has been written
  std::int64_t lastFrame = 0;  // ... and these were its frame and time
  std::int32_t lastTime = 0;
};

// The fields of the recording's first line.
struct HeaderFields {
  std::string_view platform;  // "windows" or "linux"
  std::string_view hostFile;  // empty where unknown (null in the line)
  std::string_view hostVersion;
  std::string_view gameFile;
  std::string_view gameVersion;
  bool frameBaseKnown = false;
  std::int32_t frameBase = 0;
};
void FormatHeader(const HeaderFields& fields, LineText& line) noexcept;

// The line that ends a recording at its size cap.
void FormatCapped(const FormatState& state, std::uint64_t capBytes, LineText& line) noexcept;

// Formats every record of the chunk at `chunk` into `line`, handing each line
// to `sink`. Returns false when the sink stopped it.
bool FormatChunk(const std::uint8_t* chunk, FormatState& state, LineText& line,
                 LineSink& sink) noexcept;

}  // namespace rebound::recorder
