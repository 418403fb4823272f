#include "track_parsing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "mpv_node_builder.h"

using namespace frame_helper;

TEST(ParseTrackSelection, WholeDecimalIntegersOnly) {
  int64_t id = 99;
  EXPECT_TRUE(parseTrackSelection("3", id));
  EXPECT_EQ(id, 3);
  EXPECT_TRUE(parseTrackSelection("  -2", id));
  EXPECT_EQ(id, -2);
  EXPECT_TRUE(parseTrackSelection("+12", id));
  EXPECT_EQ(id, 12);
  id = 99;
  for (const char* text : {"no", "auto", "3x", "", " ", "3 ", "0x10", "99999999999999999999"}) {
    EXPECT_FALSE(parseTrackSelection(text, id)) << text;
  }
  EXPECT_FALSE(parseTrackSelection(nullptr, id));
  EXPECT_EQ(id, 99);  // untouched by failed reads
}

TEST(ParseTrackNode, ReadsMatchingMapsOnly) {
  NodeBuilder b;
  std::vector<TrackInfo> audio;
  const mpv_node english = b.map({{"id", b.i64(1)},
                                  {"type", b.str("audio")},
                                  {"title", b.str("Main")},
                                  {"lang", b.str("eng")},
                                  {"default", b.flag(true)},
                                  {"forced", b.flag(false)}});
  parseTrackNode(english, "audio", audio);
  parseTrackNode(english, "sub", audio);  // wrong type: not appended
  ASSERT_EQ(audio.size(), 1u);
  EXPECT_EQ(audio[0].id, 1);
  EXPECT_EQ(audio[0].title, "Main");
  EXPECT_EQ(audio[0].language, "eng");
  EXPECT_TRUE(audio[0].defaultTrack);
  EXPECT_FALSE(audio[0].forced);

  // Shapes that are skipped: not a map, a video track, no id, a negative id,
  // an id of the wrong format, no type at all.
  const mpv_node rejected[] = {
      b.array({b.i64(1)}),
      b.str("audio"),
      b.map({{"id", b.i64(2)}, {"type", b.str("video")}}),
      b.map({{"type", b.str("audio")}}),
      b.map({{"id", b.i64(-1)}, {"type", b.str("audio")}}),
      b.map({{"id", b.str("3")}, {"type", b.str("audio")}}),
      b.map({{"id", b.i64(4)}}),
  };
  for (const mpv_node& node : rejected) parseTrackNode(node, "audio", audio);
  EXPECT_EQ(audio.size(), 1u);
}

TEST(ParseTrackNode, LastTypeDecidesAndWrongFormatsAreIgnored) {
  NodeBuilder b;
  std::vector<TrackInfo> subs;
  parseTrackNode(b.map({{"type", b.str("audio")}, {"id", b.i64(5)}, {"type", b.str("sub")}}), "sub",
                 subs);
  parseTrackNode(b.map({{"type", b.str("sub")}, {"id", b.i64(6)}, {"type", b.str("audio")}}), "sub",
                 subs);
  parseTrackNode(b.map({{"type", b.str("sub")},
                        {"id", b.i64(7)},
                        {"title", b.i64(1)},
                        {"lang", b.flag(true)},
                        {"forced", b.str("yes")},
                        {"forced", b.flag(true)}}),
                 "sub", subs);
  ASSERT_EQ(subs.size(), 2u);
  EXPECT_EQ(subs[0].id, 5);
  EXPECT_EQ(subs[1].id, 7);
  EXPECT_EQ(subs[1].title, "");
  EXPECT_EQ(subs[1].language, "");
  EXPECT_TRUE(subs[1].forced);
}

TEST(TruncateUtf8, NeverSplitsACharacter) {
  EXPECT_EQ(truncateUtf8("abc", 256), "abc");
  EXPECT_EQ(truncateUtf8("abcdef", 3), "abc");
  // "é" is 0xC3 0xA9: a cut after its first byte drops the whole character.
  EXPECT_EQ(truncateUtf8("ab\xC3\xA9z", 3), "ab");
  EXPECT_EQ(truncateUtf8("ab\xC3\xA9z", 4), "ab\xC3\xA9");
  // A four-byte character cut after its second or third byte.
  EXPECT_EQ(truncateUtf8("a\xF0\x9F\x98\x80", 3), "a");
  EXPECT_EQ(truncateUtf8("a\xF0\x9F\x98\x80", 4), "a");
}

TEST(ParseChapterList, KeepsTheFirst256UsableChapters) {
  NodeBuilder b;
  std::vector<mpv_node> items;
  for (int i = 0; i < 300; ++i) {
    items.push_back(b.map({{"title", b.str("c" + std::to_string(i))}, {"time", b.dbl(i * 1.5)}}));
  }
  const std::vector<ChapterInfo> chapters = parseChapterList(b.array(items));
  ASSERT_EQ(chapters.size(), 256u);
  EXPECT_EQ(chapters.front().title, "c0");
  EXPECT_EQ(chapters.back().title, "c255");
  EXPECT_DOUBLE_EQ(chapters.back().timeSeconds, 255 * 1.5);
}

TEST(ParseChapterList, DropsUnusableEntries) {
  NodeBuilder b;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const mpv_node list = b.array({
      b.map({{"time", b.dbl(nan)}, {"title", b.str("nan")}}), b.map({{"time", b.dbl(inf)}}),
      b.map({}),                             // empty map
      b.str("chapter"),                      // not a map
      b.map({{"title", b.str("no time")}}),  // no time at all
      b.map({{"time", b.str("5")}}),         // time of the wrong format
      b.map({{"time", b.i64(7)}}),           // integer seconds, no title
      b.map({{"time", b.dbl(nan)}, {"time", b.dbl(2.5)}, {"title", b.str("last")}}),
      b.map({{"time", b.dbl(3)}, {"time", b.dbl(nan)}}),  // last time decides
  });
  const std::vector<ChapterInfo> chapters = parseChapterList(list);
  ASSERT_EQ(chapters.size(), 2u);
  EXPECT_DOUBLE_EQ(chapters[0].timeSeconds, 7);
  EXPECT_EQ(chapters[0].title, "");
  EXPECT_DOUBLE_EQ(chapters[1].timeSeconds, 2.5);
  EXPECT_EQ(chapters[1].title, "last");

  EXPECT_TRUE(parseChapterList(b.map({{"time", b.dbl(1)}})).empty());
  EXPECT_TRUE(parseChapterList(b.str("x")).empty());
}

TEST(ParseChapterList, CutsLongTitlesOnACharacterBoundary) {
  NodeBuilder b;
  // 255 ASCII bytes, then a two-byte character across the 256-byte limit.
  std::string title(255, 'a');
  title += "\xC3\xA9";
  title += std::string(43, 'b');
  ASSERT_EQ(title.size(), 300u);
  const auto chapters =
      parseChapterList(b.array({b.map({{"time", b.i64(0)}, {"title", b.str(title)}})}));
  ASSERT_EQ(chapters.size(), 1u);
  EXPECT_EQ(chapters[0].title, std::string(255, 'a'));

  const std::string ascii(300, 'x');
  const auto plain =
      parseChapterList(b.array({b.map({{"time", b.i64(0)}, {"title", b.str(ascii)}})}));
  EXPECT_EQ(plain[0].title.size(), 256u);
}
