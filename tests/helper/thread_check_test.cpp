// The debug checks the players' thread roles rely on: a role belongs to the
// thread that took it, for the scope it took it in, and to one thread at a
// time; a failed check ends the process with its text. Without debug checks
// (the normal build) they compile to nothing.
#include "thread_check.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#if ORVANEL_DCHECK_ON

TEST(ThreadRole, IsHeldOnlyByTheThreadThatTookItForItsScope) {
  threads::ThreadRole role;
  EXPECT_FALSE(threads::holdsRole(role));
  std::promise<bool> taken;
  std::promise<void> done;
  std::thread other([&] {
    threads::RoleScope scope(role);
    taken.set_value(threads::holdsRole(role));
    done.get_future().wait();
  });
  EXPECT_TRUE(taken.get_future().get());
  EXPECT_FALSE(threads::holdsRole(role));  // the other thread holds it
  done.set_value();
  other.join();
  {
    threads::RoleScope scope(role);  // left with the other thread's scope
    EXPECT_TRUE(threads::holdsRole(role));
  }
  EXPECT_FALSE(threads::holdsRole(role));
}

TEST(DcheckDeathTest, EndsTheProcessWithTheCondition) {
  threads::ThreadRole role;
  EXPECT_DEATH(threads::assertRole(role), "check failed: holdsRole\\(role\\)");
}

TEST(DcheckDeathTest, ARoleHasOneHolderAtATime) {
  threads::ThreadRole role;
  threads::RoleScope held(role);
  EXPECT_DEATH(std::thread([&] { threads::RoleScope again(role); }).join(),
               "check failed: role.holder");
}

#endif
