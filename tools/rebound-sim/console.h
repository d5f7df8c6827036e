// What rebound-sim prints on the terminal while and after a run: the opening
// line, the timeline (the respawn flow by default, every event on request),
// one line per death, the per-phase figures and the summary, and the progress
// line of a long run. Used by rebound-sim's run command only.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/game/timeline.h"
#include "sim/host/scenario.h"

namespace sim {
class Simulation;
}  // namespace sim

namespace rebound_sim {

// How much the terminal shows of a run.
enum class Verbosity {
  Quiet,     // errors only
  Summary,   // the deaths and the summary
  Flow,      // and, as the run goes, the respawn flow's timeline, up to a budget
  Timeline,  // and every event of the timeline
};

// Where a scenario came from: its file, or "built-in default scenario".
std::string ScenarioSource(const sim::Scenario& scenario);
// `Scenario "NAME" (SOURCE): N frames (S s) at F fps from game time T`.
std::string RunHeading(const sim::Scenario& scenario);

// Prints timeline entries as they happen. At kFlow it prints the respawn
// flow's own lines and every fault, or every event when no plug-in runs, and
// stops after kFlowLineBudget lines, counting the rest.
class TimelinePrinter {
 public:
  static constexpr std::uint64_t kFlowLineBudget = 40;

  TimelinePrinter(std::FILE* out, Verbosity verbosity, bool pluginRuns)
      : out_(out), verbosity_(verbosity), pluginRuns_(pluginRuns) {}
  // True when the entry was printed.
  bool Print(const sim::TimelineEntry& entry);
  // The closing note on lines held back, if any.
  void PrintHeldBack() const;
  std::uint64_t HeldBack() const { return heldBack_; }

 private:
  std::FILE* out_;
  Verbosity verbosity_;
  bool pluginRuns_;
  std::uint64_t printed_ = 0;
  std::uint64_t heldBack_ = 0;
};

std::string FormatTimelineEntry(const sim::TimelineEntry& entry);

// One line per death the plug-in took over, at most `limit` of those kept,
// then how many more there were.
void PrintDeaths(std::FILE* out, const sim::Simulation& simulation, std::size_t limit);
// Native calls and allocations per frame in each phase of the flow.
void PrintPhaseCosts(std::FILE* out, const sim::Simulation& simulation);

// "frame 1,234,567 of 10,000,000 (12 %), 412,345 frames/s, about 21 s left"
std::string FormatProgress(std::int64_t frame, std::int64_t total, double framesPerSecond);
// "1,234,567"
std::string GroupedNumber(std::int64_t value);

// The progress line of a long run on standard error: shown once the run has
// taken a second, redrawn in place with a carriage return a few times a
// second, and cleared at the end and before any other line is printed.
class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;
  // Only when standard error is a terminal.
  static bool WantedOnStandardError();

  // The line first shows after `delaySeconds` of running.
  ProgressLine(std::FILE* err, std::int64_t total, double delaySeconds = kDefaultDelaySeconds);
  static constexpr double kDefaultDelaySeconds = 1.0;
  // The delay from REBOUND_SIM_PROGRESS_AFTER (seconds, 0 or more), else the
  // default; a value that is not a number is reported and the default kept.
  static double DelayFromEnvironment(std::FILE* err);
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Update(std::int64_t frame);
  // Wipes the line, if shown, so that the next output starts on a clean line.
  void Clear();

 private:
  std::FILE* err_;
  std::int64_t total_;
  double delaySeconds_;
  Clock::time_point start_;
  Clock::time_point lastDrawn_;
  bool shown_ = false;
  std::size_t shownLength_ = 0;
};

}  // namespace rebound_sim
