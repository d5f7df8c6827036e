// The script fibre: where it runs, where it resumes, when it is finished, and
// the stack high-water mark that a run's summary reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim/platform/fibre.h"

namespace {

TEST(Fibre, ResumesWhereItYieldedUntilItsBodyReturns) {
  std::string steps;
  bool onFibreInside = false;
  sim::Fibre fibre(
      [&] {
        onFibreInside = sim::Fibre::OnFibre();
        steps += 'a';
        sim::Fibre::Yield();
        steps += 'b';
        sim::Fibre::Yield();
        steps += 'c';
      },
      64 * 1024);
  EXPECT_FALSE(fibre.Started());
  EXPECT_TRUE(steps.empty()) << "making a fibre runs nothing";

  const std::string expected[] = {"a", "ab", "abc"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(fibre.Finished()) << "before resume " << i;
    fibre.Resume();
    EXPECT_EQ(steps, expected[i]);
    EXPECT_FALSE(sim::Fibre::OnFibre()) << "back on the main context after resume " << i;
  }
  EXPECT_TRUE(fibre.Started());
  EXPECT_TRUE(fibre.Finished());
  EXPECT_TRUE(onFibreInside);
}

#if !defined(_WIN32)

// Writes `depth` bytes of stack below the current frame, and keeps the
// compiler from dropping the array.
void UseStack(std::size_t depth) {
  auto* volatile block = static_cast<unsigned char*>(__builtin_alloca(depth));
  std::memset(block, 0, depth);
}

TEST(FibreStack, PeakIsTheDeepestByteWritten) {
  constexpr std::size_t kSize = 64 * 1024;
  sim::Fibre idle([] {}, kSize);
  // Only the first switch's record, at the top, before the fibre has run.
  EXPECT_LE(idle.PeakStackUse().peak, 128U);
  EXPECT_EQ(idle.PeakStackUse().size, kSize);

  std::size_t depth = 10000;
  sim::Fibre fibre(
      [&depth] {
        for (;;) {
          UseStack(depth);
          sim::Fibre::Yield();
        }
      },
      kSize);
  fibre.Resume();
  const sim::StackUse first = fibre.PeakStackUse();
  ASSERT_TRUE(first.measured);
  EXPECT_GE(first.peak, 10000U);
  EXPECT_LT(first.peak, 10000U + 4096U) << "more than the block and a few frames";
  // A shallower pass leaves the mark where it was; a deeper one moves it.
  depth = 2000;
  fibre.Resume();
  EXPECT_EQ(fibre.PeakStackUse().peak, first.peak);
  depth = 30000;
  fibre.Resume();
  EXPECT_GE(fibre.PeakStackUse().peak, 30000U);
}

#endif

}  // namespace
