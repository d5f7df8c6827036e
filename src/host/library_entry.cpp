#include "src/host/library_entry.h"

#include "src/host/key_states.h"
#include "src/host/script_main.h"
#if REBOUND_RECORDING
#include "src/host/recorder.h"
#endif

namespace rebound {
namespace {

// The host's entry type returns void; ScriptMain never returns at all.
void ScriptEntryThunk() {
#if REBOUND_RECORDING
  recorder::OnScriptStart();
#endif
  ScriptMain();
}

}  // namespace

std::int32_t LibraryEntry(ModuleHandle module, std::uint32_t reason) noexcept {
  switch (reason) {
    case kProcessAttach:
#if REBOUND_RECORDING
      recorder::OnProcessAttach(module);
#endif
      scriptRegister(module, &ScriptEntryThunk);
      keyboardHandlerRegister(&OnKeyboardMessage);
      break;
    case kProcessDetach:
      scriptUnregister(module);
      keyboardHandlerUnregister(&OnKeyboardMessage);
#if REBOUND_RECORDING
      recorder::OnProcessDetach();
#endif
      break;
    default:
      break;
  }
  return 1;
}

}  // namespace rebound
