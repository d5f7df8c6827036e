// `rebound-sim schema`: prints the JSON Schema of scenario files.
#include <cstdio>
#include <string_view>

#include "sim/host/scenario.h"
#include "tools/rebound-sim/commands.h"

namespace rebound_sim {

constexpr std::string_view kSchemaUsage = R"usage(Usage: rebound-sim schema

Prints the JSON Schema of scenario files (scenarios/scenario.schema.json, built
in), for editors and for python3 -m jsonschema.
)usage";

ExitStatus SchemaCommand(ArgumentReader& args) {
  while (args.Next()) {
    if (args.Answered()) return ExitStatus::Success;
    args.Fail("unknown option for " + args.Style().name + ": " + args.Word());
  }
  const std::string_view schema = sim::Scenario::Schema();
  std::fwrite(schema.data(), 1, schema.size(), stdout);
  // Standard output that cannot take the schema (a full disk, a closed pipe)
  // has always ended with status 1.
  return std::fflush(stdout) == 0 ? ExitStatus::Success : ExitStatus::Refused;
}

}  // namespace rebound_sim
