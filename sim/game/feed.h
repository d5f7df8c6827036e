// The notification feed: ticker messages posted through a feed text command.
#pragma once

#include <string>
#include <vector>

#include "sim/game/handlers.h"

namespace sim {

struct FeedModel {
  bool commandOpen = false;
  std::string entry;  // the text entry the open command was begun with
  std::vector<std::string> components;
  std::vector<std::string> tickers;  // posted messages, in order

  void Configure(const ScenarioNode& root);
};

void RegisterFeedNatives(HandlerRegistry& registry);

}  // namespace sim
