// A plug-in module that the host must stop: in its second frame, after one
// good call, its script calls SET_ENTITY_COORDS with a boolean of 2. The
// tests of the tools that write and read traces run it for a run that ends
// at a fault.
#include <bit>
#include <cstdint>
#include <initializer_list>

#include "src/host/host_api.h"
#include "tests/support/script_module.h"

namespace {

// The game's hashes of the two natives the script calls.
constexpr std::uint64_t kPlayerPedId = 0xD80958FC74E988A6;
constexpr std::uint64_t kSetEntityCoords = 0x06843DA7060A026B;

std::uint64_t FloatSlot(float value) { return std::bit_cast<std::uint32_t>(value); }

void FaultingScript() {
  nativeInit(kPlayerPedId);
  nativeCall();
  scriptWait(0);
  nativeInit(kPlayerPedId);
  nativeCall();
  nativeInit(kSetEntityCoords);
  for (std::uint64_t slot :
       {std::uint64_t{1}, FloatSlot(215.0F), FloatSlot(-810.5F), FloatSlot(30.25F),
        std::uint64_t{2}, std::uint64_t{0}, std::uint64_t{0}, std::uint64_t{0}}) {
    nativePush64(slot);
  }
  nativeCall();
  for (;;) scriptWait(0);
}

}  // namespace

REBOUND_TEST_SCRIPT_MODULE(FaultingScript)
