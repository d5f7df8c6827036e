#include "sim/game/feed.h"

#include "sim/game/world.h"

namespace sim {

void FeedModel::Configure(const ScenarioNode& /*root*/) {}

namespace {

void BeginFeedPost(World& world, CallFrame& call) {
  world.feed.commandOpen = true;
  world.feed.entry = call.Text(0);
  world.feed.components.clear();
}

// The same component native also feeds display-text commands; the feed takes
// it only while a feed post is open.
void AddPlayerNameComponent(World& world, CallFrame& call) {
  if (world.feed.commandOpen) {
    world.feed.components.emplace_back(call.Text(0));
    return;
  }
  DrawingAddPlayerNameComponent(world, call);
}

void EndFeedPostTicker(World& world, CallFrame& call) {
  FeedModel& feed = world.feed;
  std::string message;
  if (feed.entry == "STRING") {
    for (const auto& c : feed.components) message += c;
  } else {
    message = feed.entry;
  }
  feed.commandOpen = false;
  feed.tickers.push_back(message);
  world.Note("feed", "ticker posted: \"" + message + "\"");
  call.ReturnInt(static_cast<std::int32_t>(feed.tickers.size()));
}

}  // namespace

void FeedModel::RegisterNatives(HandlerRegistry& registry) {
  registry.Add("BEGIN_TEXT_COMMAND_THEFEED_POST", BeginFeedPost);
  registry.Add("ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME", AddPlayerNameComponent);
  registry.Add("END_TEXT_COMMAND_THEFEED_POST_TICKER", EndFeedPostTicker);
}

}  // namespace sim
