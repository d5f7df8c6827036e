// Runs Rebound-recorder.asi the way the game ends: loaded beside the stand-in
// ScriptHookV.dll, its script run on this thread for some frames (each wait
// sleeping a little, so that the recorder's writer thread writes meanwhile),
// and then the process ended from inside a wait, as quitting the game does.
// The system ends the writer thread first and calls the DLL's entry with
// process detach and a non-null reserved argument; the recording must still
// end with everything and the detach lines.
//
//   recorder_exit_probe.exe RECORDER_DLL FRAMES
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "sim/host/host_table.h"

namespace {

constexpr std::uint64_t kFrameCount = 0xFC8202EFC642E6F2;  // GET_FRAME_COUNT
constexpr std::uint64_t kGameTimer = 0x9CD27B0045628463;   // GET_GAME_TIMER
constexpr std::uint64_t kHealth = 0xEEF059FAD016D209;      // GET_ENTITY_HEALTH

void (*script)() = nullptr;
int frame = 0;
int framesToRun = 0;
std::uint64_t hash = 0;
std::uint64_t result[4] = {};

void Register(void* /*module*/, void (*entry)()) { script = entry; }
void Unregister(void* /*module*/) {}
void KeyboardRegister(sim::KeyboardHandler /*handler*/) {}
void KeyboardUnregister(sim::KeyboardHandler /*handler*/) {}
void Wait(std::uint32_t /*ms*/) {
  if (++frame == framesToRun) ExitProcess(0);
  Sleep(10);
}
void Init(std::uint64_t h) { hash = h; }
void Push(std::uint64_t /*value*/) {}
// A living player in a game at 60 frames a second; everything else zero.
std::uint64_t* Call() {
  result[0] = hash == kFrameCount  ? static_cast<std::uint64_t>(5000 + frame)
              : hash == kGameTimer ? static_cast<std::uint64_t>(200000 + frame * 1000 / 60)
              : hash == kHealth    ? 200
                                   : 0;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: recorder_exit_probe RECORDER_DLL FRAMES\n");
    return 2;
  }
  framesToRun = std::atoi(argv[2]);
  const HMODULE host = LoadLibraryW(L"ScriptHookV.dll");
  const auto install =
      host != nullptr ? reinterpret_cast<sim::InstallHostFunction>(
                            reinterpret_cast<void*>(GetProcAddress(host, sim::kInstallHostExport)))
                      : nullptr;
  if (install == nullptr) {
    std::fprintf(stderr, "recorder_exit_probe: no stand-in ScriptHookV.dll beside the program\n");
    return 2;
  }
  // By name: the host's other functions, which the recorder does not call, stay null.
  sim::HostFunctionTable table{};
  table.size = sizeof(sim::HostFunctionTable);
  table.scriptRegister = &Register;
  table.scriptUnregister = &Unregister;
  table.keyboardHandlerRegister = &KeyboardRegister;
  table.keyboardHandlerUnregister = &KeyboardUnregister;
  table.scriptWait = &Wait;
  table.nativeInit = &Init;
  table.nativePush64 = &Push;
  table.nativeCall = &Call;
  install(&table);
  if (LoadLibraryA(argv[1]) == nullptr || script == nullptr) {
    std::fprintf(stderr, "recorder_exit_probe: %s did not load or register a script\n", argv[1]);
    return 2;
  }
  script();  // never returns: the process ends inside a wait
  return 3;
}
