// A plug-in module that calls natives the game's table lacks, for the tests of
// rebound-sim --natives: every frame GET_IS_LOADING_SCREEN_ACTIVE and a text
// native of the test's catalogue, from its third frame a native of that
// catalogue with one argument fewer than listed, in its sixth a hash no
// catalogue lists (with one argument), and from its eighth another such hash
// and the first again (for --unknown-natives zero, which goes on past them).
// PLAYER_PED_ID, which the world models, comes first.
#include <cstdint>

#include "src/host/host_api.h"
#include "tests/support/script_module.h"

namespace {

constexpr std::uint64_t kPlayerPedId = 0xD80958FC74E988A6;
constexpr std::uint64_t kGetIsLoadingScreenActive = 0x10D0A8F259E93EC9;
// Natives of the test's own catalogue (natives_option_test.py), not of the game.
constexpr std::uint64_t kTestText = 0x0000000000000A01;
constexpr std::uint64_t kTestPair = 0x0000000000000A02;
constexpr std::uint64_t kListedNowhere = 0x0000000000000BAD;
constexpr std::uint64_t kAlsoListedNowhere = 0x0000000000000BAE;

std::uint64_t* Call(std::uint64_t hash) {
  nativeInit(hash);
  return nativeCall();
}

void Script() {
  for (int frame = 0;; ++frame) {
    Call(kPlayerPedId);
    // Right after the player's ped, whose handle is left in the result slots
    // unless the host zeroes them: a second PLAYER_PED_ID tells the test.
    if (frame >= 7 && *Call(kAlsoListedNowhere) != 0) Call(kPlayerPedId);
    Call(kGetIsLoadingScreenActive);
    // A default text is the game's empty text, never a null pointer: a null
    // one stops the run at the hash no catalogue lists.
    const auto* text = reinterpret_cast<const char*>(*Call(kTestText));
    if (text == nullptr || *text != '\0') Call(kListedNowhere);
    if (frame >= 2) {
      nativeInit(kTestPair);
      nativePush64(7);
      nativeCall();
    }
    if (frame == 5) {
      nativeInit(kListedNowhere);
      nativePush64(42);
      nativeCall();
    }
    if (frame >= 7) Call(kListedNowhere);
    scriptWait(0);
  }
}

}  // namespace

REBOUND_TEST_SCRIPT_MODULE(Script)
