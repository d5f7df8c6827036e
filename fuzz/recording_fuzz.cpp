// Feeds arbitrary bytes to the recording reader, as a file: whatever a
// recording holds, reading it either gives lines or fails with a
// RecordingError naming the place; it never crashes, hangs or throws anything
// else. Of the lines it gives, it checks:
//   - frames never go back, and never past what the bytes can stand for;
//   - a cut last line is named, with its line and byte, and nothing of it read;
//   - every native line has its catalogue's arguments and out-variables.
// A broken invariant prints what broke and aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "sim/recording/trace_reader.h"

namespace {

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "recording_fuzz: %s\n", what.c_str());
  std::abort();
}

// Small, so that an input that names far frames costs little to fuzz.
constexpr sim::ReadLimits kLimits{4096, 4};

void CheckEntry(const sim::TraceEntry& e, std::int64_t lastFrame, std::size_t size) {
  if (e.frame < lastFrame) {
    Broken("frame " + std::to_string(e.frame) + " after frame " + std::to_string(lastFrame));
  }
  const auto most = kLimits.freeFrames + static_cast<std::int64_t>(size) * kLimits.framesPerByte;
  if (e.frame > most)
    Broken("frame " + std::to_string(e.frame) + " from " + std::to_string(size) + " bytes");
  if (e.native != nullptr && e.args.size() != e.native->args.size()) {
    Broken(e.native->name + " read with " + std::to_string(e.args.size()) + " arguments");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    std::unique_ptr<sim::TraceReader> reader =
        sim::TraceReader::FromText(text, "fuzz.jsonl", kLimits);
    sim::RepeatExpander lines(*reader);
    sim::TraceEntry entry;
    std::int64_t lastFrame = -1;
    while (lines.Next(entry)) {
      CheckEntry(entry, lastFrame, size);
      lastFrame = entry.frame;
    }
    if (const std::optional<sim::CutLine>& cut = reader->Cut()) {
      const bool newlineBefore = cut->offset == 0 || text[cut->offset - 1] == '\n';
      if (cut->offset + cut->bytes != size || !newlineBefore || text.back() == '\n') {
        Broken("a cut at byte " + std::to_string(cut->offset) + " of " + std::to_string(size));
      }
      if (reader->CutNote().find("fuzz.jsonl:" + std::to_string(cut->line) + ":") != 0) {
        Broken("the cut's note names no line: " + reader->CutNote());
      }
    }
  } catch (const sim::RecordingError&) {
    // A refused recording is a correct answer.
  }
  return 0;
}
