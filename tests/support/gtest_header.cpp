// GoogleTest's header, precompiled for the test programs of a clang tree
// (tests/CMakeLists.txt, REBOUND_GTEST_PCH): compiled as a header, never
// linked.
#include <gtest/gtest.h>
