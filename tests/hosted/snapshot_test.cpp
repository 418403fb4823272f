#include <gtest/gtest.h>

#include "session.h"

using namespace hosted_mpv;

TEST(SessionStatusText, NamesEveryStatusAndIdleForOthers) {
  EXPECT_STREQ(sessionStatusText(SessionStatus::loading), "loading");
  EXPECT_STREQ(sessionStatusText(SessionStatus::closed), "closed");
  EXPECT_STREQ(sessionStatusText(static_cast<SessionStatus>(42)), "idle");
}

TEST(UpdateSessionError, SetsErrorStatusEvenWithAnEmptyMessage) {
  Session session;
  session.snapshot.error = "old";
  updateSessionError(session, "", true);
  EXPECT_EQ(session.snapshot.status, SessionStatus::error);
  EXPECT_EQ(session.snapshot.error, "");
  EXPECT_TRUE(session.snapshot.errorFromEngine);
}

TEST(SessionIds, GrowAndAreNeverZero) {
  std::string first = takeSessionId();
  std::string second = takeSessionId();
  ASSERT_EQ(first.rfind("hosted-mpv-", 0), 0u);
  EXPECT_EQ(std::stoull(second.substr(11)), std::stoull(first.substr(11)) + 1);
  uint64_t a = takeAsyncRequestId();
  EXPECT_NE(a, 0u);
  EXPECT_EQ(takeAsyncRequestId(), a + 1);
}
