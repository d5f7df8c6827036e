// Which sanitizer a test program is built with, for the few checks that mean something else
// under one. g++ and clang tell it in different ways.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define REBOUND_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REBOUND_UNDER_ASAN 1
#endif
#endif

#if defined(__SANITIZE_THREAD__)
#define REBOUND_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define REBOUND_UNDER_TSAN 1
#endif
#endif
