// The script host's functions, listed once. The simulator's answers to them
// (Simulation::Host*, AlternateHost), the Linux exports, the Windows table and
// the stand-in ScriptHookV.dll's forwarders are all made from this list by the
// preprocessor, and the stand-in's module-definition file by CMake; a test holds
// the plug-in's own declarations (src/host/host_api.h, which may not include
// this) and its import file to it. Adding a host function is an entry here
// and its behaviour in Simulation and Replay.
#pragma once

#include <cstdint>

namespace sim {

// The types of the functions' arguments, as the simulator names them.
using ScriptEntry = void (*)();
using KeyboardHandler = void (*)(std::uint32_t key, std::uint16_t repeats, std::uint8_t scanCode,
                                 std::int32_t isExtended, std::int32_t isWithAlt,
                                 std::int32_t wasDownBefore, std::int32_t isUpNow);
using PresentCallback = void (*)(void* swapChain);
// What getGameVersionInfo returns by value. Its layout is not public, so no
// host can fill it in faithfully: the simulator refuses the call and never
// returns from it. Never returning is also what keeps the declared size
// harmless: on x64 a caller expecting a larger structure passes a hidden
// pointer for it, which a normal return of this one would leave unwritten.
struct GameVersionInfo {
  std::uint64_t unknown;
};

}  // namespace sim

// REBOUND_HOST_FUNCTIONS(X) calls X(name, Member, decorated, Return, Params, Args) for each
// function, in the order of the stand-in's exports:
//   name       the function as plug-ins call it, and the Linux simulator's export; unique,
//              so an overload the host also exports takes a name of its own that starts
//              with the function's (scriptUnregister's older form, for instance)
//   Member     its answer's name: Simulation::Host<Member>, AlternateHost::<Member>
//   decorated  the MSVC-decorated name under which the real host exports it
//   Return     its result type
//   Params     its parameters in parentheses, with fully qualified types
//   Args       their names in parentheses, to pass a call on
// REBOUND_PLUGIN_HOST_FUNCTIONS are the ones the plug-in imports; the rest of
// the host's exports follow them in REBOUND_HOST_FUNCTIONS.
// sim/CMakeLists.txt reads the first three fields of each entry to write the
// stand-in's .def file: keep them on the entry's first line.
// clang-format off
#define REBOUND_PLUGIN_HOST_FUNCTIONS(X) \
  X(scriptRegister, ScriptRegister, "?scriptRegister@@YAXPEAUHINSTANCE__@@P6AXXZ@Z", \
    void, (void* module, ::sim::ScriptEntry entry), (module, entry)) \
  X(scriptUnregister, ScriptUnregister, "?scriptUnregister@@YAXPEAUHINSTANCE__@@@Z", \
    void, (void* module), (module)) \
  X(keyboardHandlerRegister, KeyboardHandlerRegister, "?keyboardHandlerRegister@@YAXP6AXKGEHHHH@Z@Z", \
    void, (::sim::KeyboardHandler handler), (handler)) \
  X(keyboardHandlerUnregister, KeyboardHandlerUnregister, "?keyboardHandlerUnregister@@YAXP6AXKGEHHHH@Z@Z", \
    void, (::sim::KeyboardHandler handler), (handler)) \
  X(scriptWait, ScriptWait, "?scriptWait@@YAXK@Z", \
    void, (std::uint32_t ms), (ms)) \
  X(nativeInit, NativeInit, "?nativeInit@@YAX_K@Z", \
    void, (std::uint64_t hash), (hash)) \
  X(nativePush64, NativePush64, "?nativePush64@@YAX_K@Z", \
    void, (std::uint64_t value), (value)) \
  X(nativeCall, NativeCall, "?nativeCall@@YAPEA_KXZ", \
    std::uint64_t*, (), ())

