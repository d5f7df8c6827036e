// The script host's eight functions, declared once. On Windows they bind by
// name to the host DLL's decorated exports; on Linux they are plain C symbols
// that the loading process (the simulator) provides when the module is loaded.
#pragma once

#include <cstdint>

#include "src/host/platform.h"

namespace rebound {

// The module handle is opaque to the plug-in: it is only handed back to the host.
using ModuleHandle = void*;
using ScriptEntry = void (*)();
using KeyboardHandler = void (*)(std::uint32_t key, std::uint16_t repeats, std::uint8_t scanCode,
                                 std::int32_t isExtended, std::int32_t isWithAlt,
                                 std::int32_t wasDownBefore, std::int32_t isUpNow);

}  // namespace rebound

#if REBOUND_WINDOWS
// GNU as needs the decorated name quoted, clang's MinGW target needs it bare.
#if defined(__clang__)
#define REBOUND_HOST_NAME(decorated) __asm__(decorated)
#else
#define REBOUND_HOST_NAME(decorated) __asm__("\"" decorated "\"")
#endif
#else
#define REBOUND_HOST_NAME(decorated)
#endif

extern "C" {
void scriptRegister(rebound::ModuleHandle module, rebound::ScriptEntry entry)
    REBOUND_HOST_NAME("?scriptRegister@@YAXPEAUHINSTANCE__@@P6AXXZ@Z");
void scriptUnregister(rebound::ModuleHandle module)
    REBOUND_HOST_NAME("?scriptUnregister@@YAXPEAUHINSTANCE__@@@Z");
void keyboardHandlerRegister(rebound::KeyboardHandler handler)
    REBOUND_HOST_NAME("?keyboardHandlerRegister@@YAXP6AXKGEHHHH@Z@Z");
void keyboardHandlerUnregister(rebound::KeyboardHandler handler)
    REBOUND_HOST_NAME("?keyboardHandlerUnregister@@YAXP6AXKGEHHHH@Z@Z");
void scriptWait(std::uint32_t ms) REBOUND_HOST_NAME("?scriptWait@@YAXK@Z");
void nativeInit(std::uint64_t hash) REBOUND_HOST_NAME("?nativeInit@@YAX_K@Z");
void nativePush64(std::uint64_t value) REBOUND_HOST_NAME("?nativePush64@@YAX_K@Z");
std::uint64_t* nativeCall() REBOUND_HOST_NAME("?nativeCall@@YAPEA_KXZ");
}

#if REBOUND_RECORDING
namespace rebound {

// The recording build's scriptWait (src/recorder/recorder.cpp): this declaration
// hides the host's from every call inside namespace rebound, so that each
// wait the plug-in makes ends and commits the frame being recorded, and each
// return begins the next. The player's build has no such function.
void scriptWait(std::uint32_t ms) noexcept;

}  // namespace rebound
#endif
