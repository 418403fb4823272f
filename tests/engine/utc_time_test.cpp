#include "utc_time.h"

#include <gtest/gtest.h>

using namespace engine;

TEST(FormatUtcTimestamp, WholeSecondsInUtc) {
  EXPECT_EQ(formatUtcTimestamp(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(formatUtcTimestamp(1700000000), "2023-11-14T22:13:20Z");
}
