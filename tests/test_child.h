// Checks that must run in a fresh process: a child re-executed by GoogleTest's
// death-test machinery starts with empty tables and no window. A failed check
// in the child reports on stderr and exits 1.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#define EXPECT_IN_CHILD(...) \
  EXPECT_EXIT(               \
      {                      \
        __VA_ARGS__;         \
        std::exit(0);        \
      },                     \
      testing::ExitedWithCode(0), "")

#define CHILD_CHECK(cond)                                 \
  do {                                                    \
    if (!(cond)) {                                        \
      fprintf(stderr, "child check failed: %s\n", #cond); \
      std::exit(1);                                       \
    }                                                     \
  } while (0)

namespace test_child {

// The children re-execute the test binary ("threadsafe"), so GL and audio
// threads of the parent never leak into them.
class ThreadsafeChildren : public testing::Environment {
 public:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};
inline const testing::Environment* const kThreadsafeChildren =
    testing::AddGlobalTestEnvironment(new ThreadsafeChildren);

}  // namespace test_child
