// How the simulated game's areas attach behaviour to natives, and how they
// take their own settings and events from a scenario. A native with no
// handler answers a neutral default (zero, false, empty vector).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sim/call.h"
#include "sim/scenario_reader.h"

namespace sim {

class World;

using NativeHandler = void (*)(World&, CallFrame&);

class HandlerTable {
 public:
  void Set(std::uint64_t hash, NativeHandler handler);
  NativeHandler Find(std::uint64_t hash) const {
    auto it = handlers_.find(hash);
    return it == handlers_.end() ? nullptr : it->second;
  }
  std::size_t Size() const { return handlers_.size(); }

 private:
  std::unordered_map<std::uint64_t, NativeHandler> handlers_;
};

// A scenario event, due at the start of its frame before the script runs.
struct ScheduledEvent {
  std::int64_t frame = 0;
  std::string description;  // shown in the timeline, e.g. "health 0"
  std::function<void(World&)> apply;
  // Keyboard messages go to the plug-in's handler rather than the world.
  bool isKeyboard = false;
  std::uint32_t keyArgs[7] = {0, 0, 0, 0, 0, 0, 0};
};

using EventList = std::vector<ScheduledEvent>;

// Reads the "frame" of a single-frame event.
std::int64_t EventFrame(const ScenarioNode& event);

}  // namespace sim
