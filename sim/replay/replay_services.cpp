// The host's services during a replay. A recording holds Rebound's calls,
// and Rebound calls none of these: a plug-in that does differs from any
// recording, and replay says so at the call rather than answering it.
#include <string>
#include <tuple>
#include <type_traits>

#include "sim/host/host_services.h"
#include "sim/replay/replay.h"

namespace sim {

namespace {

std::string NotRecorded(const char* function) {
  return std::string("(a call of the host's ") + function +
         ", which no recording holds: replay checks the calls of a recorded plug-in, and "
         "rebound-sim run answers this one)";
}

}  // namespace

// Each differs from the recording and, off the script fibre (where the stop
// returns), answers what a host without the service would: nothing.
#define REBOUND_REPLAY_SERVICE(name, Member, decorated, Return, Params, Args) \
  Return Replay::Member Params {                                              \
    static_cast<void>(std::forward_as_tuple Args);                            \
    if (checking_) Differ(NotRecorded(#name));                                \
    return ReplayServiceDefault<Return>();                                    \
  }

template <typename T>
T ReplayServiceDefault() {
  if constexpr (std::is_same_v<T, GameVersionInfo>) {
    // It must not return at all (see GameVersionInfo).
    StopProcessWithoutReturning("replay: getGameVersionInfo is not answered");
  } else {
    return T();
  }
}

REBOUND_SERVICE_HOST_FUNCTIONS(REBOUND_REPLAY_SERVICE)
#undef REBOUND_REPLAY_SERVICE

}  // namespace sim
