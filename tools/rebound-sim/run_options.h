// The options of `rebound-sim run`, read from its command line and checked
// against each other and against the files they name. Used by run_command.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/report/svg.h"
#include "tools/rebound-sim/arguments.h"
#include "tools/rebound-sim/console.h"

namespace rebound_sim {

struct RunOptions {
  Verbosity verbosity = Verbosity::Flow;
  bool svgDebug = false;
  std::optional<std::string> scenario;
  // The plug-in modules to load, in load order: each --plugin in turn, a
  // folder standing for its modules in file-name order. Empty: the default.
  std::vector<std::string> plugins;
  bool noPlugin = false;
  std::optional<std::int64_t> frames;
  std::optional<std::string> trace;
  std::optional<std::string> framesSvg;
  std::optional<sim::FramePick> svgFrames;
  std::optional<std::string> report;
  std::optional<std::string> junit;  // the verdict as JUnit XML, for CI
  std::optional<std::uint64_t> seed;
  bool osRandom = false;
  std::optional<std::string> drawsFrom;
  std::optional<std::string> natives;  // the user's natives catalogue
  // --unknown-natives zero: a hash no table knows is answered 0, not refused.
  std::optional<bool> zeroUnknownNatives;
};

// Seeds fit the 53 bits that every JSON reader holds exactly, so the seed line
// of a trace reads back as the very number.
constexpr std::uint64_t kMaxSeed = (std::uint64_t{1} << 53) - 1;

// The options, or none when the words asked for the help or the version
// (printed). A mistake throws UsageError.
std::optional<RunOptions> ReadRunOptions(ArgumentReader& args);

// The modules a --plugin folder holds, as the game's ASI loader finds them:
// its *.asi files (and, on Linux, *.so files) in file-name order. Empty, with
// `error` set, when the folder cannot be read or holds none.
std::vector<std::string> PluginModulesIn(const std::string& folder, std::string& error);

}  // namespace rebound_sim
