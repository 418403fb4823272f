// The URL policy's checks over hostile inputs: schemes as the engine reads
// them, the per-load option allow-list and header texts.
#include "url_policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace engine;

namespace {

UrlPolicy httpOnly() {
  UrlPolicy policy;
  std::string error;
  EXPECT_TRUE(parseUrlPolicy("http,HTTPS:", policy, error)) << error;
  return policy;
}

}  // namespace

TEST(UrlPolicy, SchemeAsTheEngineReadsIt) {
  const struct {
    const char* url;
    const char* scheme;
  } kCases[] = {
      {"https://example.invalid/a.m3u8", "https"},
      {"HtTpS://example.invalid/a.m3u8", "https"},
      {"av://lavfi:testsrc2", "av"},
      {"lavfi://color", "lavfi"},
      {"edl://%3%abc", "edl"},
      {"memory://abc", "memory"},
      {"1x+y.z-w://a", "1x+y.z-w"},
      {"/home/me/picture.png", "file"},
      {"picture.png", "file"},
      {"file:picture.png", "file"},  // no "//": a relative path named "file:..."
      {"file:///etc/passwd", "file"},
      {"data:image/png;base64,AAAA", "file"},
      {" http://example.invalid/", "file"},  // a space: a path, not a URL
      {"ht tp://example.invalid/", "file"},
      {"%68ttp://example.invalid/", "file"},  // percent-encoded: a path
      {"http%3A//example.invalid/", "file"},
      {"://nothing", "file"},
      {"-", "file"},
      {"", "file"},
      {"http:relative/file.mkv", "file"},
      {"a/b://c", "file"},  // the first "://" ends the scheme, '/' is not in one
  };
  for (const auto& c : kCases) EXPECT_EQ(schemeOf(c.url), c.scheme) << c.url;
}

TEST(UrlPolicy, RefusesEveryOtherSchemeNamingIt) {
  const UrlPolicy policy = httpOnly();
  EXPECT_EQ(urlRefusal(policy, "HTTP://127.0.0.1/list.m3u"), "");
  EXPECT_EQ(urlRefusal(policy, "https://example.invalid/"), "");
  EXPECT_EQ(urlRefusal(policy, "/tmp/magenta.png"),
            "URL refused: scheme \"file\" is not in allowedSchemes (http, https)");
  EXPECT_EQ(urlRefusal(policy, "Av://lavfi:testsrc2"),
            "URL refused: scheme \"av\" is not in allowedSchemes (http, https)");
  EXPECT_EQ(urlRefusal(UrlPolicy{}, "https://example.invalid/"),
            "URL refused: scheme \"https\" is not in allowedSchemes ()");
}

TEST(UrlPolicy, ReadsTheSchemeListStrictly) {
  for (const char* bad : {",http", "http,", "https://", "1http", "ht tp", "http,,https", "*"}) {
    UrlPolicy policy;
    std::string error;
    EXPECT_FALSE(parseUrlPolicy(bad, policy, error)) << bad;
    EXPECT_NE(error.find("allowed schemes must be URL schemes"), std::string::npos) << error;
  }
  UrlPolicy none;
  std::string error;
  EXPECT_TRUE(parseUrlPolicy("", none, error));
  EXPECT_TRUE(none.schemes.empty());

  // One scheme per text of an application's array: an empty text, or a
  // comma bringing in a second, refuses the whole array.
  UrlPolicy fromArray;
  EXPECT_TRUE(urlPolicyFromSchemes({"HTTP", "https:"}, fromArray));
  EXPECT_EQ(fromArray.schemes, (std::vector<std::string>{"http", "https"}));
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"http,file"}, {""}, {"https", "1http"}}) {
    EXPECT_FALSE(urlPolicyFromSchemes(bad, fromArray)) << bad.front();
  }
  EXPECT_TRUE(urlPolicyFromSchemes({}, fromArray));
  EXPECT_TRUE(fromArray.schemes.empty());
}

TEST(UrlPolicy, NestedOpensStayOnTheNetwork) {
  EXPECT_EQ(protocolWhitelist(httpOnly()), "http,https,tcp,tls,udp,rtp,crypto,httpproxy");
  UrlPolicy tcpToo;
  tcpToo.schemes = {"tcp"};
  EXPECT_EQ(protocolWhitelist(tcpToo), "tcp,tls,udp,rtp,crypto,httpproxy");
}

