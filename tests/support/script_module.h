// The exports of a small test module with one script, as the simulator loads
// a plug-in: the library entry registers the script at attach and
// unregisters the module at detach, and the seed source is taken as the
// plug-in takes it (so that a run can be seeded and replayed) though the
// script draws nothing. A Windows DLL has DllMain and no seed source. Used by the test modules of
// tests/tools/.
#pragma once

#include <cstdint>

#include "src/host/host_api.h"

// The seed source export alone, for a module with a library entry of its own.
#define REBOUND_TEST_SEED_SOURCE                                                     \
  using SeedSource = std::uint32_t (*)() noexcept;                                   \
  extern "C" __attribute__((visibility("default"))) SeedSource ReboundSetSeedSource( \
      SeedSource /*source*/) noexcept {                                              \
    return nullptr;                                                                  \
  }

#if defined(_WIN32)
// A DLL: the same from DllMain, as the game's ASI loader calls it.
#define REBOUND_TEST_SCRIPT_MODULE(script)                                                   \
  extern "C" __declspec(dllexport) int __stdcall DllMain(void* module, unsigned long reason, \
                                                         void* /*reserved*/) {               \
    if (reason == 1) scriptRegister(module, &(script));                                      \
    if (reason == 0) scriptUnregister(module);                                               \
    return 1;                                                                                \
  }
#else
#define REBOUND_TEST_SCRIPT_MODULE(script)                                   \
  REBOUND_TEST_SEED_SOURCE                                                   \
  extern "C" __attribute__((visibility("default"))) int ReboundLibraryEntry( \
      void* module, unsigned int reason, void* /*reserved*/) {               \
    if (reason == 1) scriptRegister(module, &(script));                      \
    if (reason == 0) scriptUnregister(module);                               \
    return 1;                                                                \
  }
#endif
