// The debug checks the render pipeline relies on: a role belongs to the
// thread that took it, and a failed check ends the process with its text.
// Without debug checks (the normal build) they compile to nothing.
#include "thread_check.h"

#include <gtest/gtest.h>

#include <thread>

#if ORVANEL_DCHECK_ON

TEST(ThreadRole, IsHeldOnlyByTheThreadThatTookIt) {
  threads::ThreadRole role;
  EXPECT_FALSE(threads::holdsRole(role));
  std::thread([&] { threads::takeRole(role); }).join();
  EXPECT_FALSE(threads::holdsRole(role));
  threads::takeRole(role);
  EXPECT_TRUE(threads::holdsRole(role));
  threads::leaveRole(role);
  EXPECT_FALSE(threads::holdsRole(role));
}

TEST(DcheckDeathTest, EndsTheProcessWithTheCondition) {
  threads::ThreadRole role;
  EXPECT_DEATH(DCHECK(threads::holdsRole(role)), "check failed: threads::holdsRole\\(role\\)");
}

#endif