TEST(UrlPolicy, PerLoadOptions) {
  const struct {
    const char* name;
    const char* value;
    bool underPolicy;
    const char* refusal;  // empty: passes
  } kCases[] = {
      {"start", "10", true, ""},
      {"user-agent", "Player/1, with comma", true, ""},
      {"http-header-fields", "X-A: 1,Cookie: a=1\\,b=2", true, ""},
      {"sub-files", "/tmp/a.srt", false, ""},  // the application's choice without a policy
      {"sub-files", "/tmp/a.srt", true,
       "Load option refused: \"sub-files\" is not allowed with allowedSchemes"},
      {"external-files", "/tmp/a.png", true,
       "Load option refused: \"external-files\" is not allowed with allowedSchemes"},
      {"audio-files", "/tmp/a.wav", true,
       "Load option refused: \"audio-files\" is not allowed with allowedSchemes"},
      {"lavfi-complex", "[vid1]null[vo]", true,
       "Load option refused: \"lavfi-complex\" is not allowed with allowedSchemes"},
      {"load-unsafe-playlists", "yes", true,
       "Load option refused: \"load-unsafe-playlists\" is not allowed with allowedSchemes"},
      {"stream-record", "/tmp/out.ts", true,
       "Load option refused: \"stream-record\" is not allowed with allowedSchemes"},
      {"demuxer-lavf-o", "protocol_whitelist=file", true,
       "Load option refused: \"demuxer-lavf-o\" is not allowed with allowedSchemes"},
      {"start,sub-files", "1", false, "Load option refused: \"start,sub-files\" is not an option name"},
      {"start=1", "1", false, "Load option refused: \"start=1\" is not an option name"},
      {"", "1", false, "Load option refused: \"\" is not an option name"},
      {"force-media-title", "a\nb", false,
       "Load option refused: the value of \"force-media-title\" holds a line break or NUL"},
      {"user-agent", "a\r\nX-Evil: 1", false,
       "Header refused: \"user-agent\" holds a line break or NUL"},
      {"http-header-fields", "X-A: 1,Bad Name: 2", false,
       "Header refused: \"Bad Name: 2\" is not a header with an HTTP token name"},
      {"http-header-fields", "no colon", false,
       "Header refused: \"no colon\" is not a header with an HTTP token name"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(loadOptionRefusal(c.name, c.value, c.underPolicy), c.refusal)
        << c.name << "=" << c.value;
  }
  EXPECT_EQ(loadOptionRefusal("referrer", std::string("a\0b", 3), false),
            "Header refused: \"referrer\" holds a line break or NUL");
}

TEST(UrlPolicy, OneHeaderNeverBecomesTwo) {
  const struct {
    const char* name;
    std::string value;
    const char* refusal;
  } kCases[] = {
      {"Cookie", "a=1,b=2", ""},  // commas are escaped when joined
      {"X-Path", "C:\\dir\\file", ""},
      {"X-A", "v\r\nX-B: injected", "Header refused: \"X-A\" holds a line break or NUL"},
      {"X-A", "v\nX-B: injected", "Header refused: \"X-A\" holds a line break or NUL"},
      {"X-A", std::string("v\0w", 3), "Header refused: \"X-A\" holds a line break or NUL"},
      {"X-A", "ends\\", "Header refused: the value of \"X-A\" ends in a backslash"},
      {"X-A,X-B", "v", "Header refused: name \"X-A,X-B\" is not an HTTP token"},
      {"X-A: v\r\nX-B", "v", "Header refused: name \"X-A: v\r\nX-B\" is not an HTTP token"},
      {"X A", "v", "Header refused: name \"X A\" is not an HTTP token"},
      {"", "v", "Header refused: name \"\" is not an HTTP token"},
  };
  for (const auto& c : kCases) EXPECT_EQ(headerRefusal(c.name, c.value), c.refusal) << c.name;
  EXPECT_EQ(headerTextRefusal("userAgent", "Player/1 (X11)"), "");
  EXPECT_EQ(headerTextRefusal("referer", "https://a/\r\nX: 1"),
            "Header refused: \"referer\" holds a line break or NUL");
}
