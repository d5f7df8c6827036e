#include "tools/rebound-sim/run_options.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "sim/host/scenario.h"
#include "tools/rebound-sim/commands.h"
#include "tools/rebound-sim/output_file.h"
#include "tools/rebound-sim/platform.h"

namespace rebound_sim {

namespace {

#if defined(_WIN32)
constexpr const char* kFolderHoldsNoModule = "the folder holds no .asi module";
#else
constexpr const char* kFolderHoldsNoModule = "the folder holds no .asi or .so module";
#endif

// --svg-frames, bounded by the frames a run can have.
sim::FramePick FramePickValue(ArgumentReader& args, const std::string& flag) {
  const std::string v = args.Value(flag);
  std::string error;
  const std::optional<sim::FramePick> pick = sim::ParseFramePick(v, error);
  if (!pick) args.Fail("--svg-frames: " + error);
  const std::int64_t most = sim::Scenario::kMaxFrames;
  const bool listedPast = !pick->listed.empty() && pick->listed.back() >= most;
  if (pick->every > most || listedPast) {
    args.Fail("--svg-frames takes frames from 0 to " + std::to_string(most - 1) +
              " and every:N up to " + std::to_string(most) + " (a run has at most " +
              std::to_string(most) + " frames), got \"" + v + "\"");
  }
  return *pick;
}

// Two outputs naming one file would leave only the last written; an output
// naming an input would replace what the run reads.
void CheckFilesAreDistinct(const RunOptions& o, const ArgumentReader& args) {
  std::vector<NamedFile> outputs;
  if (o.trace) outputs.push_back({"--trace", *o.trace});
  if (o.report) outputs.push_back({"--report", *o.report});
  if (o.junit) outputs.push_back({"--junit", *o.junit});
  if (o.framesSvg) outputs.push_back({"--frames-svg", *o.framesSvg});
  std::vector<NamedFile> inputs;
  if (o.scenario) inputs.push_back({"--scenario", *o.scenario});
  if (o.drawsFrom) inputs.push_back({"--draws-from", *o.drawsFrom});
  if (o.natives) inputs.push_back({"--natives", *o.natives});
  for (const std::string& plugin : o.plugins) inputs.push_back({"--plugin", plugin});
  if (o.plugins.empty() && !o.noPlugin) {
    inputs.push_back({"--plugin", DefaultPlugin(), true});
  }
  std::string mistake = SharedFileMistake(outputs, inputs);
  if (mistake.empty() && o.framesSvg) {
    // A picture is written over whatever file has its name in the folder.
    std::vector<NamedFile> files(outputs.begin(), outputs.end() - 1);
    files.insert(files.end(), inputs.begin(), inputs.end());
    const sim::FramePick pick = o.svgFrames ? *o.svgFrames : sim::DefaultFramePick();
    mistake = PictureFolderMistake(outputs.back(), files, [&pick](const std::string& name) {
      return sim::IsPictureFileName(pick, name, sim::Scenario::kMaxFrames);
    });
  }
  if (!mistake.empty()) args.Fail(mistake);
}

// The options that each make sense alone but not together.
void CheckOptionsAgree(const RunOptions& o, const ArgumentReader& args) {
  if (o.noPlugin && !o.plugins.empty()) args.Fail("--plugin and --no-plugin exclude each other");
  if (o.svgFrames && !o.framesSvg) args.Fail("--svg-frames needs --frames-svg DIR");
  if (o.svgDebug && !o.framesSvg) args.Fail("--svg-debug needs --frames-svg DIR");
  if (o.trace && o.report && *o.trace == "-" && *o.report == "-") {
    args.Fail("--trace - and --report - would mix in one stream; send one of them to a file");
  }
  if (o.junit && *o.junit == "-" &&
      ((o.trace && *o.trace == "-") || (o.report && *o.report == "-"))) {
    args.Fail(
        "--junit - and another output to - would mix in one stream; send one of them to a "
        "file");
  }
  if (o.framesSvg && *o.framesSvg == "-") args.Fail("--frames-svg needs a folder, not -");
  if (o.seed && o.osRandom) args.Fail("--seed and --os-random exclude each other");
  if (o.drawsFrom && (o.seed || o.osRandom || o.noPlugin)) {
    args.Fail("--draws-from excludes --seed, --os-random and --no-plugin");
  }
  if (o.drawsFrom && !platform::PluginCanBeSeeded()) {
    args.Fail(
        "--draws-from cannot be used on Windows: Rebound.asi exports nothing to hand draws to");
  }
  if (o.seed && o.noPlugin) args.Fail("--seed seeds the plug-in, and --no-plugin loads none");
  CheckFilesAreDistinct(o, args);
  if (o.seed && !platform::PluginCanBeSeeded()) {
    args.Fail(
        "--seed cannot be used on Windows: Rebound.asi exports nothing, so its random helpers "
        "always draw from the system's random source (run the Linux rebound-sim to replay a "
        "seed)");
  }
}

// Reads the options word by word into `o`.
class RunOptionReader {
 public:
  RunOptionReader(ArgumentReader& args, RunOptions& o) : args_(args), o_(o) {}

