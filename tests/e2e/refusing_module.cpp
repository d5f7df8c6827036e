// A plug-in module whose library entry registers its script and then refuses
// process attach, as a DllMain that returns FALSE does: the loader must undo
// the load with process detach, where the module unregisters again.
#include "src/host/host_api.h"

namespace {

void IdleScript() {
  for (;;) scriptWait(0);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int ReboundLibraryEntry(void* module,
                                                                          unsigned int reason,
                                                                          void* /*reserved*/) {
  if (reason == 1) {
    scriptRegister(module, &IdleScript);
    return 0;
  }
  if (reason == 0) scriptUnregister(module);
  return 1;
}
