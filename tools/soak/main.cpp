// rebound-soak: one long run of many deaths with the built plug-in module
// loaded, to show that nothing builds up from respawn to respawn. After each
// respawn it reads the plug-in's live heap (blocks it allocated and has not
// freed) and the process's peak resident size; it fails unless the live heap
// after the last respawn is what it was after the tenth.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/base/alloc_counter.h"
#include "sim/host/simulation.h"

namespace {

constexpr const char* kUsage = R"(Usage: rebound-soak [options]

Runs one scenario of many deaths with the plug-in loaded and reads, after each
respawn, the plug-in's live heap (blocks allocated on the script fibre outside
the host, minus those it freed) and the peak resident size. Fails (status 1)
unless the live heap after the last respawn equals the one after the tenth, or
when a respawn does not happen. Status 2: a mistake on the command line.

Options:
  --deaths N        deaths in the run, 10 or more (default 10000)
  --plugin PATH     the plug-in module (default: the one built with this program)
  --figures FILE    write every respawn's figures as tab-separated lines
  --seed N          the run's seed for the plug-in's random helpers (default 1)
  -h, --help        show this help
)";

// A death every kFramesPerDeath frames: the cycle (pause, shard, a bar filled
// by time alone, fade-out, search, revival, fade-in) takes about 560 at 60
// frames per second; the rest is idle, to see the plug-in settled.
constexpr std::int64_t kFirstDeath = 60;
constexpr std::int64_t kFramesPerDeath = 700;

struct RespawnFigures {
  std::int64_t respawn = 0;  // 1 for the first
  std::int64_t frame = 0;
  std::int64_t liveBlocks = 0;
  std::uint64_t pluginAllocations = 0;
  std::uint64_t pluginFrees = 0;
  long peakKiB = 0;
};

// This process's own peak (VmHWM). getrusage's ru_maxrss is not: a fork
// copies the parent's high-water mark and exec keeps it, so a soak started by
// a large process (a script that has read a big file) would show that one's.
long PeakKiB() {
  long kib = -1;
  if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
    }
    std::fclose(status);
  }
  if (kib >= 0) return kib;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string ScenarioText(std::int64_t deaths) {
  nlohmann::json scenario = {
      {"name", std::to_string(deaths) + " deaths"},
      {"frames", kFirstDeath + kFramesPerDeath * deaths},
      {"player", {{"position", {215.0, -810.0, 30.7}}}},
      {"world",
       {{"spawnSearch",
         {{"frames", 8}, {"outcome", "complete"}, {"results", {{290.0, -760.0, 29.5}}}}}}},
      {"events", nlohmann::json::array()}};
  for (std::int64_t i = 0; i < deaths; ++i) {
    scenario["events"].push_back({{"frame", kFirstDeath + kFramesPerDeath * i}, {"health", 0}});
  }
  return scenario.dump();
}

[[noreturn]] void Usage(const std::string& what) {
  std::fprintf(stderr, "rebound-soak: %s\n(rebound-soak --help lists the options)\n", what.c_str());
  std::exit(2);
}

std::int64_t NumberArg(const std::string& option, const char* text, std::int64_t min) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < min) {
    Usage(option + " expects a whole number of at least " + std::to_string(min) + ", not '" + text +
          "'");
  }
  return value;
}

struct SoakOptions {
  std::int64_t deaths = 10000;
  std::string plugin = REBOUND_DEFAULT_PLUGIN;
  std::string figuresPath;  // empty: no figures file
  std::uint64_t seed = 1;
};

SoakOptions ParseArgs(int argc, char** argv) {
  SoakOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (a != "--deaths" && a != "--plugin" && a != "--figures" && a != "--seed") {
      Usage("unknown option '" + a + "'");
    }
    if (i + 1 >= argc) Usage(a + " needs a value");
    const char* value = argv[++i];
    if (a == "--deaths") o.deaths = NumberArg(a, value, 10);
    if (a == "--plugin") o.plugin = value;
    if (a == "--figures") o.figuresPath = value;
    if (a == "--seed") o.seed = static_cast<std::uint64_t>(NumberArg(a, value, 0));
  }
  return o;
}

// Every respawn's figures as tab-separated lines, when asked for.
class FiguresFile {
 public:
  // False when the file cannot be written.
  bool Open(const std::string& path) {
    if (path.empty()) return true;
    file_.open(path);
    if (!file_) return false;
    file_ << "respawn\tframe\tlive_blocks\tplugin_allocations\tplugin_frees\tpeak_kib\n";
    return true;
  }
  void Write(const RespawnFigures& f) {
    if (!file_) return;
    file_ << f.respawn << '\t' << f.frame << '\t' << f.liveBlocks << '\t' << f.pluginAllocations
          << '\t' << f.pluginFrees << '\t' << f.peakKiB << '\n';
  }

 private:
  std::ofstream file_;
};

double SecondsSince(std::chrono::steady_clock::time_point started) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

// Runs the frames up to just before the next death (or the end of the last
// cycle): the respawn is over and the plug-in idles in its loop. False, after
// saying why, when the run stopped or the death did not end in a respawn.
bool RunToRespawn(sim::Simulation& simulation, std::int64_t respawn, std::int64_t endFrame) {
  if (!simulation.RunFrames(endFrame - simulation.FramesRun())) {
    std::fprintf(stderr, "\nrebound-soak: the run stopped: %s\n", simulation.Fault().c_str());
    return false;
  }
  if (simulation.Flow().Phase() != sim::FlowPhase::Watching ||
      simulation.Flow().DeathCount() != static_cast<std::uint64_t>(respawn)) {
    std::fprintf(stderr, "\nrebound-soak: death %lld had not ended in a respawn by frame %lld\n",
                 static_cast<long long>(respawn), static_cast<long long>(endFrame));
    return false;
  }
  return true;
}

