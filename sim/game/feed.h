// The notification feed: ticker messages posted through a feed text command.
#pragma once

#include <string>
#include <vector>

#include "sim/game/handlers.h"

namespace sim {

struct FeedModel : QuietArea {
  bool commandOpen = false;
  std::string entry;  // the text entry the open command was begun with
  std::vector<std::string> components;
  std::vector<std::string> tickers;  // posted messages, in order

  static constexpr const char* kName = "feed";  // the area's name in notes and checks
  // The area's natives' handlers, by the natives' names.
  static void RegisterNatives(HandlerRegistry& registry);
  void Configure(const ScenarioNode& root);
};

}  // namespace sim
