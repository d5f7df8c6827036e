// A plug-in module whose script crashes in its fourth frame (frame 3), right
// after a call of GET_GAME_TIMER, in the way REBOUND_TEST_CRASH names: "null"
// writes through a null pointer, "abort" calls abort(), "throw" lets a C++
// exception escape the script function. Anything else, or nothing, never
// crashes. The tests of rebound-sim's crash handling run it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "src/host/host_api.h"
#include "tests/support/script_module.h"

namespace {

// The game's hashes of the two natives the script calls.
constexpr std::uint64_t kPlayerPedId = 0xD80958FC74E988A6;
constexpr std::uint64_t kGetGameTimer = 0x9CD27B0045628463;

// Read through a volatile so that the compiler keeps the write.
int* volatile g_nowhere = nullptr;

void Crash(const char* how) {
  if (std::strcmp(how, "null") == 0) *g_nowhere = 42;
  if (std::strcmp(how, "abort") == 0) std::abort();
  if (std::strcmp(how, "throw") == 0) throw std::runtime_error("the test module's own exception");
}

void CrashingScript() {
  const char* how = std::getenv("REBOUND_TEST_CRASH");
  for (int frame = 0;; ++frame) {
    nativeInit(kPlayerPedId);
    nativeCall();
    if (frame == 3) {
      nativeInit(kGetGameTimer);
      nativeCall();
      if (how != nullptr) Crash(how);
    }
    scriptWait(0);
  }
}

}  // namespace

REBOUND_TEST_SCRIPT_MODULE(CrashingScript)
