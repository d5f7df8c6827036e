// The script host's functions for more than one script per module, which
// Rebound never calls and so src/host/host_api.h does not declare: an
// additional script thread, and scriptUnregister's older form that takes the
// script function; and whether the scripts were started by a reload. Used by
// the test modules of tests/tools/.
#pragma once

#include "src/host/host_api.h"

extern "C" {
void scriptRegisterAdditionalThread(rebound::ModuleHandle module, rebound::ScriptEntry entry)
    REBOUND_HOST_NAME("?scriptRegisterAdditionalThread@@YAXPEAUHINSTANCE__@@P6AXXZ@Z");
// Named apart from scriptUnregister(module), as C has no overloads; the
// Windows name is the overload's.
void scriptUnregisterScript(rebound::ScriptEntry entry)
    REBOUND_HOST_NAME("?scriptUnregister@@YAXP6AXXZ@Z");
bool scriptsAreLaunchedUsingReloading()
    REBOUND_HOST_NAME("?scriptsAreLaunchedUsingReloading@@YA_NXZ");
}
