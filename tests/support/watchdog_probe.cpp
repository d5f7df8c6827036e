// A test program with one case that hangs, for the check that the tests' main names a case which
// runs past its limit and stops the program (watchdog_test.cmake).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(Watchdog, QuickCasePasses) { SUCCEED(); }

TEST(Watchdog, HangingCaseIsNamed) {
  std::this_thread::sleep_for(std::chrono::seconds(30));
  ADD_FAILURE() << "the watchdog let the case run on";
}
