// The Linux module's exports: the library entry with the DllMain contract,
// which the loading host calls with process attach after loading the module and
// with process detach before unloading it; and the seed source of the random
// helpers, which the simulator replaces so that a run can be replayed. The
// Windows DLL has neither: the real host knows nothing of them.
#include "src/host/library_entry.h"
#include "src/recorder/hooks.h"
#include "src/spawn/random_detail.h"

// As DllMain's: a non-null `reserved` at process detach is the process's exit,
// which only the recording build needs to know.
extern "C" __attribute__((visibility("default"))) int ReboundLibraryEntry(void* module,
                                                                          unsigned int reason,
                                                                          void* reserved) {
  if (reason == rebound::kProcessDetach)
    rebound::recorder::SetDetachIsProcessExit(reserved != nullptr);
  return rebound::LibraryEntry(module, reason);
}

// Every later seed of the random helpers comes from `source`; a null source
// gives them back the system's random device. Returns the previous source.
// The source must not throw: it is called inside the plug-in, on the script
// fibre.
extern "C" __attribute__((visibility("default"))) rebound::testing_seam::SeedSource
ReboundSetSeedSource(rebound::testing_seam::SeedSource source) noexcept {
  return rebound::testing_seam::SetSeedSourceForTesting(source);
}
