// The row kinds and the table walk, on a record whose fields sit one level
// down, as the hosted module's sit in its snapshot.
#include "property_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

using namespace engine;

namespace {

struct Stats {
  double fps = 0;
  int64_t drops = -1;
  std::string codec;
  double speed = 1;
};

struct Holder {
  Stats stats;
  bool touched = false;
};

constexpr auto kStats = &Holder::stats;

const PropertyRow<Holder> kRows[] = {
    valueRow<kStats, &Stats::speed>("speed"),
    statisticRow<0, kStats, &Stats::fps>("estimated-vf-fps"),
    statisticRow<-1, kStats, &Stats::drops>("frame-drop-count"),
    textStatisticRow<kStats, &Stats::codec>("video-format"),
    {"pause", MPV_FORMAT_FLAG, [](Holder& h, const void* d) { h.touched = flagValue(d); }, nullptr,
     nullptr},
};

bool change(Holder& holder, const char* name, mpv_format format, void* data) {
  mpv_event_property property{name, format, data};
  return applyPropertyChange<Holder>(kRows, holder, &property);
}

}  // namespace

TEST(PropertyTable, ValuesUnavailabilityAndNewFilesRowByRow) {
  Holder h;
  double speed = 2, fps = 29.97;
  int64_t drops = 7;
  const char* codec = "h264";
  int flag = 1;
  EXPECT_TRUE(change(h, "speed", MPV_FORMAT_DOUBLE, &speed));
  EXPECT_TRUE(change(h, "estimated-vf-fps", MPV_FORMAT_DOUBLE, &fps));
  EXPECT_TRUE(change(h, "frame-drop-count", MPV_FORMAT_INT64, &drops));
  EXPECT_TRUE(change(h, "video-format", MPV_FORMAT_STRING, &codec));
  EXPECT_TRUE(change(h, "pause", MPV_FORMAT_FLAG, &flag));
  EXPECT_EQ(h.stats.speed, 2);
  EXPECT_EQ(h.stats.fps, 29.97);
  EXPECT_EQ(h.stats.drops, 7);
  EXPECT_EQ(h.stats.codec, "h264");
  EXPECT_TRUE(h.touched);

  // Another format, no data, an unknown name: nothing changes.
  EXPECT_FALSE(change(h, "speed", MPV_FORMAT_INT64, &drops));
  EXPECT_FALSE(change(h, "speed", MPV_FORMAT_DOUBLE, nullptr));
  EXPECT_FALSE(change(h, "volume", MPV_FORMAT_DOUBLE, &speed));
  EXPECT_FALSE(applyPropertyChange<Holder>(kRows, h, nullptr));
  EXPECT_EQ(h.stats.speed, 2);

  // Unavailable: statistics reset, plain values and rows without a rule stay.
  EXPECT_FALSE(change(h, "speed", MPV_FORMAT_NONE, nullptr));
  EXPECT_FALSE(change(h, "pause", MPV_FORMAT_NONE, nullptr));
  EXPECT_TRUE(change(h, "frame-drop-count", MPV_FORMAT_NONE, nullptr));
  EXPECT_EQ(h.stats.speed, 2);
  EXPECT_EQ(h.stats.drops, -1);
  EXPECT_EQ(h.stats.fps, 29.97);

  // A new file resets every statistic and nothing else.
  EXPECT_TRUE(change(h, "frame-drop-count", MPV_FORMAT_INT64, &drops));
  resetForNewFile<Holder>(kRows, h);
  EXPECT_EQ(h.stats.fps, 0);
  EXPECT_EQ(h.stats.drops, -1);
  EXPECT_EQ(h.stats.codec, "");
  EXPECT_EQ(h.stats.speed, 2);
  EXPECT_TRUE(h.touched);
}

TEST(PropertyTable, ObservesEveryRowWithItsPositionAsReplyId) {
  mpv_handle* mpv = mpv_create();
  ASSERT_NE(mpv, nullptr);
  ASSERT_GE(mpv_initialize(mpv), 0);
  observeProperties<Holder>(mpv, kRows);
  // Each row's first value arrives with its reply id; "estimated-vf-fps" and
  // "video-format" have none while idle and come as unavailable.
  bool seen[std::size(kRows)] = {};
  for (int i = 0; i < 200; ++i) {
    mpv_event* event = mpv_wait_event(mpv, 0.05);
    if (event->event_id != MPV_EVENT_PROPERTY_CHANGE) continue;
    const auto* property = static_cast<mpv_event_property*>(event->data);
    ASSERT_GE(event->reply_userdata, 1u);
    ASSERT_LE(event->reply_userdata, std::size(kRows));
    EXPECT_STREQ(property->name, kRows[event->reply_userdata - 1].name);
    seen[event->reply_userdata - 1] = true;
    if (std::all_of(std::begin(seen), std::end(seen), [](bool s) { return s; })) break;
  }
  for (size_t i = 0; i < std::size(kRows); ++i) EXPECT_TRUE(seen[i]) << kRows[i].name;
  mpv_terminate_destroy(mpv);
}
