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

// What a load is refused for before the engine sees it: headers always, the
// URL only under the session's policy; nothing passes that could not be sent.
TEST(CheckLoadRequest, HeadersAlwaysThenTheUrlUnderThePolicy) {
  Session open;
  Session guarded;
  guarded.urlPolicy = engine::UrlPolicy{{"https"}};
  const struct {
    LoadRequest request;
    const char* openRefusal;  // without a policy
    const char* guardedRefusal;
    LoadStep guardedStep;
  } kCases[] = {
      {{"https://a/x.m3u8", "", "Player/1", "https://r/", -1, {{"Cookie", "a=1,b=2"}}}, "", "",
       LoadStep::refuseUrl},
      {{"/tmp/magenta.png", "", "", "", -1, {}}, "",
       "URL refused: scheme \"file\" is not in allowedSchemes (https)", LoadStep::refuseUrl},
      {{"/tmp/magenta.png", "", "a\r\nX: 1", "", -1, {}},
       "Header refused: \"userAgent\" holds a line break or NUL",
       "Header refused: \"userAgent\" holds a line break or NUL", LoadStep::refuseHeader},
      {{"https://a/", "", "", "", -1, {{"X-A", "v\\"}, {"X-B", "1"}}},
       "Header refused: the value of \"X-A\" ends in a backslash",
       "Header refused: the value of \"X-A\" ends in a backslash", LoadStep::refuseHeader},
      // Empty names and values are left out of the request, not refused.
      {{"https://a/", "", "", "", -1, {{"", "v\r\n"}, {"X-A\r\n", ""}}}, "", "", LoadStep::refuseUrl},
  };
  for (const auto& c : kCases) {
    LoadStep step = LoadStep::load;
    EXPECT_EQ(checkLoadRequest(open, c.request, step), c.openRefusal) << c.request.url;
    EXPECT_EQ(checkLoadRequest(guarded, c.request, step), c.guardedRefusal) << c.request.url;
    EXPECT_EQ(step, c.guardedStep) << c.request.url;
  }
}
