#include "tools/rebound-sim/recording_input.h"

#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "sim/recording/trace_reader.h"
#include "sim/replay/recorded_world.h"
#include "tools/rebound-sim/output_file.h"

namespace rebound_sim {

namespace {

// Lines of a recording held in memory between the passes over it (about
// 300 bytes each, so some 60 MB at most); a longer recording is read afresh
// for each pass.
constexpr std::size_t kHeldLines = 200'000;

}  // namespace

sim::RecordingOpener OpenRecordingForEachPass(const std::string& path) {
  auto held = std::make_shared<std::shared_ptr<const sim::HeldRecording>>();
  auto tried = std::make_shared<bool>(false);
  return [path, held, tried]() -> std::unique_ptr<sim::RecordingFrames> {
    if (!*tried) {
      *tried = true;
      std::unique_ptr<sim::RecordingFrames> first = sim::RecordingFrames::Open(path);
      *held = sim::RecordingFrames::Hold(*first, kHeldLines);
    }
    if (*held) return sim::RecordingFrames::FromHeld(*held);
    return sim::RecordingFrames::Open(path);
  };
}

std::optional<RecordingCommandOptions> ReadRecordingCommandOptions(ArgumentReader& args,
                                                                   const std::string& outFlag) {
  RecordingCommandOptions a;
  while (args.Next()) {
    const std::string& word = args.Word();
    if (args.Answered()) return std::nullopt;
    if (word == outFlag) {
      // An empty value counts as none given, as it always has.
      const std::optional<std::string> given =
          a.out.empty() ? std::nullopt : std::optional<std::string>(a.out);
      a.out = args.PathValue(outFlag, given);
    } else if (word == "--quiet" || word == "-q") {
      a.quiet = true;
    } else if (args.AtOption()) {
      args.Fail("unknown option: " + word);
    } else if (a.recording.empty()) {
      a.recording = word;
    } else {
      args.Fail("one recording at a time, got " + a.recording + " and " + word);
    }
  }
  if (a.recording.empty()) args.Fail("needs the RECORDING to read");
  if (a.out.empty()) args.Fail("needs " + outFlag + " FILE");
  const std::string mistake = SharedFileMistake({{outFlag, a.out}}, {{"RECORDING", a.recording}});
  if (!mistake.empty()) args.Fail(mistake);
  return a;
}

bool RecordedDraws(const std::string& path, sim::SimOptions& options) {
  try {
    std::unique_ptr<sim::TraceReader> reader = sim::TraceReader::Open(path);
    sim::RepeatExpander lines(*reader);
    sim::TraceEntry entry;
    std::vector<std::uint32_t> draws;
    std::optional<std::uint64_t> seed;
    while (lines.Next(entry)) {
      if (entry.IsHost("randomDraw")) {
        draws.push_back(static_cast<std::uint32_t>(entry.args[0].integer));
      } else if (entry.IsHost("seed")) {
        seed = static_cast<std::uint64_t>(entry.args[0].integer);
      }
    }
    if (reader->Unseeded() && draws.empty()) {
      std::cerr << "rebound-sim: --draws-from: " << path
                << ": a trace of an unseeded run (--os-random): it holds neither a seed nor the "
                   "random draws to hand the plug-in; trace the run with --seed N\n";
      return false;
    }
    if (reader->Cut())
      std::cerr << "rebound-sim: --draws-from: note: " << reader->CutNote() << "\n";
    // A trace of a seeded run that was not traced with its draws: the seed's
    // sequence is the same values.
    if (draws.empty() && seed) {
      options.seed = seed;
    } else {
      options.draws = std::move(draws);
    }
    return true;
  } catch (const sim::RecordingError& e) {
    std::cerr << "rebound-sim: --draws-from: " << e.what() << "\n";
    return false;
  }
}

}  // namespace rebound_sim
