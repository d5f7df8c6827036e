// How the simulated game's areas attach behaviour to natives, and how they
// take their own settings and events from a scenario. Areas register their
// handlers by the native's name; the natives table alone knows the hashes
// (see sim/host/native_dispatch.h for how the two are joined and checked).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/base/call.h"
#include "sim/base/scenario_reader.h"

namespace sim {

class World;

using NativeHandler = void (*)(World&, CallFrame&);

struct HandlerRegistration {
  std::string_view native;  // the native's name in the natives table
  NativeHandler handler;
};

// The handlers the areas offer, in the order they offered them. Nothing is
// checked here: a name the table does not know, or one registered twice,
// stops the simulator when the dispatch table is built from the registry.
class HandlerRegistry {
 public:
  void Add(std::string_view native, NativeHandler handler) {
    entries_.push_back({native, handler});
  }
  const std::vector<HandlerRegistration>& Entries() const { return entries_; }

 private:
  std::vector<HandlerRegistration> entries_;
};

// Who carries out a scenario event: the world, or the host itself.
enum class EventKind {
  World,          // `apply` changes the world
  Keyboard,       // a keyboard message to the plug-in's handler, from the window's thread
  RestartScript,  // the host drops the script's fibre and starts the script entry afresh
  Unload,         // the host stops the script, detaches and unloads the module; the run ends
};

// A keyboard message delivered while the script runs rather than at the start
// of the frame: before the script's n-th native call of the frame (0 = its
// first), or once the script has yielded when it makes fewer calls.
inline constexpr std::int32_t kAtFrameStart = -1;

// A scenario event, due at the start of its frame before the script runs.
struct ScheduledEvent {
  std::int64_t frame = 0;
  std::string description;  // shown in the timeline, e.g. "health 0"
  std::function<void(World&)> apply;
  EventKind kind = EventKind::World;
  // Keyboard messages: the handler's seven arguments, and when in the frame.
  std::uint32_t keyArgs[7] = {0, 0, 0, 0, 0, 0, 0};
  std::int32_t atCall = kAtFrameStart;
};

using EventList = std::vector<ScheduledEvent>;

// What an area of the world does unless it says otherwise: it has no scenario
// events and no work of its own at either end of a frame. Each area derives
// from it and declares only the parts it has; the world walks every area with
// the same calls.
struct QuietArea {
  static bool ParseEvent(const ScenarioNode& /*event*/, EventList& /*out*/) { return false; }
  void BeginFrame(World& /*world*/) {}
  void EndFrame(World& /*world*/) {}
  bool HasFrameWork(const World& /*world*/) const { return false; }
};

// Reads the "frame" of a single-frame event.
std::int64_t EventFrame(const ScenarioNode& event);

}  // namespace sim
