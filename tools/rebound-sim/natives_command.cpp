// `rebound-sim natives`: lists the natives the simulated game knows, as text
// or as JSON.
#include <cstdio>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/base/native_table.h"
#include "sim/base/number_format.h"
#include "tools/rebound-sim/commands.h"

namespace rebound_sim {

constexpr std::string_view kNativesUsage = R"usage(Usage: rebound-sim natives [--json]

Lists every native the simulated game knows: its hash, its name (natives the
game documents by hash only show "(no public name)" there), the kinds of its
arguments and of its result. --json prints the same as a JSON array.
)usage";

namespace {

ExitStatus ListNatives(bool json) {
  const auto& table = sim::NativeTable();
  if (json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const auto& n : table) {
      nlohmann::ordered_json e;
      e["hash"] = sim::HexHash(n.hash);
      // A native the game documents by hash only has no name to give.
      e["name"] = sim::HasPublicName(n) ? nlohmann::ordered_json(n.name) : nullptr;
      auto args = nlohmann::ordered_json::array();
      for (auto k : n.args) args.push_back(sim::ArgKindName(k));
      e["args"] = args;
      e["result"] = sim::ResultKindName(n.result);
      out.push_back(e);
    }
    std::cout << out.dump(2) << "\n";
    return ExitStatus::Success;
  }
  for (const auto& n : table) {
    std::string args;
    for (auto k : n.args) args += (args.empty() ? "" : ", ") + std::string(sim::ArgKindName(k));
    const std::string name = sim::HasPublicName(n) ? n.name : "(no public name)";
    std::printf("%s  %-44s (%s) -> %s\n", sim::HexHash(n.hash).c_str(), name.c_str(), args.c_str(),
                std::string(sim::ResultKindName(n.result)).c_str());
  }
  std::printf("%zu natives\n", table.size());
  return ExitStatus::Success;
}

}  // namespace

ExitStatus NativesCommand(ArgumentReader& args) {
  bool json = false;
  while (args.Next()) {
    if (args.Answered()) return ExitStatus::Success;
    if (args.Word() != "--json") {
      args.Fail("unknown option for " + args.Style().name + ": " + args.Word());
    }
    json = true;
  }
  return ListNatives(json);
}

}  // namespace rebound_sim
