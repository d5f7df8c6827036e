#include "src/host/library_entry.h"

#include "src/host/key_states.h"
#include "src/host/script_main.h"

namespace rebound {
namespace {

// The host's entry type returns void; ScriptMain never returns at all.
void ScriptEntryThunk() { ScriptMain(); }

}  // namespace

std::int32_t LibraryEntry(ModuleHandle module, std::uint32_t reason) noexcept {
  switch (reason) {
    case kProcessAttach:
      scriptRegister(module, &ScriptEntryThunk);
      keyboardHandlerRegister(&OnKeyboardMessage);
      break;
    case kProcessDetach:
      scriptUnregister(module);
      keyboardHandlerUnregister(&OnKeyboardMessage);
      break;
    default:
      break;
  }
  return 1;
}

}  // namespace rebound
