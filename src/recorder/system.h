// What the recording build needs from the operating system: its settings
// from the environment, the recording file, the writer thread, and the
// header's facts about the host and the game. Implemented once per platform
// (system_posix.cpp, system_windows.cpp); used only by
// recorder.cpp. Nothing here is called on the script fibre after its first
// frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "src/host/host_api.h"

namespace rebound::recorder::platform {

// The environment's settings, read once at process attach (the folder, when
// given, is kept by the platform file).
struct Settings {
  std::size_t ringBytes = 0;       // REBOUND_RECORDER_RING_BYTES, 0 when not set
  std::uint64_t maxFileBytes = 0;  // REBOUND_RECORDER_MAX_BYTES, 0 when not set
};
Settings ReadSettings(ModuleHandle module) noexcept;

// The header's facts: "windows" or "linux", and the host DLL's and game's
// file names and versions where the platform can read them (else empty).
struct HostFiles {
  char hostFile[128] = {};
  char hostVersion[32] = {};
  char gameFile[128] = {};
  char gameVersion[32] = {};
};
const char* PlatformName() noexcept;
void ReadHostFiles(HostFiles& files) noexcept;

// Creates a new recording file, Rebound-recording-<date>-<time>.jsonl in
// local time, in the folder REBOUND_RECORDING_DIR names, else beside the
// module, else in the user's local application data; never over an existing
// file. False when no folder could take it.
bool OpenRecordingFile() noexcept;
// Appends to the file; false when the system refused.
bool WriteToFile(const char* data, std::size_t bytes) noexcept;
// Cuts the file back to `bytes` and writes on from there.
bool TruncateFile(std::uint64_t bytes) noexcept;
void CloseFile() noexcept;

// The writer thread: started once, from the script's first frame.
bool StartWriterThread(void (*main)()) noexcept;
// Ends it at process detach, once the detaching thread holds the file. On
// an unload the thread may still run (Windows: it is terminated, as its code
// is about to be unmapped; Linux: it is joined, having seen the stop); at the
// process's exit Windows has already ended it.
void EndWriterThread(bool processExit) noexcept;
void SleepMs(unsigned ms) noexcept;

}  // namespace rebound::recorder::platform
