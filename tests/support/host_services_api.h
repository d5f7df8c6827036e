// The host's services beside its eight script functions, as a test plug-in
// of ours reaches them (tests/tools/services_module.cpp): looked up at run
// time by name, as many plug-ins do, so that a host lacking one is seen as a
// null pointer rather than a module that fails to load. Rebound calls none
// of them, so its own src/host/host_api.h does not declare them.
#pragma once

#include <cstdint>

namespace services {

// Its layout is not public; nothing reads it (the simulator never returns it).
struct GameVersionInfo {
  std::uint64_t unknown;
};
using PresentCallback = void (*)(void* swapChain);

// X(name, decorated, Return, Params) for each service.
// clang-format off
#define REBOUND_TEST_SERVICES(X) \
  X(getGameVersion, "?getGameVersion@@YA?AW4eGameVersion@@XZ", std::int32_t, ()) \
  X(getGameVersionInfo, "?getGameVersionInfo@@YA?AUGameVersionInfo@@XZ", GameVersionInfo, ()) \
  X(getGlobalPtr, "?getGlobalPtr@@YAPEA_KH@Z", std::uint64_t*, (std::int32_t)) \
  X(getScriptHandleBaseAddress, "?getScriptHandleBaseAddress@@YAPEAEH@Z", std::uint8_t*, (std::int32_t)) \
  X(worldGetAllVehicles, "?worldGetAllVehicles@@YAHPEAHH@Z", std::int32_t, (std::int32_t*, std::int32_t)) \
  X(worldGetAllPeds, "?worldGetAllPeds@@YAHPEAHH@Z", std::int32_t, (std::int32_t*, std::int32_t)) \
  X(worldGetAllObjects, "?worldGetAllObjects@@YAHPEAHH@Z", std::int32_t, (std::int32_t*, std::int32_t)) \
  X(worldGetAllPickups, "?worldGetAllPickups@@YAHPEAHH@Z", std::int32_t, (std::int32_t*, std::int32_t)) \
  X(createTexture, "?createTexture@@YAHPEBD@Z", std::int32_t, (const char*)) \
  X(drawTexture, "?drawTexture@@YAXHHHHMMMMMMMMMMMM@Z", void, \
    (std::int32_t, std::int32_t, std::int32_t, std::int32_t, float, float, float, float, float, \
     float, float, float, float, float, float, float)) \
  X(presentCallbackRegister, "?presentCallbackRegister@@YAXP6AXPEAX@Z@Z", void, (PresentCallback)) \
  X(presentCallbackUnregister, "?presentCallbackUnregister@@YAXP6AXPEAX@Z@Z", void, (PresentCallback)) \
  X(nativeCanExecuteInThisContext, "?nativeCanExecuteInThisContext@@YA_NXZ", bool, ()) \
  X(scriptsAreLaunchedUsingReloading, "?scriptsAreLaunchedUsingReloading@@YA_NXZ", bool, ())
// clang-format on

struct Functions {
#define REBOUND_TEST_SERVICE_FIELD(name, decorated, Return, Params) Return(*name) Params = nullptr;
  REBOUND_TEST_SERVICES(REBOUND_TEST_SERVICE_FIELD)
#undef REBOUND_TEST_SERVICE_FIELD
};

// Looks each service up with find(name, decorated), which answers its
// address or null; `missing` counts those it did not find.
template <typename Find>
Functions Bind(Find find, int& missing) {
  Functions f;
  missing = 0;
#define REBOUND_TEST_SERVICE_BIND(name, decorated, Return, Params)     \
  f.name = reinterpret_cast<Return(*) Params>(find(#name, decorated)); \
  missing += f.name == nullptr ? 1 : 0;
  REBOUND_TEST_SERVICES(REBOUND_TEST_SERVICE_BIND)
#undef REBOUND_TEST_SERVICE_BIND
  return f;
}

}  // namespace services
