// The library entry's contract, shared by the Windows DllMain and the Linux
// module entry: register with the host on attach, unregister on detach.
#pragma once

#include <cstdint>

#include "src/host/host_api.h"

namespace rebound {

enum EntryReason : std::uint32_t {
  kProcessDetach = 0,
  kProcessAttach = 1,
  kThreadAttach = 2,
  kThreadDetach = 3,
};

// Always returns 1 (TRUE). Calls nothing but the four register functions: the
// loader lock is held here and natives are not yet callable.
std::int32_t LibraryEntry(ModuleHandle module, std::uint32_t reason) noexcept;

}  // namespace rebound
