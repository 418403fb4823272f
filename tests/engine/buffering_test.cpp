// The wait for data and its bound, on a record shaped like a player's, and
// which options decide the deinterlacing.
#include "buffering.h"

#include <gtest/gtest.h>

#include "deinterlacing.h"
#include "stream_end.h"
#include "playback_record.h"

using namespace engine;

namespace {

// Playing a loaded file, with an error of the engine's on show.
struct Player : PlaybackRecord {
  Player() {
    status = PlaybackStatus::playing;
    errorFromEngine = true;
    fileLoaded = true;
  }
  Buffering buffering;
};

const StatusRules kRules{false, true};
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

// What happens to a player, as the bound sees it.
enum class Step { wait, resume, fill, bytes, noBytes, cacheEnd, pause, unpause, seek, load };

struct Happening {
  double at;  // seconds
  Step step;
  double value = 0;
};

struct BoundCase {
  const char* name;
  std::vector<Happening> happenings;
  double expiresAt;  // seconds; -1: never within 60 s
};

// The engine's end of the file, as a player running hands it to the rules.
void end(Player& p, mpv_end_file_reason reason) {
  mpv_event_end_file endFile{};
  endFile.reason = reason;
  mpv_event event{};
  event.event_id = MPV_EVENT_END_FILE;
  event.data = &endFile;
  applyEndFileEvent(loadStateOf(p), kRules, p.buffering, event, true);
}

void happen(Player& p, const Happening& h) {
  auto set = [&p](const char* name, mpv_format format, void* data) {
    mpv_event_property property{name, format, data};
    ASSERT_TRUE(applyPropertyChange<Player>(kRows, p, &property)) << name;
  };
  int flag = h.step == Step::wait;
  int64_t number = static_cast<int64_t>(h.value);
  double end = h.value;
  switch (h.step) {
    case Step::wait:
    case Step::resume: return set("paused-for-cache", MPV_FORMAT_FLAG, &flag);
    case Step::fill: return set("cache-buffering-state", MPV_FORMAT_INT64, &number);
    case Step::bytes: number = 188 * 7; return set("cache-speed", MPV_FORMAT_INT64, &number);
    case Step::noBytes: number = 0; return set("cache-speed", MPV_FORMAT_INT64, &number);
    case Step::cacheEnd: return set("demuxer-cache-time", MPV_FORMAT_DOUBLE, &end);
    case Step::pause:
    case Step::unpause: p.paused = h.step == Step::pause; return;
    case Step::seek: return noteSeek(p.buffering);
    case Step::load:
      return applyLoadRequested(loadStateOf(p), p.buffering);
  }
}

}  // namespace

// The bound as both players run it: checked every tenth of a second and
// after each happening, it ends the load when the waiting (not paused by the
// user) since data last arrived reaches 10 s.
TEST(Buffering, TheBoundMeasuresWaitingWithoutData) {
  const BoundCase cases[] = {
      {"a wait without data", {{1, Step::wait}}, 11},
      {"waits add up over flips without data",
       {{1, Step::wait}, {5, Step::resume}, {5.5, Step::wait}, {8, Step::resume}, {8.2, Step::wait}},
       11.7},
      {"a fill that moves is no data",
       {{1, Step::wait}, {2, Step::fill, 50}, {4, Step::fill, 10}, {6, Step::fill, 60}},
       11},
      {"bytes read start the wait over", {{1, Step::wait}, {9, Step::bytes}}, 19},
      {"an input rate of 0 is no data", {{1, Step::wait}, {9, Step::noBytes}}, 11},
      {"packets past the cache's end start it over",
       {{0.5, Step::cacheEnd, 100}, {1, Step::wait}, {8, Step::cacheEnd, 101}},
       18},
      {"timestamps starting over are no data until they grow",
       {{0.5, Step::cacheEnd, 100}, {1, Step::wait}, {6, Step::cacheEnd, 2}, {9, Step::cacheEnd, 3}},
       19},
      {"a user pause never runs out", {{1, Step::wait}, {2, Step::pause}}, -1},
      {"a pause holds the clock",
       {{1, Step::wait}, {5, Step::pause}, {30, Step::unpause}},
       36},
      {"a seek starts a fresh wait", {{1, Step::wait}, {8, Step::seek}}, 18},
      {"a load just before the end clears the wait", {{1, Step::wait}, {10.95, Step::load}}, -1},
      {"a load's own wait gets the whole bound",
       {{1, Step::wait}, {10.95, Step::load}, {12, Step::wait}},
       22},
  };
  for (const BoundCase& c : cases) {
    Player p;
    double expiredAt = -1;
    size_t next = 0;
    for (int tenth = 0; tenth <= 600 && expiredAt < 0; ++tenth) {
      const double now = tenth / 10.0;
      while (next < c.happenings.size() && c.happenings[next].at <= now + 1e-9) {
        happen(p, c.happenings[next++]);
      }
      if (expireStalledLoad(loadStateOf(p), p.buffering, 10, int64_t(now * kSecond))) {
        expiredAt = now;
      }
    }
    EXPECT_NEAR(expiredAt, c.expiresAt, 0.11) << c.name;
    if (expiredAt >= 0) {
      EXPECT_EQ(p.status, "error") << c.name;
    }
  }
}

