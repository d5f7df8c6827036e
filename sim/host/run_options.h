// What a run of the simulation is asked to do (SimOptions) and what it did
// (RunSummary): given to and read from Simulation by rebound-sim, the soak,
// the tests and the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/platform/fibre.h"

namespace sim {

class CatalogueNatives;
class UnknownNatives;

struct SimOptions {
  // Keep every call in the in-memory trace. Off (and with no stream), a
  // native call costs its checks, its handler and, for the few natives the
  // flow follows, their decoding.
  bool recordTrace = true;
  std::ostream* traceStream = nullptr;  // write every call as a JSON line as it is made
  bool keepDrawings = true;             // keep each frame's draw list for pictures
  std::size_t stackSize = 1 << 20;      // the script fibre's stack
  // The run's seed: the loaded module's random helpers take their seeds from
  // it (sim/base/seed.h), so that the run can be replayed, and the trace opens with
  // a `seed` host event. Empty: they draw from the system, as in the game.
  std::optional<std::uint64_t> seed = std::nullopt;
  // In place of a seed: the values the plug-in's random helpers get, in
  // order (a recording's random draws, so that a scenario made from it plays
  // as recorded). A traced run writes each as a randomDraw line; a plug-in
  // that draws more than these stops the run.
  std::optional<std::vector<std::uint32_t>> draws = std::nullopt;
  // The user's catalogue: natives the game's table lacks that are answered by
  // default rather than refused, their calls counted in it. Not owned; null
  // for none, where such a hash stops the run as in the game.
  CatalogueNatives* catalogue = nullptr;
  // Where the calls of a hash that neither the game's table nor the catalogue
  // knows are counted, each answered 0 rather than refused. Not owned; null
  // for none, where such a call stops the run as in the game.
  UnknownNatives* unknownNatives = nullptr;
  // Several plug-ins are loaded: every line of the trace names its plug-in and
  // script from the first on, not only once a second script registers.
  bool labelEveryLine = false;
};

// What became of the run's seed.
enum class Seeding {
  OsRandom,       // none was asked for: the plug-in draws from the system
  Seeded,         // the plug-in takes its seeds from the run's seed
  NoExport,       // one was asked for, but the module has no seed export
  RecordedDraws,  // the plug-in takes the values of SimOptions::draws
};

// One plug-in's share of a run of several.
struct PluginFigures {
  std::string file;                   // the module's file name
  std::int32_t scripts = 0;           // registered in the run, unregistered ones included
  std::uint64_t nativeCalls = 0;      // made by its scripts
  std::int32_t keyboardHandlers = 0;  // registered in the run, unregistered ones included
};

struct RunSummary {
  std::int64_t frames = 0;
  std::int64_t gameTimeMs = 0;
  std::uint64_t nativeCalls = 0;
  std::uint64_t maxCallsInFrame = 0;
  Seeding seeding = Seeding::OsRandom;
  std::uint64_t seed = 0;  // the run's seed, when seeded
  StackUse scriptStack;    // of the last script fibre; not measured when none ran
  std::string fault;       // empty when the run ended cleanly
  // The call the run stopped at, as RefusedCallText writes it, and its index
  // among the frame's native calls; empty when the fault was about none.
  std::string faultCall;
  std::uint32_t faultCallIndex = 0;
  // Spawn searches whose reported count was above the results they held, in
  // which the plug-in asked for one past them: the scenario contradicting
  // itself, not a fault of the plug-in's.
  std::int32_t searchesMiscounted = 0;
  // The scripts' global slots the plug-in asked for or the scenario preset,
  // by id, with their values at the end.
  std::vector<std::pair<std::int32_t, std::int64_t>> globals;
  // Textures the plug-in created.
  std::size_t texturesCreated = 0;
  // What each plug-in did, in load order; empty unless more than one plug-in
  // was loaded.
  std::vector<PluginFigures> plugins;
};

}  // namespace sim
