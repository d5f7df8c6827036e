#include "tools/rebound-sim/console.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "sim/base/number_format.h"
#include "sim/host/catalogue_natives.h"
#include "sim/host/simulation.h"
#include "tools/rebound-sim/platform.h"

namespace rebound_sim {

namespace {

// Seconds between two redraws of the progress line.
constexpr double kProgressRedrawSeconds = 0.25;
// How the flow observer's timeline line for one tap begins.
constexpr const char* kTapLine = "tap seen:";

double SecondsBetween(ProgressLine::Clock::time_point from, ProgressLine::Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

std::string Duration(double seconds) {
  char buffer[48];
  if (seconds < 60.0) {
    std::snprintf(buffer, sizeof buffer, "%.0f s", std::ceil(seconds));
  } else if (seconds < 3600.0) {
    const auto s = static_cast<long long>(std::ceil(seconds));
    std::snprintf(buffer, sizeof buffer, "%lld min %02lld s", s / 60, s % 60);
  } else {
    const auto m = static_cast<long long>(std::ceil(seconds / 60.0));
    std::snprintf(buffer, sizeof buffer, "%lld h %02lld min", m / 60, m % 60);
  }
  return buffer;
}

}  // namespace

std::string ScenarioSource(const sim::Scenario& scenario) {
  // The built-in scenario's "file name" already stands in brackets.
  const std::string& file = scenario.fileName;
  if (file.size() >= 2 && file.front() == '(' && file.back() == ')') {
    return file.substr(1, file.size() - 2);
  }
  return file;
}

std::string RunHeading(const sim::Scenario& scenario) {
  char numbers[160];
  std::snprintf(numbers, sizeof numbers, "%s %s (%.1f s) at %d fps from game time %lld",
                GroupedNumber(scenario.frames).c_str(), scenario.frames == 1 ? "frame" : "frames",
                static_cast<double>(scenario.frames) / scenario.fps, scenario.fps,
                static_cast<long long>(scenario.startGameTime));
  return "Scenario \"" + scenario.name + "\" (" + ScenarioSource(scenario) + "): " + numbers;
}

std::string FormatTimelineEntry(const sim::TimelineEntry& e) {
  char prefix[64];
  if (e.frame < 0) {
    std::snprintf(prefix, sizeof prefix, "[load       t=%-11d]", e.time);
  } else {
    std::snprintf(prefix, sizeof prefix, "[frame %5lld t=%-11d]", static_cast<long long>(e.frame),
                  e.time);
  }
  char cat[16];
  std::snprintf(cat, sizeof cat, "%-9s", e.category.c_str());
  return std::string(prefix) + " " + cat + " " + e.text;
}

bool TimelinePrinter::Print(const sim::TimelineEntry& entry) {
  if (verbosity_ < Verbosity::Flow) return false;
  if (verbosity_ == Verbosity::Flow) {
    // A fault, and a warning about a call the user's catalogue does not
    // fit, show whatever else is held back.
    const bool alwaysShown =
        entry.text.rfind("fault: ", 0) == 0 || entry.category == sim::kCatalogueNote;
    if (pluginRuns_ && entry.category != "flow" && !alwaysShown) return false;
    // Each tap is counted in its death's line; the bar's fill lines show
    // what the taps did.
    if (entry.category == "flow" && entry.text.rfind(kTapLine, 0) == 0) return false;
    if (printed_ >= kFlowLineBudget && !alwaysShown) {
      ++heldBack_;
      return false;
    }
  }
  ++printed_;
  std::fprintf(out_, "%s\n", FormatTimelineEntry(entry).c_str());
  return true;
}

void TimelinePrinter::PrintHeldBack() const {
  if (heldBack_ == 0) return;
  std::fprintf(out_, "... %s more timeline lines not shown (--timeline prints every event)\n",
               GroupedNumber(static_cast<std::int64_t>(heldBack_)).c_str());
}

void PrintDeaths(std::FILE* out, const sim::Simulation& simulation, std::size_t limit) {
  const sim::FlowObserver& flow = simulation.Flow();
  const double msPerFrame = 1000.0 / simulation.GetScenario().fps;
  std::size_t n = 0;
  for (const sim::DeathRecord& d : flow.Deaths()) {
    if (n == limit) break;
    ++n;
    if (d.respawnFrame < 0) {
      std::fprintf(out, "Death %zu at frame %lld: not respawned by the end of the run\n", n,
                   static_cast<long long>(d.deathFrame));
      continue;
    }
    const auto frames = d.respawnFrame - d.deathFrame;
    std::fprintf(
        out,
        "Death %zu at frame %lld: shard at %lld, fade-out at %lld, respawned at %lld "
        "(%s, %.2f s; %s), placed %.1f m from the death (%s), heading %.1f\n",
        n, static_cast<long long>(d.deathFrame), static_cast<long long>(d.shardFrame),
        static_cast<long long>(d.fadeOutFrame), static_cast<long long>(d.respawnFrame),
        sim::CountOf(frames, "frame", "frames").c_str(),
        static_cast<double>(frames) * msPerFrame / 1000.0,
        sim::CountOf(d.taps, "tap", "taps").c_str(),
        std::hypot(d.spawnPosition[0] - d.deathPosition[0], d.spawnPosition[1] - d.deathPosition[1],
                   d.spawnPosition[2] - d.deathPosition[2]),
        d.searchOutcome.c_str(), d.spawnHeading);
  }
  if (flow.DeathCount() == 0) std::fprintf(out, "No death was taken over by the plug-in.\n");
  if (flow.DeathCount() > n) {
    const auto more = static_cast<std::int64_t>(flow.DeathCount() - n);
    const bool kept = n < flow.Deaths().size();
    std::fprintf(out, "... and %s later %s, not listed%s\n", GroupedNumber(more).c_str(),
                 more == 1 ? "death" : "deaths", kept ? " (--summary lists the first 1,000)" : "");
  }
}

void PrintPhaseCosts(std::FILE* out, const sim::Simulation& simulation) {
  const sim::FlowObserver& flow = simulation.Flow();
  std::fprintf(out,
               "Per frame by phase of the flow: native calls, heap allocations by the plug-in and "
               "by the simulator (average, most in one frame):\n");
  for (std::size_t i = 0; i < sim::kFlowPhaseCount; ++i) {
    const sim::PhaseCost& cost = flow.Costs()[i];
    if (cost.frames == 0) continue;
    const auto average = [&cost](std::uint64_t total) {
      return static_cast<double>(total) / static_cast<double>(cost.frames);
    };
    std::fprintf(out,
                 "  %-11s %8lld %-7s calls %6.1f (%u), plug-in allocations %5.2f (%llu), simulator "
                 "allocations %6.1f (%llu)\n",
                 sim::FlowPhaseName(static_cast<sim::FlowPhase>(i)),
                 static_cast<long long>(cost.frames), cost.frames == 1 ? "frame," : "frames,",
                 average(cost.calls), cost.maxCalls, average(cost.pluginAllocations),
                 static_cast<unsigned long long>(cost.maxPluginAllocations),
                 average(cost.simulatorAllocations),
                 static_cast<unsigned long long>(cost.maxSimulatorAllocations));
  }
}

std::string GroupedNumber(std::int64_t value) {
  const bool negative = value < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return negative ? "-" + out : out;
}

std::string FormatProgress(std::int64_t frame, std::int64_t total, double framesPerSecond) {
  const double share =
      total > 0 ? 100.0 * static_cast<double>(frame) / static_cast<double>(total) : 100.0;
  std::string line = "frame " + GroupedNumber(frame) + " of " + GroupedNumber(total) + " (" +
                     std::to_string(static_cast<int>(share)) + " %)";
  if (framesPerSecond > 0.0 && std::isfinite(framesPerSecond)) {
    line += ", " + GroupedNumber(std::llround(framesPerSecond)) + " frames/s, about " +
            Duration(static_cast<double>(total - frame) / framesPerSecond) + " left";
  }
  return line;
}

bool ProgressLine::WantedOnStandardError() { return platform::StandardErrorIsTerminal(); }

double ProgressLine::DelayFromEnvironment(std::FILE* err) {
  const char* text = std::getenv("REBOUND_SIM_PROGRESS_AFTER");
  if (text == nullptr || *text == '\0') return kDefaultDelaySeconds;
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  if (*end != '\0' || !std::isfinite(seconds) || seconds < 0.0) {
    std::fprintf(err,
                 "rebound-sim: REBOUND_SIM_PROGRESS_AFTER=\"%s\" is not a number of seconds "
                 "(0 or more); the progress line shows after %.0f s\n",
                 text, kDefaultDelaySeconds);
    return kDefaultDelaySeconds;
  }
  return seconds;
}

ProgressLine::ProgressLine(std::FILE* err, std::int64_t total, double delaySeconds)
    : err_(err),
      total_(total),
      delaySeconds_(delaySeconds),
      start_(Clock::now()),
      lastDrawn_(start_) {}

void ProgressLine::Update(std::int64_t frame) {
  const Clock::time_point now = Clock::now();
  const double running = SecondsBetween(start_, now);
  if (running < delaySeconds_) return;
  if (shown_ && SecondsBetween(lastDrawn_, now) < kProgressRedrawSeconds) return;
  lastDrawn_ = now;
  shown_ = true;
  // Back to the line's start with \r, and spaces over what a longer line
  // before it left (plain characters: every terminal understands them).
  const std::string line = FormatProgress(frame, total_, static_cast<double>(frame) / running);
  const std::size_t pad = shownLength_ > line.size() ? shownLength_ - line.size() : 0;
  std::fprintf(err_, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
  shownLength_ = line.size();
  std::fflush(err_);
}

void ProgressLine::Clear() {
  if (!shown_) return;
  shown_ = false;
  std::fprintf(err_, "\r%*s\r", static_cast<int>(shownLength_), "");
  shownLength_ = 0;
  std::fflush(err_);
}

}  // namespace rebound_sim
