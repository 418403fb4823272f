// The wait for data and its bound, on a record shaped like a player's, and
// the choice of the default deinterlacing.
#include "buffering.h"

#include <gtest/gtest.h>

#include "deinterlacing.h"
#include "stream_end.h"
#include "text_status_record.h"

using namespace engine;

namespace {

// Playing a loaded file, with an error of the engine's on show.
struct Player : TextStatusRecord {
  Player() {
    status = "playing";
    errorFromEngine = true;
    fileLoaded = true;
  }
  Buffering buffering;
};

const StatusRules<const char*> kRules{"idle", "loading", "playing", "paused",
                                      "ended", "error", false, true};
const auto kRows = bufferingRows<&Player::buffering>();
constexpr int64_t kSecond = 1'000'000'000;

void waiting(Player& p, bool active) {
  int flag = active;
  mpv_event_property property{"paused-for-cache", MPV_FORMAT_FLAG, &flag};
  ASSERT_TRUE(applyPropertyChange<Player>(kRows, p, &property));
}

void fill(Player& p, int64_t percent) {
  mpv_event_property property{"cache-buffering-state", MPV_FORMAT_INT64, &percent};
  ASSERT_TRUE(applyPropertyChange<Player>(kRows, p, &property));
}

}  // namespace

TEST(Buffering, AWaitWithoutProgressRunsOutOnlyAfterTheBound) {
  Player p;
  const int64_t bound = 10 * kSecond;
  EXPECT_FALSE(stallExpired(p.buffering, 1 * kSecond, bound));  // not waiting
  waiting(p, true);
  fill(p, 0);
  EXPECT_FALSE(stallExpired(p.buffering, 5 * kSecond, bound));  // stamps the start
  EXPECT_FALSE(stallExpired(p.buffering, 15 * kSecond - 1, bound));
  // Data trickling in (the fill moves) starts the clock again.
  fill(p, 30);
  EXPECT_FALSE(stallExpired(p.buffering, 15 * kSecond, bound));
  EXPECT_FALSE(stallExpired(p.buffering, 24 * kSecond, bound));
  fill(p, 30);  // the same values again are no progress
  waiting(p, true);
  EXPECT_TRUE(stallExpired(p.buffering, 25 * kSecond, bound));
  // A wait that ended in time and a new one: the clock starts afresh.
  waiting(p, false);
  EXPECT_FALSE(stallExpired(p.buffering, 40 * kSecond, bound));
  waiting(p, true);
  EXPECT_FALSE(stallExpired(p.buffering, 41 * kSecond, bound));
  EXPECT_FALSE(stallExpired(p.buffering, 50 * kSecond, bound));
  EXPECT_FALSE(stallExpired(p.buffering, 90 * kSecond, 0));  // no bound
  EXPECT_TRUE(stallExpired(p.buffering, 51 * kSecond, bound));
}

TEST(Buffering, AStalledLoadEndsInErrorAndItsStopKeepsIt) {
  Player p;
  waiting(p, true);
  fill(p, 0);
  applyStreamStopped(loadStateOf(p), kRules, p.buffering, 2.5);
  EXPECT_EQ(p.status, "error");
  EXPECT_EQ(p.error, "Stream stopped: no data for 2.5 s.");
  EXPECT_FALSE(p.errorFromEngine);
  EXPECT_FALSE(p.buffering.active);
  EXPECT_FALSE(stallExpired(p.buffering, 100 * kSecond, kSecond));  // once only

  mpv_event_end_file stop{};
  stop.reason = MPV_END_FILE_REASON_STOP;
  mpv_event_end_file failed{};
  failed.reason = MPV_END_FILE_REASON_ERROR;
  EXPECT_TRUE(isEndOfStalledLoad(p.buffering, &stop));
  EXPECT_FALSE(isEndOfStalledLoad(p.buffering, &failed));
  EXPECT_FALSE(isEndOfStalledLoad(p.buffering, nullptr));

  // The next file starts with nothing of it.
  resetForNewFile<Player>(kRows, p);
  EXPECT_FALSE(isEndOfStalledLoad(p.buffering, &stop));
  EXPECT_EQ(p.buffering.percent, -1);
}

// What both players run after each event: the bound ends the load once, and
// only the end of the stop that follows keeps its error.
TEST(Buffering, TheBoundEndsTheLoadOnceAndOnlyItsStopKeepsTheError) {
  Player p;
  waiting(p, true);
  EXPECT_FALSE(expireStalledLoad(loadStateOf(p), kRules, p.buffering, 2, 1 * kSecond));
  EXPECT_FALSE(expireStalledLoad(loadStateOf(p), kRules, p.buffering, 2, 3 * kSecond - 1));
  EXPECT_TRUE(expireStalledLoad(loadStateOf(p), kRules, p.buffering, 2, 3 * kSecond));
  EXPECT_FALSE(expireStalledLoad(loadStateOf(p), kRules, p.buffering, 2, 9 * kSecond));
  EXPECT_EQ(p.error, "Stream stopped: no data for 2 s.");
  for (const auto reason : {MPV_END_FILE_REASON_STOP, MPV_END_FILE_REASON_ERROR}) {
    Player stalled = p;
    mpv_event_end_file endFile{};
    endFile.reason = reason;
    mpv_event event{};
    event.event_id = MPV_EVENT_END_FILE;
    event.data = &endFile;
    applyEndFileEvent(loadStateOf(stalled), kRules, stalled.buffering, event, true);
    EXPECT_EQ(stalled.status, "error");
    EXPECT_EQ(stalled.error, reason == MPV_END_FILE_REASON_STOP ? p.error : "Playback failed.");
  }
}

TEST(Buffering, SnapshotKeysAndUnavailableValues) {
  Player p;
  std::string shown;
  auto show = [&] {
    shown.clear();
    forEachBufferingKey(
        p.buffering, [&](const char* k, bool v) { shown += std::string(k) + (v ? "=1 " : "=0 "); },
        [&](const char* k, double v) { shown += std::string(k) + "=" + std::to_string(int(v)); });
    return shown;
  };
  EXPECT_EQ(show(), "buffering=0 ");
  fill(p, 100);
  waiting(p, true);
  EXPECT_EQ(show(), "buffering=1 ");  // the fill from before the wait
  fill(p, 42);
  EXPECT_EQ(show(), "buffering=1 bufferingPercent=42");
  mpv_event_property gone{"paused-for-cache", MPV_FORMAT_NONE, nullptr};
  EXPECT_TRUE(applyPropertyChange<Player>(kRows, p, &gone));
  EXPECT_EQ(show(), "buffering=0 ");
}

TEST(StallTimeoutOption, SecondsOrNone) {
  double seconds = 7;
  EXPECT_TRUE(parseStallTimeout("2.5", seconds));
  EXPECT_EQ(seconds, 2.5);
  EXPECT_TRUE(parseStallTimeout("no", seconds));
  EXPECT_EQ(seconds, 0);
  for (const char* bad : {"", "soon", "-1", "3s", "inf", "nan"}) {
    seconds = 7;
    EXPECT_FALSE(parseStallTimeout(bad, seconds)) << bad;
    EXPECT_EQ(seconds, 7) << bad;
  }
}

TEST(DefaultDeinterlacing, TheCallersOwnOptionsDecide) {
  for (const char* name : {"deinterlace", "vf"}) {
    EXPECT_TRUE(decidesDeinterlacing(name)) << name;
  }
  for (const char* name : {"vfx", "af", "deinterlace-field-parity", "hwdec", "VF"}) {
    EXPECT_FALSE(decidesDeinterlacing(name)) << name;
  }
}
