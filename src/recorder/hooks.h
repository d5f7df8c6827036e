// Where the player's code tells the recording build what happens at the seam
// to the host: the library entry's attach and detach, the script's start, each
// keyboard message, each native call and each seed the random helpers take.
// This header is all the player's code sees of the recorder. In the player's
// build every hook is an empty inline function, which the compiler drops, so
// Rebound.asi is the same bytes as if the calls were not written at all; the
// recording build (REBOUND_RECORDING) declares them in recorder.h.
#pragma once

#include <cstdint>

#include "src/host/host_api.h"

#if REBOUND_RECORDING
#include "src/recorder/recorder.h"
#else
namespace rebound::recorder {

inline void OnProcessAttach(ModuleHandle /*module*/) noexcept {}
inline void SetDetachIsProcessExit(bool /*processExit*/) noexcept {}
inline void OnProcessDetach() noexcept {}
inline void OnScriptStart() noexcept {}
inline void OnKeyboardMessage(std::uint32_t /*key*/, std::uint16_t /*repeats*/,
                              std::uint8_t /*scanCode*/, std::int32_t /*isExtended*/,
                              std::int32_t /*isWithAlt*/, std::int32_t /*wasDownBefore*/,
                              std::int32_t /*isUpNow*/) noexcept {}
inline void OnRandomDraw(std::uint32_t /*value*/) noexcept {}
template <typename R, typename... Args>
inline void RecordNative(std::uint64_t /*hash*/, const std::uint64_t* /*result*/,
                         Args... /*args*/) noexcept {}

}  // namespace rebound::recorder
#endif