// The bound's stop and a load's replacement end the old file: neither end
// shows, and the new load's own end does.
TEST(Buffering, EndsOfReplacedAndStalledFilesLeaveTheNewLoadAlone) {
  Player p;
  applyStreamStopped(loadStateOf(p), p.buffering, 10);
  applyLoadRequested(loadStateOf(p), p.buffering);
  EXPECT_FALSE(expireStalledLoad(loadStateOf(p), p.buffering, 10, 100 * kSecond));
  end(p, MPV_END_FILE_REASON_STOP);  // the stalled file, stopped
  EXPECT_EQ(p.status, "loading");
  // A second load before the first started: the engine drops the first, and
  // the one start it reports is the second's.
  applyLoadRequested(loadStateOf(p), p.buffering);
  applyStartFile(loadStateOf(p));
  end(p, MPV_END_FILE_REASON_EOF);  // the new file's own end
  EXPECT_EQ(p.status, "ended");
  applyLoadRequested(loadStateOf(p), p.buffering);
  withdrawLoadRequest(loadStateOf(p));  // the engine refused it
  end(p, MPV_END_FILE_REASON_ERROR);
  EXPECT_EQ(p.status, "error");
}

// What both players run after each event: the bound ends the load once, in
// error, and only the end of the stop that follows keeps its error; the next
// file starts with nothing of it.
TEST(Buffering, TheBoundEndsTheLoadOnceAndOnlyItsStopKeepsTheError) {
  Player p;
  waiting(p, true);
  fill(p, 0);
  EXPECT_FALSE(expireStalledLoad(loadStateOf(p), p.buffering, 2.5, 1 * kSecond));
  EXPECT_FALSE(expireStalledLoad(loadStateOf(p), p.buffering, 2.5, 7 * kSecond / 2 - 1));
  EXPECT_TRUE(expireStalledLoad(loadStateOf(p), p.buffering, 2.5, 7 * kSecond / 2));
  EXPECT_FALSE(expireStalledLoad(loadStateOf(p), p.buffering, 2.5, 9 * kSecond));
  EXPECT_EQ(p.status, "error");
  EXPECT_EQ(p.error, "Stream stopped: no data for 2.5 s.");
  EXPECT_FALSE(p.errorFromEngine);
  EXPECT_FALSE(p.buffering.active);
  for (const auto reason : {MPV_END_FILE_REASON_STOP, MPV_END_FILE_REASON_ERROR}) {
    Player stalled = p;
    end(stalled, reason);
    EXPECT_EQ(stalled.status, "error");
    EXPECT_EQ(stalled.error, reason == MPV_END_FILE_REASON_STOP ? p.error : "Playback failed.");
  }
  EXPECT_FALSE(isEndOfStalledLoad(p.buffering, nullptr));
  resetForNewFile<Player>(kRows, p);
  mpv_event_end_file stop{};
  stop.reason = MPV_END_FILE_REASON_STOP;
  EXPECT_FALSE(isEndOfStalledLoad(p.buffering, &stop));
  EXPECT_EQ(p.buffering.percent, -1);
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

// Plain seconds up to the limit, or none; the text of a refusal names the
// option.
TEST(StallTimeoutOption, PlainSecondsOrNone) {
  const std::pair<const char*, double> good[] = {
      {"2.5", 2.5}, {"10", 10}, {"no", 0}, {"0", 0}, {"86400", 86400}, {"0.001", 0.001}};
  for (const auto& [text, expected] : good) {
    double seconds = 7;
    std::string problem;
    EXPECT_TRUE(parseStallTimeout(text, seconds, problem)) << text;
    EXPECT_EQ(seconds, expected) << text;
  }
  for (const char* bad : {"", "soon", "-1", "+1", " 5", "5 ", "3s", "0x10", "1e3", "1e300", "inf",
                          "nan", "86400.5", ".5", "5.", "1.2.3", "No"}) {
    double seconds = 7;
    std::string problem;
    EXPECT_FALSE(parseStallTimeout(bad, seconds, problem)) << bad;
    EXPECT_EQ(seconds, 7) << bad;
    EXPECT_EQ(problem.rfind("stall-timeout: ", 0), 0u) << problem;
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

// A live HLS source's outage through to the bound: the status stays while
// reloads go out after each failure, with the back-off between them; the
// bound ends the load with the last failure's words, and the stopped
// reload's events change nothing. An on-demand playlist just ends.
TEST(LiveOutage, ReloadsUntilTheBoundThenTheStoppedReloadChangesNothing) {
  Player p;
  p.errorFromEngine = false;
  p.source.facts = {/*duration=*/8, /*seekable=*/0, /*sizeKnown=*/false, /*hls=*/true};
  applyEofReached(loadStateOf(p), kRules, true, true);
  EXPECT_EQ(p.status, "playing");
  auto turn = [&](double seconds) {
    return endWaitTurn(loadStateOf(p), p.buffering, 10, int64_t(seconds * kSecond));
  };
  EXPECT_EQ(turn(1), WaitStep::reload);
  EXPECT_TRUE(p.buffering.active);
  EXPECT_EQ(turn(1.1), WaitStep::none) << "one reload at a time";
  applyStartFile(loadStateOf(p));
  EXPECT_EQ(p.status, "playing");
  p.watch.faultLine = "tcp: Connection refused";
  end(p, MPV_END_FILE_REASON_ERROR);
  EXPECT_EQ(p.status, "playing");
  EXPECT_EQ(turn(1.2), WaitStep::none) << "a quarter second after the last reload";
  EXPECT_EQ(turn(1.25), WaitStep::reload);
  applyStartFile(loadStateOf(p));
  EXPECT_EQ(turn(10.99), WaitStep::none);
  EXPECT_EQ(turn(11), WaitStep::stop);
  EXPECT_EQ(p.status, "error");
  EXPECT_EQ(p.error, "Stream stopped: no data for 10 s (tcp: Connection refused).");
  applyFileLoaded(loadStateOf(p));
  end(p, MPV_END_FILE_REASON_STOP);
  EXPECT_EQ(p.status, "error");
  EXPECT_EQ(turn(12), WaitStep::none);
  // A new load clears it all; a finite playlist's end is an end.
  applyLoadRequested(loadStateOf(p), p.buffering);
  applyStartFile(loadStateOf(p));
  applyFileLoaded(loadStateOf(p));
  p.source.facts = {/*duration=*/8, /*seekable=*/1, /*sizeKnown=*/false, /*hls=*/true};
  applyEofReached(loadStateOf(p), kRules, true, true);
  EXPECT_EQ(p.status, "ended");
}