  void Take(const std::string& a) {
    if (a == "--svg-debug") {
      o_.svgDebug = true;
    } else if (a == "--scenario") {
      o_.scenario = args_.PathValue(a, o_.scenario);
    } else if (a == "--plugin") {
      TakePlugin(args_.PathValue(a, std::nullopt));
    } else if (a == "--no-plugin") {
      o_.noPlugin = true;
    } else if (a == "--frames") {
      // Bounded as the scenario's own "frames" is: a count past it would
      // only run until killed.
      o_.frames = static_cast<std::int64_t>(args_.WholeNumberValue(a, sim::Scenario::kMaxFrames));
    } else if (a == "--trace") {
      o_.trace = args_.PathValue(a, o_.trace);
    } else if (a == "--report") {
      o_.report = args_.PathValue(a, o_.report);
    } else if (a == "--junit") {
      o_.junit = args_.PathValue(a, o_.junit);
    } else if (a == "--frames-svg") {
      o_.framesSvg = args_.PathValue(a, o_.framesSvg);
    } else if (a == "--svg-frames") {
      o_.svgFrames = FramePickValue(args_, a);
    } else if (a == "--seed") {
      if (o_.seed) args_.Fail("--seed given twice");
      o_.seed = args_.WholeNumberValue(a, kMaxSeed);
    } else if (a == "--os-random") {
      o_.osRandom = true;
    } else if (a == "--draws-from") {
      o_.drawsFrom = args_.PathValue(a, o_.drawsFrom);
    } else if (a == "--natives") {
      o_.natives = args_.PathValue(a, o_.natives);
    } else if (a == "--unknown-natives") {
      TakeUnknownNatives(a);
    } else {
      TakeVerbosity(a);
    }
  }

 private:
  // A module, or a folder's modules. The trace names a plug-in by its file
  // name, so two of one name cannot both be loaded.
  void TakePlugin(const std::string& path) {
    std::error_code ec;
    std::vector<std::string> modules{path};
    if (std::filesystem::is_directory(path, ec)) {
      std::string error;
      modules = PluginModulesIn(path, error);
      if (modules.empty()) args_.Fail("--plugin " + path + ": " + error);
    }
    for (const std::string& module : modules) {
      const std::string name = std::filesystem::path(module).filename().string();
      if (!names_.insert(name).second) {
        args_.Fail("--plugin: two plug-ins named " + name + " (" + module +
                   " and one given before it); the trace names each by its file name");
      }
      o_.plugins.push_back(module);
    }
  }

  // What becomes of a call of a hash no table knows: refused, as the real
  // host does, or answered 0.
  void TakeUnknownNatives(const std::string& flag) {
    const std::string v = args_.Value(flag, "needs refuse or zero");
    if (v != "refuse" && v != "zero") {
      args_.Fail(flag + " takes refuse or zero, got \"" + v + "\"");
    }
    if (o_.zeroUnknownNatives) {
      args_.Fail(flag + " given twice (" + (*o_.zeroUnknownNatives ? "zero" : "refuse") + " and " +
                 v + ")");
    }
    o_.zeroUnknownNatives = v == "zero";
  }

  // Each of --quiet, --summary and --timeline sets how much is printed; two
  // of them contradict each other.
  void TakeVerbosity(const std::string& a) {
    if (a == "--quiet" || a == "-q") {
      SetVerbosity("--quiet", Verbosity::Quiet);
    } else if (a == "--summary") {
      SetVerbosity(a, Verbosity::Summary);
    } else if (a == "--timeline") {
      SetVerbosity(a, Verbosity::Timeline);
    } else {
      args_.Fail("unknown option: " + a);
    }
  }

  void SetVerbosity(const std::string& flag, Verbosity v) {
    if (!verbosityFlag_.empty() && verbosityFlag_ != flag) {
      args_.Fail(verbosityFlag_ + " and " + flag + " exclude each other");
    }
    verbosityFlag_ = flag;
    o_.verbosity = v;
  }

  ArgumentReader& args_;
  RunOptions& o_;
  std::string verbosityFlag_;
  std::set<std::string> names_;  // the plug-ins' file names so far
};

bool IsPluginModuleName(const std::string& name) {
  const std::string ext = std::filesystem::path(name).extension().string();
  std::string lower;
  for (const char c : ext) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
#if defined(_WIN32)
  return lower == ".asi";
#else
  return lower == ".asi" || lower == ".so";
#endif
}

}  // namespace

std::vector<std::string> PluginModulesIn(const std::string& folder, std::string& error) {
  std::error_code ec;
  std::vector<std::string> names;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (IsPluginModuleName(name) && !it->is_directory(ec)) names.push_back(name);
  }
  if (ec) {
    error = "cannot read the folder: " + ec.message();
    return {};
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> modules;
  for (const std::string& name : names) {
    modules.push_back((std::filesystem::path(folder) / name).string());
  }
  if (modules.empty()) error = kFolderHoldsNoModule;
  return modules;
}

std::optional<RunOptions> ReadRunOptions(ArgumentReader& args) {
  RunOptions o;
  RunOptionReader reader(args, o);
  while (args.Next()) {
    if (args.Answered()) return std::nullopt;
    reader.Take(args.Word());
  }
  CheckOptionsAgree(o, args);
  return o;
}

}  // namespace rebound_sim
