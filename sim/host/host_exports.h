// The script host's functions as a loaded plug-in reaches them: each
// forwards to the running simulation. The Linux half exports them from the
// executable as plain C symbols that the module binds to at load; the Windows
// half installs them into the stand-in ScriptHookV.dll, whose decorated
// exports the plug-in imports.
#pragma once

#include <string>

namespace sim {

// Makes the host functions reachable by a plug-in loaded after this call;
// false, with `error` set, when they cannot be.
bool ProvideHostFunctions(std::string& error);

}  // namespace sim
