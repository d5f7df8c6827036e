// The script entry the host runs on its fibre: a one-time start-up, then one
// tick of the respawn flow per frame, for ever.
#pragma once

namespace rebound {

// Posts the start-up ticker and switches off the game's own fades after death
// and arrest; the respawn flow turns the first three back off after each respawn.
void RunStartUp();

[[noreturn]] void ScriptMain() noexcept;

}  // namespace rebound
