// The library entry: what it registers, in which order, for which reasons.
#include <gtest/gtest.h>

#include "src/host/key_states.h"
#include "src/host/library_entry.h"
#include "tests/support/recording_host.h"

namespace {

using namespace rebound;
using test::Host;

void* const kModule = reinterpret_cast<void*>(0x7FF612340000ULL);

TEST(LibraryEntry, AttachRegistersScriptThenKeyboardHandler) {
  Host().Reset();
  EXPECT_EQ(LibraryEntry(kModule, kProcessAttach), 1);
  const auto& calls = Host().calls;
  ASSERT_EQ(calls.size(), 2U);
  EXPECT_EQ(calls[0].function, "scriptRegister");
  EXPECT_EQ(calls[0].value, reinterpret_cast<std::uintptr_t>(kModule));
  EXPECT_NE(calls[0].pointer, nullptr);
  EXPECT_EQ(calls[1].function, "keyboardHandlerRegister");
  EXPECT_EQ(calls[1].pointer, reinterpret_cast<const void*>(&OnKeyboardMessage));
}

TEST(LibraryEntry, DetachUnregistersInTheSameOrderWithTheSameHandles) {
  Host().Reset();
  LibraryEntry(kModule, kProcessAttach);
  EXPECT_EQ(LibraryEntry(kModule, kProcessDetach), 1);
  const auto& calls = Host().calls;
  ASSERT_EQ(calls.size(), 4U);
  EXPECT_EQ(calls[2].function, "scriptUnregister");
  EXPECT_EQ(calls[2].value, calls[0].value);
  EXPECT_EQ(calls[3].function, "keyboardHandlerUnregister");
  EXPECT_EQ(calls[3].pointer, calls[1].pointer);
}

TEST(LibraryEntry, OtherReasonsDoNothingAndReturnTrue) {
  for (std::uint32_t reason : {2U, 3U, 4U, 0xFFFFFFFFU}) {
    Host().Reset();
    EXPECT_EQ(LibraryEntry(kModule, reason), 1) << reason;
    EXPECT_TRUE(Host().calls.empty()) << reason;
  }
}

TEST(LibraryEntry, MakesNoNativeCall) {
  Host().Reset();
  LibraryEntry(kModule, kProcessAttach);
  LibraryEntry(kModule, kProcessDetach);
  EXPECT_EQ(Host().NativeCallCount(), 0U);
}

}  // namespace
