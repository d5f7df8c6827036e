// Runs what replay, report and scenario-from do with a recording on arbitrary
// bytes: the plug-in (the built module) replayed against them, the scenario
// fitted to them, and the report of them written. Each either succeeds or
// refuses the recording with a RecordingError; it never crashes, hangs or
// throws anything else, and what it makes holds:
//   - replay ends the same, a difference or an unreadable recording with its
//     message, never without one;
//   - the scenario scenario-from writes is one the scenario reader takes.
// A broken invariant prints what broke and aborts. The module stays loaded
// between inputs (libFuzzer keeps its coverage counters).
#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <span>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "fuzz/held_stacks.h"
#include "sim/host/scenario.h"
#include "sim/platform/fibre.h"
#include "sim/recording/trace_reader.h"
#include "sim/replay/replay.h"
#include "sim/replay/scenario_fit.h"
#include "sim/report/recording_report.h"
#include "sim/report/svg.h"

namespace {

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "recording_commands_fuzz: %s\n", what.c_str());
  std::abort();
}

// Small, so that an input that names far frames costs little to fuzz.
constexpr sim::ReadLimits kLimits{2048, 2};
constexpr const char* kName = "fuzz.jsonl";

void Replay(const std::string& text) {
  std::unique_ptr<sim::TraceReader> reader;
  try {
    reader = sim::TraceReader::FromText(text, kName, kLimits);
  } catch (const sim::RecordingError&) {
    return;
  }
  sim::ReplayOptions options;
  options.stackSize = 256 * 1024;
  options.recordedDraws =
      reader->Header().version > 0 || text.find("\"host\":\"randomDraw\"") != std::string::npos;
  sim::Replay replay(*reader, options);
  const sim::ReplayResult r = replay.Run(REBOUND_PLUGIN_PATH);
  using Outcome = sim::ReplayResult::Outcome;
  if (r.outcome == Outcome::CannotLoad && r.error.find(REBOUND_PLUGIN_PATH) != std::string::npos)
    Broken("the plug-in cannot be loaded: " + r.error);
  if (r.outcome == Outcome::Unreadable && r.error.rfind(kName, 0) != 0)
    Broken("a refusal that names no file: " + r.error);
  if (r.outcome == Outcome::Differs && !r.difference) Broken("a difference without its place");
}

sim::RecordingOpener Opener(const std::string& text) {
  return [text] { return sim::RecordingFrames::FromText(text, kName, kLimits); };
}

void ScenarioFrom(const std::string& text) {
  sim::ScenarioFromRecording made;
  try {
    made = sim::MakeScenarioFromRecording(Opener(text));
  } catch (const sim::RecordingError&) {
    return;
  }
  try {
    sim::Scenario::Parse("(the scenario from fuzz.jsonl)", made.text);
  } catch (const sim::ScenarioError& e) {
    Broken(std::string("scenario-from wrote a scenario the reader refuses: ") + e.what() + "\n" +
           made.text);
  }
}

// Writes nowhere: the report's bytes are not the point, making them is.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void Report(const std::string& text) {
  std::unique_ptr<sim::RecordingReport> report;
  try {
    report = std::make_unique<sim::RecordingReport>(Opener(text), kName);
  } catch (const sim::RecordingError&) {
    return;
  }
  NullBuffer nothing;
  std::ostream out(&nothing);
  report->Write(out, report->Origin(kName), &sim::FrameSvgText);
}

// A replayed script is stopped where the check ended and never unwound, as
// the host drops a script: what it allocated stays reachable from its stack.
void KeepWhatStoppedScriptsHold() {
  for (std::unique_ptr<sim::Fibre>& fibre : sim::TakeAbandonedFibres()) {
    rebound::fuzz::KeepWhatItHolds(std::move(fibre));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Never unloaded: its coverage counters must outlive each replay's unload.
  if (dlopen(REBOUND_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) == nullptr) {
    Broken(std::string("cannot load ") + REBOUND_PLUGIN_PATH + ": " + dlerror());
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Replay(text);
  KeepWhatStoppedScriptsHold();
  ScenarioFrom(text);
  Report(text);
  return 0;
}
