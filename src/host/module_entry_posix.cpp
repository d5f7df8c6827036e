// The Linux module's only export: the library entry with the DllMain contract,
// which the loading host calls with process attach after loading the module and
// with process detach before unloading it.
#include "src/host/library_entry.h"

extern "C" __attribute__((visibility("default"))) int ReboundLibraryEntry(void* module,
                                                                          unsigned int reason,
                                                                          void* /*reserved*/) {
  return rebound::LibraryEntry(module, reason);
}
