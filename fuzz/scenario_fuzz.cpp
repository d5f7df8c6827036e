// Feeds arbitrary bytes to the scenario reader: whatever a scenario file
// holds, reading it either succeeds or fails with a ScenarioError naming the
// place; it never crashes, hangs or throws anything else.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/host/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    sim::Scenario::Parse("fuzz.json", text);
  } catch (const sim::ScenarioError&) {
    // A refused scenario is a correct answer.
  }
  return 0;
}