RespawnFigures ReadFigures(std::int64_t respawn, std::int64_t frame) {
  RespawnFigures f;
  f.respawn = respawn;
  f.frame = frame;
  f.pluginAllocations = sim::CountedAllocations().plugin;
  f.pluginFrees = sim::CountedPluginFrees();
  f.liveBlocks = sim::PluginLiveBlocks();
  f.peakKiB = PeakKiB();
  return f;
}

// A sample at 1, 2, 5, 10, 20, 50, ... and the last.
bool Sampled(std::int64_t respawn, std::int64_t deaths) {
  std::int64_t decade = 1;
  while (decade * 10 <= respawn) decade *= 10;
  return respawn == decade || respawn == 2 * decade || respawn == 5 * decade || respawn == deaths;
}

// What the respawns showed: the 10th, the last and the samples between.
struct SoakFigures {
  std::vector<RespawnFigures> samples;
  RespawnFigures tenth;
  RespawnFigures last;
};

// Runs every death's cycle, reading the figures after each respawn; false
// when one did not end in a respawn.
bool RunRespawns(sim::Simulation& simulation, const SoakOptions& o, FiguresFile& figuresFile,
                 SoakFigures& figures) {
  const bool terminal = isatty(STDOUT_FILENO) != 0;
  const auto started = std::chrono::steady_clock::now();
  const std::int64_t progressEvery = terminal ? 100 : 1000;
  for (std::int64_t respawn = 1; respawn <= o.deaths; ++respawn) {
    const std::int64_t endFrame = kFirstDeath + kFramesPerDeath * respawn;
    if (!RunToRespawn(simulation, respawn, endFrame)) return false;
    const RespawnFigures f = ReadFigures(respawn, endFrame - 1);
    figuresFile.Write(f);
    if (respawn == 10) figures.tenth = f;
    figures.last = f;
    if (Sampled(respawn, o.deaths)) figures.samples.push_back(f);
    if (respawn % progressEvery == 0 || respawn == o.deaths) {
      std::printf("%s%lld/%lld respawns, %.1f s, live heap %lld blocks, peak %ld KiB%s",
                  terminal ? "\r" : "", static_cast<long long>(respawn),
                  static_cast<long long>(o.deaths), SecondsSince(started),
                  static_cast<long long>(f.liveBlocks), f.peakKiB, terminal ? "   " : "\n");
      std::fflush(stdout);
    }
  }
  return true;
}

void PrintFigures(const SoakFigures& figures, const SoakOptions& o, std::int64_t frames,
                  double seconds) {
  std::printf("\n respawn      frame  live blocks  plug-in allocs  plug-in frees  peak KiB\n");
  for (const RespawnFigures& f : figures.samples) {
    std::printf("%8lld %10lld %12lld %15llu %14llu %9ld\n", static_cast<long long>(f.respawn),
                static_cast<long long>(f.frame), static_cast<long long>(f.liveBlocks),
                static_cast<unsigned long long>(f.pluginAllocations),
                static_cast<unsigned long long>(f.pluginFrees), f.peakKiB);
  }
  std::printf("\nframes: %lld in %.1f s (%.0f frames/s)\n", static_cast<long long>(frames), seconds,
              static_cast<double>(frames) / seconds);
  std::printf("peak resident size: %ld KiB\n", figures.last.peakKiB);
  std::printf("plug-in live heap: %lld blocks after the 10th respawn, %lld after the %lldth\n",
              static_cast<long long>(figures.tenth.liveBlocks),
              static_cast<long long>(figures.last.liveBlocks), static_cast<long long>(o.deaths));
  if (!o.figuresPath.empty()) std::printf("every respawn's figures: %s\n", o.figuresPath.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const SoakOptions o = ParseArgs(argc, argv);
  FiguresFile figuresFile;
  if (!figuresFile.Open(o.figuresPath)) {
    std::fprintf(stderr, "rebound-soak: cannot write %s\n", o.figuresPath.c_str());
    return 4;
  }
  const auto started = std::chrono::steady_clock::now();
  sim::SimOptions options;
  options.recordTrace = false;
  options.keepDrawings = false;
  options.seed = o.seed;
  sim::Simulation simulation(sim::Scenario::Parse("soak.json", ScenarioText(o.deaths)), options);
  if (!simulation.LoadPlugin(o.plugin)) {
    std::fprintf(stderr, "rebound-soak: %s\n", simulation.Fault().c_str());
    return 1;
  }
  std::printf("rebound-soak: %lld deaths, one every %lld frames, plug-in %s\n",
              static_cast<long long>(o.deaths), static_cast<long long>(kFramesPerDeath),
              o.plugin.c_str());
  SoakFigures figures;
  if (!RunRespawns(simulation, o, figuresFile, figures)) return 1;
  const double seconds = SecondsSince(started);
  if (isatty(STDOUT_FILENO) != 0) std::printf("\n");
  PrintFigures(figures, o, simulation.FramesRun(), seconds);
  simulation.UnloadPlugin();
  if (simulation.Faulted()) {
    std::fprintf(stderr, "rebound-soak: %s\n", simulation.Fault().c_str());
    return 1;
  }
  if (figures.tenth.liveBlocks != figures.last.liveBlocks) {
    std::printf("FAILED: the plug-in's live heap grew from %lld to %lld blocks\n",
                static_cast<long long>(figures.tenth.liveBlocks),
                static_cast<long long>(figures.last.liveBlocks));
    return 1;
  }
  std::printf("passed: the plug-in's live heap is the same after the 10th and the %lldth respawn\n",
              static_cast<long long>(o.deaths));
  return 0;
}
