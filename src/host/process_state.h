// Every piece of the plug-in's process-wide state, listed in one place, and the
// one reset that sets all of it back to its values at load. Tests call the
// reset before and after each case; the plug-in itself never does.
#pragma once

namespace rebound {

// The process-wide state, by subsystem:
//   src/host/key_states    keyStates          latest keyboard message per key
//   src/respawn/death_flow deathFlow          the respawn state machine and its bar
//   src/respawn/event_timers eventTimers      the flow's keyed timers
//   src/hud/panel          hudBarPanel        the listed bars, frame guard, blink clock
//   src/hud/hud_text       TextScaleOverride  the big text's size pair
//                          longTextStorage    pieces of the long text being drawn
//   src/spawn/random       the seed source    the device by default; replaced by tests
//                                             and, through the Linux module's export
//                                             ReboundSetSeedSource, by the simulator
// Besides these, only the random helpers' count of fallback seeds (which
// merely varies those seeds) outlives a call; it needs no reset.
// The recording build adds src/recorder/recorder (its ring, staging buffers,
// keyboard queue and writer state), set back by its own
// recorder::testing_seam::ResetRecorderForTesting.

namespace testing_seam {

// Sets every item above back to its load value, releasing what the lists
// hold (so that a test sees the allocations of a fresh process). The panel
// lets go of the respawn bar before the bar is freed.
void ResetProcessStateForTesting() noexcept;

}  // namespace testing_seam
}  // namespace rebound
