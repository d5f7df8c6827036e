// `rebound-sim natives`: lists the natives the simulated game knows, and with
// --natives FILE those only the user's catalogue knows, as text or as JSON.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/base/native_table.h"
#include "sim/base/natives_catalogue.h"
#include "sim/base/number_format.h"
#include "sim/host/catalogue_natives.h"
#include "tools/rebound-sim/commands.h"

namespace rebound_sim {

constexpr std::string_view kNativesUsage =
    R"usage(Usage: rebound-sim natives [--json] [--natives FILE]

Lists every native the simulated game knows: its hash, its name (natives the
game documents by hash only show "(no public name)" there), the kinds of its
arguments and of its result. --json prints the same as a JSON array.

--natives FILE adds the natives of your own copy of the community's natives
catalogue that the game's table lacks, after the game's, and marks each line:
"modelled" for a native of the game's table (answered by the simulated world,
whatever the catalogue says of it), "catalogue only" for one only the
catalogue knows (answered by its result's default, or a scenario's answer). In
--json each native then has "modelled": true or false. A catalogue with a
mistake is refused, naming its file, line and field (status 2).
)usage";

namespace {

// The mark of a line when a catalogue is listed too; none without one.
enum class Mark { None, Modelled, CatalogueOnly };

nlohmann::ordered_json NativeJson(const sim::NativeSignature& n, Mark mark) {
  nlohmann::ordered_json e;
  e["hash"] = sim::HexHash(n.hash);
  // A native the game documents by hash only has no name to give.
  e["name"] = sim::HasPublicName(n) ? nlohmann::ordered_json(n.name) : nullptr;
  auto args = nlohmann::ordered_json::array();
  for (auto k : n.args) args.push_back(sim::ArgKindName(k));
  e["args"] = args;
  e["result"] = sim::ResultKindName(n.result);
  if (mark != Mark::None) e["modelled"] = mark == Mark::Modelled;
  return e;
}

void PrintNativeLine(const sim::NativeSignature& n, Mark mark) {
  std::string args;
  for (auto k : n.args) args += (args.empty() ? "" : ", ") + std::string(sim::ArgKindName(k));
  const std::string name = sim::HasPublicName(n) ? n.name : "(no public name)";
  const std::string result(sim::ResultKindName(n.result));
  if (mark == Mark::None) {
    std::printf("%s  %-44s (%s) -> %s\n", sim::HexHash(n.hash).c_str(), name.c_str(), args.c_str(),
                result.c_str());
    return;
  }
  // The mark in a column of its own, after the result.
  const std::string signature = "(" + args + ") -> " + result;
  std::printf("%s  %-44s %-32s %s\n", sim::HexHash(n.hash).c_str(), name.c_str(), signature.c_str(),
              mark == Mark::Modelled ? "modelled" : "catalogue only");
}

ExitStatus ListNatives(bool json, const sim::CatalogueNatives* catalogue) {
  const auto& table = sim::NativeTable();
  const Mark gameMark = catalogue != nullptr ? Mark::Modelled : Mark::None;
  const std::vector<sim::NativeSignature> none;
  const std::vector<sim::NativeSignature>& only =
      catalogue != nullptr ? catalogue->Natives() : none;
  if (json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const auto& n : table) out.push_back(NativeJson(n, gameMark));
    for (const auto& n : only) out.push_back(NativeJson(n, Mark::CatalogueOnly));
    std::cout << out.dump(2) << "\n";
    return ExitStatus::Success;
  }
  for (const auto& n : table) PrintNativeLine(n, gameMark);
  for (const auto& n : only) PrintNativeLine(n, Mark::CatalogueOnly);
  if (catalogue == nullptr) {
    std::printf("%zu natives\n", table.size());
  } else {
    std::printf("%zu natives: %zu modelled by the simulated game, %zu known only from %s\n",
                table.size() + only.size(), table.size(), only.size(),
                catalogue->FileName().c_str());
  }
  return ExitStatus::Success;
}

}  // namespace

ExitStatus NativesCommand(ArgumentReader& args) {
  bool json = false;
  std::optional<std::string> natives;
  while (args.Next()) {
    if (args.Answered()) return ExitStatus::Success;
    if (args.Word() == "--json") {
      json = true;
    } else if (args.Word() == "--natives") {
      natives = args.PathValue("--natives", natives);
    } else {
      args.Fail("unknown option for " + args.Style().name + ": " + args.Word());
    }
  }
  std::unique_ptr<sim::CatalogueNatives> catalogue;
  if (natives) {
    try {
      catalogue = std::make_unique<sim::CatalogueNatives>(sim::ReadNativesCatalogue(*natives));
    } catch (const sim::NativesCatalogueError& e) {
      std::cerr << "rebound-sim: --natives: " << e.what() << "\n";
      return ExitStatus::BadInput;
    }
  }
  return ListNatives(json, catalogue.get());
}

}  // namespace rebound_sim
