#include "src/host/library_entry.h"

#include "src/host/key_states.h"
#include "src/host/script_main.h"
#include "src/recorder/hooks.h"

namespace rebound {
namespace {

// The host's entry type returns void; ScriptMain never returns at all.
void ScriptEntryThunk() {
  recorder::OnScriptStart();
  ScriptMain();
}

}  // namespace

std::int32_t LibraryEntry(ModuleHandle module, std::uint32_t reason) noexcept {
  switch (reason) {
    case kProcessAttach:
      recorder::OnProcessAttach(module);
      scriptRegister(module, &ScriptEntryThunk);
      keyboardHandlerRegister(&OnKeyboardMessage);
      break;
    case kProcessDetach:
      scriptUnregister(module);
      keyboardHandlerUnregister(&OnKeyboardMessage);
      recorder::OnProcessDetach();
      break;
    default:
      break;
  }
  return 1;
}

}  // namespace rebound
