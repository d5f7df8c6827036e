// The plug-in's frees are counted by the rule of its allocations: on the
// script fibre, outside any host function. Allocations minus frees are its
// live heap, which the soak compares from respawn to respawn.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>

#include "sim/base/alloc_counter.h"

namespace {

struct Reading {
  std::int64_t live;
  std::uint64_t frees;
};

Reading Read() { return {sim::PluginLiveBlocks(), sim::CountedPluginFrees()}; }

TEST(PluginFrees, CountedOnTheScriptFibreOutsideTheHostOnly) {
  Reading r[5] = {};
  // Direct calls of the allocation functions: a new-expression paired with
  // its delete may be left out by the compiler.
  {
    // As the simulation marks its thread around each resume of the script.
    int fibreHostDepth = 0;
    const sim::ScriptRunningScope running(fibreHostDepth);
    r[0] = Read();
    void* kept = ::operator new(24);
    r[1] = Read();
    ::operator delete(kept);
    r[2] = Read();
    {
      const sim::InsideHostScope inside;  // the host's own block
      ::operator delete(::operator new(24));
    }
    r[3] = Read();
  }
  ::operator delete(::operator new(24));  // outside the script: the simulator's
  r[4] = Read();

  EXPECT_EQ(r[1].live - r[0].live, 1) << "the plug-in's block is live";
  EXPECT_EQ(r[1].frees, r[0].frees);
  EXPECT_EQ(r[2].live, r[0].live) << "its free is counted";
  EXPECT_EQ(r[2].frees - r[0].frees, 1U);
  EXPECT_EQ(r[3].live, r[2].live) << "a host function's block is not the plug-in's";
  EXPECT_EQ(r[3].frees, r[2].frees);
  EXPECT_EQ(r[4].live, r[3].live) << "nor is one made and freed outside the script";
  EXPECT_EQ(r[4].frees, r[3].frees);
}

}  // namespace