// Services: the rest of the real host's exports, which Rebound does not call
// but other plug-ins do (host_services.h).
#define REBOUND_SERVICE_HOST_FUNCTIONS(X) \
  X(getGameVersion, GetGameVersion, "?getGameVersion@@YA?AW4eGameVersion@@XZ", \
    std::int32_t, (), ()) \
  X(getGameVersionInfo, GetGameVersionInfo, "?getGameVersionInfo@@YA?AUGameVersionInfo@@XZ", \
    ::sim::GameVersionInfo, (), ()) \
  X(getGlobalPtr, GetGlobalPtr, "?getGlobalPtr@@YAPEA_KH@Z", \
    std::uint64_t*, (std::int32_t id), (id)) \
  X(getScriptHandleBaseAddress, GetScriptHandleBaseAddress, "?getScriptHandleBaseAddress@@YAPEAEH@Z", \
    std::uint8_t*, (std::int32_t handle), (handle)) \
  X(worldGetAllVehicles, WorldGetAllVehicles, "?worldGetAllVehicles@@YAHPEAHH@Z", \
    std::int32_t, (std::int32_t* arr, std::int32_t arrSize), (arr, arrSize)) \
  X(worldGetAllPeds, WorldGetAllPeds, "?worldGetAllPeds@@YAHPEAHH@Z", \
    std::int32_t, (std::int32_t* arr, std::int32_t arrSize), (arr, arrSize)) \
  X(worldGetAllObjects, WorldGetAllObjects, "?worldGetAllObjects@@YAHPEAHH@Z", \
    std::int32_t, (std::int32_t* arr, std::int32_t arrSize), (arr, arrSize)) \
  X(worldGetAllPickups, WorldGetAllPickups, "?worldGetAllPickups@@YAHPEAHH@Z", \
    std::int32_t, (std::int32_t* arr, std::int32_t arrSize), (arr, arrSize)) \
  X(createTexture, CreateTexture, "?createTexture@@YAHPEBD@Z", \
    std::int32_t, (const char* file), (file)) \
  X(drawTexture, DrawTexture, "?drawTexture@@YAXHHHHMMMMMMMMMMMM@Z", \
    void, (std::int32_t id, std::int32_t index, std::int32_t level, std::int32_t time, \
           float sizeX, float sizeY, float centerX, float centerY, float posX, float posY, \
           float rotation, float screenHeightScaleFactor, float r, float g, float b, float a), \
    (id, index, level, time, sizeX, sizeY, centerX, centerY, posX, posY, rotation, \
     screenHeightScaleFactor, r, g, b, a)) \
  X(presentCallbackRegister, PresentCallbackRegister, "?presentCallbackRegister@@YAXP6AXPEAX@Z@Z", \
    void, (::sim::PresentCallback callback), (callback)) \
  X(presentCallbackUnregister, PresentCallbackUnregister, "?presentCallbackUnregister@@YAXP6AXPEAX@Z@Z", \
    void, (::sim::PresentCallback callback), (callback)) \
  X(nativeCanExecuteInThisContext, NativeCanExecuteInThisContext, "?nativeCanExecuteInThisContext@@YA_NXZ", \
    bool, (), ()) \
  X(scriptsAreLaunchedUsingReloading, ScriptsAreLaunchedUsingReloading, "?scriptsAreLaunchedUsingReloading@@YA_NXZ", \
    bool, (), ())

#define REBOUND_HOST_FUNCTIONS(X) \
  REBOUND_PLUGIN_HOST_FUNCTIONS(X) \
  REBOUND_SERVICE_HOST_FUNCTIONS(X) \
  /* Scripts: */ \
  X(scriptRegisterAdditionalThread, ScriptRegisterAdditionalThread, "?scriptRegisterAdditionalThread@@YAXPEAUHINSTANCE__@@P6AXXZ@Z", \
    void, (void* module, ::sim::ScriptEntry entry), (module, entry)) \
  X(scriptUnregisterScript, ScriptUnregisterScript, "?scriptUnregister@@YAXP6AXXZ@Z", \
    void, (::sim::ScriptEntry entry), (entry))
// clang-format on
