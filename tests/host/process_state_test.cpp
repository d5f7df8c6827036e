// The one reset of the plug-in's process-wide state: every global of the
// plug-in is listed below, each with a change away from its value at load and
// a check that the reset brought it back; the list is held against the
// writable symbols of the built module, so a global left out of it fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "src/host/key_states.h"
#include "src/host/process_state.h"
#include "src/hud/hud_text.h"
#include "src/hud/panel.h"
#include "src/respawn/death_flow.h"
#include "src/respawn/event_timers.h"
#include "src/spawn/random_detail.h"

namespace {

using namespace rebound;

std::uint32_t FixedSeed() { return 7; }

struct GlobalItem {
  const char* symbol;      // as `nm -C` names it in the module
  void (*change)();        // away from its value at load
  void (*expectAtLoad)();  // after the reset
};

const GlobalItem kGlobals[] = {
    {"rebound::keyStates",
     [] {
       keyStates[65].time = 1234;
       keyStates[65].isUpNow = 1;
     },
     [] {
       EXPECT_EQ(keyStates[65].time, 0U);
       EXPECT_EQ(keyStates[65].isUpNow, 0);
     }},
    {"rebound::deathFlow",
     [] {
       deathFlow.state = DeathFlowState::BarFilling;
       deathFlow.movieHandle = 3;
       deathFlow.respawnProgress = 50;
       deathFlow.respawnBar = std::make_unique<HudBar>("label", "");
       AppendToPanel(deathFlow.respawnBar.get());
     },
     [] {
       EXPECT_EQ(deathFlow.state, DeathFlowState::Watching);
       EXPECT_EQ(deathFlow.movieHandle, -1);
       EXPECT_EQ(deathFlow.respawnProgress, 0);
       EXPECT_FALSE(deathFlow.respawnBar);
     }},
    {"rebound::hudBarPanel",
     [] {
       hudBarPanel.panelEnabled = false;
       hudBarPanel.lastDrawnFrame = 99;
       hudBarPanel.blinkIntervalMs = 5;
     },
     [] {
       EXPECT_TRUE(hudBarPanel.bars.empty());
       EXPECT_TRUE(hudBarPanel.panelEnabled);
       EXPECT_EQ(hudBarPanel.lastDrawnFrame, -1);
       EXPECT_EQ(hudBarPanel.blinkIntervalMs, 800);
     }},
    // The lists are released, not just emptied: a test then sees the
    // allocations a fresh process makes.
    {"rebound::eventTimers",
     [] {
       eventTimers.push_back(EventTimerEntry{{5, 6, false}, 1});
     },
     [] { EXPECT_EQ(eventTimers.capacity(), 0U); }},
    {"rebound::TextScaleOverride",
     [] {
       TextScaleOverride = {1.0, 2.0};
     },
     [] { EXPECT_EQ(TextScaleOverride.capacity(), 0U); }},
    {"rebound::longTextStorage", [] { longTextStorage.overflow.resize(500); },
     [] { EXPECT_EQ(longTextStorage.overflow.capacity(), 0U); }},
    {"rebound::(anonymous namespace)::seedSource",
     [] { testing_seam::SetSeedSourceForTesting(&FixedSeed); },
     [] {
       EXPECT_NE(testing_seam::SetSeedSourceForTesting(nullptr), &FixedSeed)
           << "the device is the seed source again";
     }},
};

// Writable globals the reset leaves alone, each with the reason.
const std::pair<const char*, const char*> kNotReset[] = {
    {"rebound::detail::(anonymous namespace)::fallbackCount",
     "only varies the fallback seeds, which no test predicts"},
};

TEST(ProcessState, ResetBringsEveryItemBackToItsLoadValue) {
  for (const GlobalItem& item : kGlobals) item.change();
  testing_seam::ResetProcessStateForTesting();
  for (const GlobalItem& item : kGlobals) {
    SCOPED_TRACE(item.symbol);
    item.expectAtLoad();
  }
}

// The module's own writable data (initialised or not, thread-local or not),
// by demangled name; the runtime's and the standard library's are left out.
std::set<std::string> WritableSymbolsOfTheModule() {
  const std::string command =
      std::string("nm -C --format=sysv --defined-only '") + REBOUND_PLUGIN_PATH + "'";
  std::set<std::string> symbols;
  FILE* nm = popen(command.c_str(), "r");
  if (nm == nullptr) return symbols;
  char line[4096];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    // name | value | class | type | size | line | section
    std::string_view fields[7];
    std::string_view rest(line);
    for (std::string_view& field : fields) {
      const std::size_t bar = rest.find('|');
      field = rest.substr(0, bar);
      field = field.substr(0, field.find_last_not_of(" \n") + 1);
      rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
    }
    const std::string_view section = fields[6];
    const bool writable =
        section == ".data" || section == ".bss" || section == ".tdata" || section == ".tbss";
    if (writable && fields[0].rfind("rebound::", 0) == 0) symbols.emplace(fields[0]);
  }
  EXPECT_EQ(pclose(nm), 0) << command;
  return symbols;
}

TEST(ProcessState, ListNamesEveryWritableGlobalOfTheModule) {
  std::set<std::string> listed;
  for (const GlobalItem& item : kGlobals) listed.emplace(item.symbol);
  for (const auto& [symbol, reason] : kNotReset) listed.emplace(symbol);
  const std::set<std::string> inModule = WritableSymbolsOfTheModule();
  ASSERT_FALSE(inModule.empty()) << "no symbols read from " << REBOUND_PLUGIN_PATH;
  for (const std::string& symbol : inModule) {
    EXPECT_TRUE(listed.contains(symbol))
        << symbol << " is process state that the reset's list does not name";
  }
  for (const std::string& symbol : listed) {
    EXPECT_TRUE(inModule.contains(symbol)) << symbol << " is listed but not in the module";
  }
}

}  // namespace
