#include "src/host/script_main.h"

#include "src/host/host_api.h"
#include "src/host/natives.h"
#include "src/respawn/death_flow.h"

namespace rebound {

void RunStartUp() {
  using namespace natives;
  BEGIN_TEXT_COMMAND_THEFEED_POST("STRING");
  ADD_TEXT_COMPONENT_SUBSTRING_PLAYER_NAME("Latest1");
  END_TEXT_COMMAND_THEFEED_POST_TICKER(false, true);

  SET_FADE_IN_AFTER_DEATH_ARREST(false);
  SET_FADE_OUT_AFTER_ARREST(false);
  SET_FADE_OUT_AFTER_DEATH(false);
  NATIVE_0xAA391C728106F7AF(false);
}

void ScriptMain() noexcept {
  // No wait before the start-up: the ticker, the settings and the first tick
  // all land in the first frame the host runs the script.
  RunStartUp();
  for (;;) {
    TickDeathFlow();
    scriptWait(0);
  }
}

}  // namespace rebound
