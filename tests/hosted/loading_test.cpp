// The per-file options a load asks for.
#include "loading.h"

#include <gtest/gtest.h>

using namespace hosted_mpv;

TEST(LoadOptionsFor, JoinsHeadersInOrderSkippingEmptyOnesAndEscapingCommas) {
  LoadRequest request;
  request.url = "http://x";
  request.referer = "http://r";
  request.headers = {{"X-B", "1,2"}, {"", "nameless"}, {"X-Empty", ""}, {"X-A", "3"}};
  const LoadOptions expected = {{"referrer", "http://r"},
                                {"http-header-fields", "X-B: 1\\,2,X-A: 3"}};
  EXPECT_EQ(loadOptionsFor(request), expected);
  request.headers = {{"", "v"}};
  EXPECT_EQ(loadOptionsFor(request), LoadOptions({{"referrer", "http://r"}}));
}
