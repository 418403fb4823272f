// The track and chapter readers in the helper's exact reading (the lenient
// reading is covered with the hosted module's rules in node_readers_test).
#include "tracks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "mpv_node_builder.h"

using namespace engine;

namespace {

constexpr ListReading kExact{NodeReading::exact, IntegerOverflow::reject};

void parseTrackNode(const mpv_node& node, const char* type, std::vector<Track>& tracks) {
  Track track;
  if (readTrack(node, type, kExact, track)) tracks.push_back(track);
}

std::vector<Chapter> parseChapterList(const mpv_node& node) { return readChapters(node, kExact); }

}  // namespace

TEST(ParseTrackNode, ReadsMatchingMapsOnlyTheLastTypeDeciding) {
  MpvNodeBuilder b;
  std::vector<Track> audio;
  const mpv_node english = b.map({{"id", b.integer(1)},
                                  {"type", b.string("audio")},
                                  {"title", b.string("Main")},
                                  {"lang", b.string("eng")},
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
      b.array({b.integer(1)}),
      b.string("audio"),
      b.map({{"id", b.integer(2)}, {"type", b.string("video")}}),
      b.map({{"type", b.string("audio")}}),
      b.map({{"id", b.integer(-1)}, {"type", b.string("audio")}}),
      b.map({{"id", b.string("3")}, {"type", b.string("audio")}}),
      b.map({{"id", b.integer(4)}}),
  };
  for (const mpv_node& node : rejected) parseTrackNode(node, "audio", audio);
  EXPECT_EQ(audio.size(), 1u);

  // The last type decides; fields of another format are ignored.
  std::vector<Track> subs;
  parseTrackNode(
      b.map({{"type", b.string("audio")}, {"id", b.integer(5)}, {"type", b.string("sub")}}), "sub",
      subs);
  parseTrackNode(
      b.map({{"type", b.string("sub")}, {"id", b.integer(6)}, {"type", b.string("audio")}}), "sub",
      subs);
  parseTrackNode(b.map({{"type", b.string("sub")},
                        {"id", b.integer(7)},
                        {"title", b.integer(1)},
                        {"lang", b.flag(true)},
                        {"forced", b.string("yes")},
                        {"forced", b.flag(true)}}),
                 "sub", subs);
  ASSERT_EQ(subs.size(), 2u);
  EXPECT_EQ(subs[0].id, 5);
  EXPECT_EQ(subs[1].id, 7);
  EXPECT_EQ(subs[1].title, "");
  EXPECT_EQ(subs[1].language, "");
  EXPECT_TRUE(subs[1].forced);
}

TEST(CutUtf8, NeverSplitsACharacter) {
  EXPECT_EQ(cutUtf8("abc", 256), "abc");
  EXPECT_EQ(cutUtf8("abcdef", 3), "abc");
  // "é" is 0xC3 0xA9: a cut after its first byte drops the whole character.
  EXPECT_EQ(cutUtf8("ab\xC3\xA9z", 3), "ab");
  EXPECT_EQ(cutUtf8("ab\xC3\xA9z", 4), "ab\xC3\xA9");
  // A four-byte character cut after its second or third byte.
  EXPECT_EQ(cutUtf8("a\xF0\x9F\x98\x80", 3), "a");
  EXPECT_EQ(cutUtf8("a\xF0\x9F\x98\x80", 4), "a");
}

TEST(ParseChapterList, KeepsTheFirst256UsableChapters) {
  MpvNodeBuilder b;
  std::vector<mpv_node> items;
  for (int i = 0; i < 300; ++i) {
    items.push_back(
        b.map({{"title", b.string("c" + std::to_string(i))}, {"time", b.number(i * 1.5)}}));
  }
  const std::vector<Chapter> chapters = parseChapterList(b.array(items));
  ASSERT_EQ(chapters.size(), 256u);
  EXPECT_EQ(chapters.front().title, "c0");
  EXPECT_EQ(chapters.back().title, "c255");
  EXPECT_DOUBLE_EQ(chapters.back().timeSeconds, 255 * 1.5);
}

TEST(ParseChapterList, DropsUnusableEntries) {
  MpvNodeBuilder b;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const mpv_node list = b.array({
      b.map({{"time", b.number(nan)}, {"title", b.string("nan")}}),
      b.map({{"time", b.number(inf)}}), b.map({}),  // empty map
      b.string("chapter"),                          // not a map
      b.map({{"title", b.string("no time")}}),      // no time at all
      b.map({{"time", b.string("5")}}),             // time of the wrong format
      b.map({{"time", b.integer(7)}}),              // integer seconds, no title
      b.map({{"time", b.number(nan)}, {"time", b.number(2.5)}, {"title", b.string("last")}}),
      b.map({{"time", b.number(3)}, {"time", b.number(nan)}}),  // last time decides
  });
  const std::vector<Chapter> chapters = parseChapterList(list);
  ASSERT_EQ(chapters.size(), 2u);
  EXPECT_DOUBLE_EQ(chapters[0].timeSeconds, 7);
  EXPECT_EQ(chapters[0].title, "");
  EXPECT_DOUBLE_EQ(chapters[1].timeSeconds, 2.5);
  EXPECT_EQ(chapters[1].title, "last");

  EXPECT_TRUE(parseChapterList(b.map({{"time", b.number(1)}})).empty());
  EXPECT_TRUE(parseChapterList(b.string("x")).empty());
}

TEST(ParseChapterList, CutsLongTitlesOnACharacterBoundary) {
  MpvNodeBuilder b;
  // 255 ASCII bytes, then a two-byte character across the 256-byte limit.
  std::string title(255, 'a');
  title += "\xC3\xA9";
  title += std::string(43, 'b');
  ASSERT_EQ(title.size(), 300u);
  const auto chapters =
      parseChapterList(b.array({b.map({{"time", b.integer(0)}, {"title", b.string(title)}})}));
  ASSERT_EQ(chapters.size(), 1u);
  EXPECT_EQ(chapters[0].title, std::string(255, 'a'));

  const std::string ascii(300, 'x');
  const auto plain =
      parseChapterList(b.array({b.map({{"time", b.integer(0)}, {"title", b.string(ascii)}})}));
  EXPECT_EQ(plain[0].title.size(), 256u);
}

TEST(SelectTrack, NegativeIdsClearEverySelection) {
  std::vector<Track> tracks(3);
  tracks[0].id = 1;
  tracks[1].id = 2;
  tracks[2].id = 3;
  int64_t selected = -1;
  selectTrack(tracks, selected, 2);
  EXPECT_EQ(selected, 2);
  EXPECT_FALSE(tracks[0].selected);
  EXPECT_TRUE(tracks[1].selected);
  selectTrack(tracks, selected, -5);
  EXPECT_EQ(selected, -1);
  for (const Track& track : tracks) EXPECT_FALSE(track.selected);
}

// One list, read in both players' readings: where they part ways.
TEST(ReadTracks, ExactAndLenientReadingsOfOneList) {
  MpvNodeBuilder b;
  const ListReading lenient{NodeReading::lenient, IntegerOverflow::clamp};
  const mpv_node list = b.array({
      // Two titles and two ids: exact takes the last, lenient the first.
      b.map({{"type", b.string("audio")},
             {"id", b.integer(1)},
             {"title", b.string("first")},
             {"title", b.string("last")},
             {"id", b.integer(2)},
             {"default", b.string("yes")},
             {"selected", b.flag(true)}}),
      // An id as text and a number as language: lenient only.
      b.map({{"type", b.string("audio")}, {"id", b.string("3")}, {"lang", b.number(2.5)}}),
      b.map({{"type", b.string("audio")}, {"id", b.number(4.9)}, {"selected", b.string("True")}}),
      b.string("audio"),
  });
  int64_t selected = 99;
  const std::vector<Track> exact = readTracks(list, "audio", kExact, &selected);
  ASSERT_EQ(exact.size(), 1u);
  EXPECT_EQ(exact[0].id, 2);
  EXPECT_EQ(exact[0].title, "last");
  EXPECT_FALSE(exact[0].defaultTrack);
  EXPECT_FALSE(exact[0].selected);  // the helper's selections come from "aid" / "sid"
  EXPECT_EQ(selected, -1);

  const std::vector<Track> loose = readTracks(list, "audio", lenient, &selected);
  ASSERT_EQ(loose.size(), 3u);
  EXPECT_EQ(loose[0].id, 1);
  EXPECT_EQ(loose[0].title, "first");
  EXPECT_TRUE(loose[0].defaultTrack);
  EXPECT_TRUE(loose[0].selected);
  EXPECT_EQ(loose[1].id, 3);
  EXPECT_EQ(loose[1].language, "2.5");
  EXPECT_EQ(loose[2].id, 4);
  EXPECT_TRUE(loose[2].selected);
  EXPECT_EQ(selected, 4);  // the last track marked selected

  // An id text beyond 64 bits: none in exact reading, clamped in lenient.
  const mpv_node huge =
      b.array({b.map({{"type", b.string("sub")}, {"id", b.string("99999999999999999999")}})});
  EXPECT_TRUE(readTracks(huge, "sub", {NodeReading::lenient, IntegerOverflow::reject}).empty());
  const std::vector<Track> clamped = readTracks(huge, "sub", lenient);
  ASSERT_EQ(clamped.size(), 1u);
  EXPECT_EQ(clamped[0].id, INT64_MAX);
}
