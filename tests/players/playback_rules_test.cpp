// The playback rules both players share (playback_rules.h, the shared
// property rows, the recorder's failure), written once and run on each
// player's own record through its own event entry point: the helper's
// HelperState through handleEngineEventLocked, the hosted module's Session
// through handleSessionEventLocked. What only one player does stays in its
// own tests (tests/helper/event_loop_test.cpp, tests/hosted/event_thread_test.cpp).
#include <gtest/gtest.h>
#include <mpv/client.h>

#include <array>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "event_loop.h"
#include "event_thread.h"
#include "live_source.h"
#include "mpv_events.h"
#include "mpv_node_builder.h"
#include "playback_rules.h"
#include "status_text.h"

namespace {

// What the test body needs of a player: how to make its record and feed it an
// event, how its status reads as text, and where its snapshot's fields are
// (the helper keeps them in its state, the hosted module in the session's
// snapshot, under the same names). The status is only ever read and set as
// text, so a change of how a player stores it changes only its traits.
struct HelperPlayer {
  using Record = frame_helper::HelperState;
  static std::shared_ptr<Record> make() { return std::make_shared<Record>(); }
  static void feed(Record& r, const mpv_event& event) {
    threads::MutexLock lock(r.stateMutex);
    threads::RoleScope mainThread(r.mainThread);
    frame_helper::handleEngineEventLocked(r, event);
  }
  static void streamEnd(Record& r, const engine::StreamEndFacts& facts) {
    threads::MutexLock lock(r.stateMutex);
    threads::RoleScope mainThread(r.mainThread);
    frame_helper::handleStreamEndLocked(r, facts);
  }
  // A log message; returns what the player wrote out for it.
  static std::string log(Record& r, const char* level, const char* prefix, const char* text) {
    mpv_event_log_message message{prefix, level, text, MPV_LOG_LEVEL_WARN};
    testing::internal::CaptureStdout();
    feed(r, eventOf(MPV_EVENT_LOG_MESSAGE, &message));
    return testing::internal::GetCapturedStdout();
  }
  static std::string statusText(Record& r) { return engine::playbackStatusText(r.status); }
  static void setStatus(Record& r, const std::string& text) { r.status = engine::statusNamed(text); }
  static Record& shown(Record& r) { return r; }
  // The volume of the engine's full volume (100) as the record keeps it.
  static constexpr double kFullVolume = 1.0;
  // "eof-reached" also ends a file while the player is being torn down.
  static constexpr bool kEofReachedWhileStoppingEnds = true;
  // A failed end after an empty fatal line keeps the "from the engine" mark.
  static constexpr bool kEmptyFatalLineKeepsEngineMark = false;
};

struct HostedPlayer {
  using Record = hosted_mpv::Session;
  static std::shared_ptr<Record> make() {
    auto session = std::make_shared<Record>();
    session->id = "hosted-mpv-test";
    session->running.store(true);
    return session;
  }
  static void feed(Record& r, const mpv_event& event) {
    threads::MutexLock lock(r.stateMutex);
    threads::RoleScope eventThread(r.eventRole);
    hosted_mpv::handleSessionEventLocked(r, event);
  }
  static void streamEnd(Record& r, const engine::StreamEndFacts& facts) {
    threads::MutexLock lock(r.stateMutex);
    threads::RoleScope eventThread(r.eventRole);
    hosted_mpv::handleStreamEndLocked(r, facts);
  }
  static std::string log(Record& r, const char* level, const char* prefix, const char* text) {
    mpv_event_log_message message{prefix, level, text, MPV_LOG_LEVEL_WARN};
    testing::internal::CaptureStderr();
    feed(r, eventOf(MPV_EVENT_LOG_MESSAGE, &message));
    return testing::internal::GetCapturedStderr();
  }
  static std::string statusText(Record& r) { return engine::playbackStatusText(r.snapshot.status); }
  static void setStatus(Record& r, const std::string& text) {
    r.snapshot.status = engine::statusNamed(text);
  }
  static hosted_mpv::SessionSnapshot& shown(Record& r) { return r.snapshot; }
  static constexpr double kFullVolume = 100.0;
  static constexpr bool kEofReachedWhileStoppingEnds = false;
  static constexpr bool kEmptyFatalLineKeepsEngineMark = true;
};

class PlayerNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, HelperPlayer> ? "Helper" : "Hosted";
  }
};

template <typename Player>
class PlaybackRules : public testing::Test {
 protected:
  using P = Player;
  std::shared_ptr<typename P::Record> record = P::make();

  typename P::Record& r() { return *record; }
  auto& s() { return P::shown(*record); }
  void fresh() { record = P::make(); }
  std::string status() { return P::statusText(r()); }
  void setStatus(const std::string& text) { P::setStatus(r(), text); }
  void event(mpv_event_id id) { P::feed(r(), eventOf(id)); }
  std::string log(const char* level, const char* prefix, const char* text) {
    return P::log(r(), level, prefix, text);
  }
  // reason -1: an end of file without data.
  void endFile(int reason, int error = 0) {
    mpv_event_end_file end{};
    end.reason = static_cast<mpv_end_file_reason>(reason);
    end.error = error;
    P::feed(r(), eventOf(MPV_EVENT_END_FILE, reason < 0 ? nullptr : &end));
  }
  void change(const char* name, mpv_format format, void* data) {
    mpv_event_property property{name, format, data};
    P::feed(r(), eventOf(MPV_EVENT_PROPERTY_CHANGE, &property));
  }
  void changeDouble(const char* name, double value) { change(name, MPV_FORMAT_DOUBLE, &value); }
  void changeInt(const char* name, int64_t value) { change(name, MPV_FORMAT_INT64, &value); }
  void changeFlag(const char* name, bool value) {
    int flag = value;
    change(name, MPV_FORMAT_FLAG, &flag);
  }
  void changeString(const char* name, const char* value) {
    char* text = const_cast<char*>(value);
    change(name, MPV_FORMAT_STRING, &text);
  }
  void changeNode(const char* name, mpv_node node) { change(name, MPV_FORMAT_NODE, &node); }
  void unavailable(const char* name) { change(name, MPV_FORMAT_NONE, nullptr); }
};

using Players = testing::Types<HelperPlayer, HostedPlayer>;
TYPED_TEST_SUITE(PlaybackRules, Players, PlayerNames);

const char* const kLoadingFailed = mpv_error_string(MPV_ERROR_LOADING_FAILED);

}  // namespace

TYPED_TEST(PlaybackRules, StartOfFileResetsTheFileAndKeepsThePlayersSettings) {
  auto& s = this->s();
  this->setStatus("playing");
  s.error = "old";
  s.errorFromEngine = true;
  this->r().fileLoaded = true;
  this->r().paused = true;
  s.positionSeconds = 9;
  s.durationSeconds = 20;
  s.stats.fps = 30;
  s.stats.videoCodec = "h264";
  s.stats.bufferedAheadSeconds = 4;
  s.stats.frameDropCount = 3;
  s.media.audioTracks = {{1, "", "", false, false, false}};
  s.media.subtitleTracks = {{1, "", "", false, false, false}};
  s.media.selectedAudioTrackId = 1;
  s.media.selectedSubtitleTrackId = 1;
  s.media.chapters = {{1, "c"}};
  s.streamUrl = "u";
  s.volume = 0.5;
  s.playbackSpeed = 2;
  s.recording.active = true;
  this->event(MPV_EVENT_START_FILE);
  EXPECT_EQ(this->status(), "loading");
  EXPECT_EQ(s.error, "");
  EXPECT_FALSE(s.errorFromEngine);
  EXPECT_FALSE(this->r().fileLoaded);
  // The old file's facts never show beside the new one.
  EXPECT_EQ(s.positionSeconds, 0);
  EXPECT_EQ(s.durationSeconds, -1);
  EXPECT_EQ(s.stats.fps, 0);
  EXPECT_EQ(s.stats.videoCodec, "");
  EXPECT_EQ(s.stats.bufferedAheadSeconds, -1);
  EXPECT_EQ(s.stats.frameDropCount, -1);
  EXPECT_TRUE(s.media.audioTracks.empty());
  EXPECT_TRUE(s.media.subtitleTracks.empty());
  EXPECT_EQ(s.media.selectedAudioTrackId, -1);
  EXPECT_EQ(s.media.selectedSubtitleTrackId, -1);
  EXPECT_TRUE(s.media.chapters.empty());
  // The player's settings and the recording outlive the file.
  EXPECT_EQ(s.streamUrl, "u");
  EXPECT_EQ(s.volume, 0.5);
  EXPECT_EQ(s.playbackSpeed, 2);
  EXPECT_TRUE(this->r().paused);
  EXPECT_TRUE(s.recording.active);
}

TYPED_TEST(PlaybackRules, FileLoadedFollowsThePause) {
  for (bool paused : {false, true}) {
    this->r().paused = paused;
    this->event(MPV_EVENT_FILE_LOADED);
    EXPECT_TRUE(this->r().fileLoaded);
    EXPECT_EQ(this->status(), paused ? "paused" : "playing");
  }
}

// A pause moves only a loaded file that is not loading, ended or failed; the
// player's pause follows the engine whatever the status.
TYPED_TEST(PlaybackRules, PauseAgainstEachStatus) {
  const struct {
    const char* status;
    bool fileLoaded;
    bool pause;
    const char* expected;
  } kCases[] = {
      {"playing", true, true, "paused"},   {"paused", true, false, "playing"},
      {"idle", true, true, "idle"},        {"closed", true, true, "closed"},
      {"loading", true, true, "loading"},  {"ended", true, true, "ended"},
      {"error", true, false, "error"},     {"idle", false, true, "idle"},
      {"playing", false, true, "playing"},
  };
  for (const auto& c : kCases) {
    this->setStatus(c.status);
    this->r().fileLoaded = c.fileLoaded;
    this->r().paused = !c.pause;
    this->changeFlag("pause", c.pause);
    EXPECT_EQ(this->status(), c.expected) << c.status << " pause=" << c.pause;
    EXPECT_EQ(this->r().paused, c.pause);
  }
}

TYPED_TEST(PlaybackRules, EofReachedEndsOnlyALoadedFile) {
  using P = typename TestFixture::P;
  const struct {
    bool fileLoaded;
    bool reached;
    bool running;
    const char* expected;
  } kCases[] = {
      {false, true, true, "playing"},
      {true, false, true, "playing"},
      {true, true, true, "ended"},
      {true, true, false, P::kEofReachedWhileStoppingEnds ? "ended" : "playing"},
      {false, true, false, "playing"},
  };
  for (const auto& c : kCases) {
    this->setStatus("playing");
    this->r().fileLoaded = c.fileLoaded;
    this->r().running.store(c.running);
    this->changeFlag("eof-reached", c.reached);
    EXPECT_EQ(this->status(), c.expected)
        << "loaded=" << c.fileLoaded << " reached=" << c.reached << " running=" << c.running;
  }
}

// From a loaded, playing file with an error text of its own. Once the player
// is being torn down (not running) only an error still changes the status.
TYPED_TEST(PlaybackRules, EndOfFileByReason) {
  const std::string kept = "old words";
  const struct {
    int reason;  // -1: no data
    int code;
    bool running;
    const char* status;
    bool fileLoaded;
    std::string error;
  } kCases[] = {
      {MPV_END_FILE_REASON_EOF, 0, true, "ended", true, kept},
      {MPV_END_FILE_REASON_STOP, 0, true, "idle", true, kept},
      {MPV_END_FILE_REASON_QUIT, 0, true, "idle", true, kept},
      {-1, 0, true, "idle", true, kept},
      {MPV_END_FILE_REASON_ERROR, 0, true, "error", true, "Playback failed."},
      {MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED, true, "error", true, kLoadingFailed},
      {MPV_END_FILE_REASON_REDIRECT, 0, true, "loading", false, ""},
      {MPV_END_FILE_REASON_EOF, 0, false, "playing", true, kept},
      {MPV_END_FILE_REASON_STOP, 0, false, "playing", true, kept},
      {MPV_END_FILE_REASON_QUIT, 0, false, "playing", true, kept},
      {-1, 0, false, "playing", true, kept},
      {MPV_END_FILE_REASON_REDIRECT, 0, false, "playing", true, kept},
      {MPV_END_FILE_REASON_ERROR, 0, false, "error", true, "Playback failed."},
  };
  for (const auto& c : kCases) {
    this->setStatus("playing");
    this->r().fileLoaded = true;
    this->s().error = kept;
    this->s().errorFromEngine = false;
    this->r().running.store(c.running);
    this->endFile(c.reason, c.code);
    SCOPED_TRACE(testing::Message() << "reason " << c.reason << " running " << c.running);
    EXPECT_EQ(this->status(), c.status);
    EXPECT_EQ(this->r().fileLoaded, c.fileLoaded);
    EXPECT_EQ(this->s().error, c.error);
  }
  // A redirect starts over: the engine's mark goes with the words.
  this->r().running.store(true);
  this->s().errorFromEngine = true;
  this->endFile(MPV_END_FILE_REASON_REDIRECT);
  EXPECT_FALSE(this->s().errorFromEngine);
}

TYPED_TEST(PlaybackRules, ShutdownClosesAndStopsTheLoop) {
  this->event(MPV_EVENT_SHUTDOWN);
  EXPECT_EQ(this->status(), "closed");
  EXPECT_FALSE(this->r().running.load());
}

// The engine logs while it probes (outputs, decoders) and its lines come
// after the events that followed them: a line is written out always, never
// changes the status, and names only a load that failed.
TYPED_TEST(PlaybackRules, ErrorLinesNameOnlyALoadThatHasNotStartedPlaying) {
  auto& s = this->s();
  for (const char* status : {"idle", "playing", "paused", "ended", "closed"}) {
    this->setStatus(status);
    this->r().fileLoaded = true;
    EXPECT_NE(this->log("fatal", "ao/jack", "cannot open server\n"), "");
    EXPECT_NE(this->log("error", "vd", "probing failed\n"), "");
    EXPECT_EQ(this->status(), status);
    EXPECT_EQ(s.error, "") << status;
    EXPECT_FALSE(s.errorFromEngine) << status;
  }

  // Probing while opening, then the file plays: nothing of it stays.
  this->event(MPV_EVENT_START_FILE);
  this->log("fatal", "ao/jack", "cannot open server\n");
  this->log("error", "vd", "Could not create device.\n");
  EXPECT_EQ(this->status(), "loading");
  EXPECT_EQ(s.error, "");  // while loading a line may be a late one of the load before
  this->event(MPV_EVENT_FILE_LOADED);
  EXPECT_EQ(this->status(), "playing");
  EXPECT_EQ(s.error, "");
  EXPECT_FALSE(s.errorFromEngine);

  // A load that fails keeps the engine's own fatal words ...
  this->event(MPV_EVENT_START_FILE);
  this->log("fatal", "cplayer", "No video or audio streams selected.\n");
  this->endFile(MPV_END_FILE_REASON_ERROR, MPV_ERROR_NOTHING_TO_PLAY);
  EXPECT_EQ(this->status(), "error");
  EXPECT_EQ(s.error, "No video or audio streams selected.\n");
  EXPECT_TRUE(s.errorFromEngine);

  // ... and without one, the code's text, which the lines after the event
  // (the engine's own words come late) replace; blank lines say nothing.
  this->event(MPV_EVENT_START_FILE);
  this->log("error", "ffmpeg", "probe warning\n");
  this->endFile(MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
  EXPECT_EQ(s.error, kLoadingFailed);
  EXPECT_FALSE(s.errorFromEngine);
  this->log("error", "stream", "Failed to open /missing.mkv.\n");
  EXPECT_EQ(this->status(), "error");
  EXPECT_EQ(s.error, "Failed to open /missing.mkv.\n");
  EXPECT_FALSE(s.errorFromEngine);
  this->log("fatal", "cplayer", "gone\n");
  EXPECT_EQ(s.error, "gone\n");
  EXPECT_TRUE(s.errorFromEngine);
  this->log("error", "cplayer", " \n");
  EXPECT_EQ(s.error, "gone\n");
  EXPECT_EQ(this->status(), "error");
}

TYPED_TEST(PlaybackRules, LinesWithoutALevelOrATextAreIgnored) {
  this->setStatus("error");
  EXPECT_EQ(this->log(nullptr, "x", "t"), "");
  EXPECT_EQ(this->log("error", "x", nullptr), "");
  this->event(MPV_EVENT_LOG_MESSAGE);
  EXPECT_EQ(this->s().error, "");
  EXPECT_EQ(this->status(), "error");
}

// A failed load replaced at once: its lines come after the next file's
// start, or after that file has loaded. Nothing shows while the next file
// loads; they are gone once it plays, and name its failure only if it fails.
TYPED_TEST(PlaybackRules, ALateLineOfAReplacedLoadNeverShowsInTheNextFile) {
  const char* lateFatal = "late fatal of the first\n";
  enum class Next { plays, playsPaused, loadedBeforeTheLines, fails, playsThenFails };
  for (Next next : {Next::plays, Next::playsPaused, Next::loadedBeforeTheLines, Next::fails,
                    Next::playsThenFails}) {
    SCOPED_TRACE(static_cast<int>(next));
    this->fresh();
    auto& s = this->s();
    this->r().paused = next == Next::playsPaused;
    this->event(MPV_EVENT_START_FILE);
    this->endFile(MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
    this->event(MPV_EVENT_START_FILE);
    if (next == Next::loadedBeforeTheLines) this->event(MPV_EVENT_FILE_LOADED);
    this->log("error", "stream", "Failed to open /nonexistent.\n");
    this->log("fatal", "stream", lateFatal);
    EXPECT_EQ(this->status(), next == Next::loadedBeforeTheLines ? "playing" : "loading");
    EXPECT_EQ(s.error, "");
    EXPECT_FALSE(s.errorFromEngine);
    if (next == Next::fails) {
      this->endFile(MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
      EXPECT_EQ(s.error, lateFatal);
      EXPECT_TRUE(s.errorFromEngine);
      continue;
    }
    this->event(MPV_EVENT_FILE_LOADED);
    EXPECT_EQ(this->status(), next == Next::playsPaused ? "paused" : "playing");
    EXPECT_EQ(s.error, "");
    EXPECT_FALSE(s.errorFromEngine);
    if (next == Next::playsThenFails) {
      // The held line went with the load that played.
      this->endFile(MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
      EXPECT_EQ(s.error, kLoadingFailed);
    }
  }
}

// The two players differ here: the hosted module keeps the mark of an empty
// fatal line on the code's text the failed end then sets.
TYPED_TEST(PlaybackRules, AnEmptyFatalLineThenAFailedEnd) {
  this->event(MPV_EVENT_START_FILE);
  this->log("fatal", "cplayer", "");
  this->endFile(MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
  EXPECT_EQ(this->status(), "error");
  EXPECT_EQ(this->s().error, kLoadingFailed);
  EXPECT_EQ(this->s().errorFromEngine, TestFixture::P::kEmptyFatalLineKeepsEngineMark);
}

// The URL hook's refusal (it keeps only the refusal: the load still loads) is
// the error whatever the engine says about the file it fails to open or
// stops, until the next file starts.
TYPED_TEST(PlaybackRules, AURLRefusalIsTheErrorUntilTheNextFile) {
  const std::string refusal = "URL refused: scheme \"file\" is not in allowedSchemes (http)";
  for (int reason : {MPV_END_FILE_REASON_ERROR, MPV_END_FILE_REASON_STOP}) {
    SCOPED_TRACE(reason);
    this->event(MPV_EVENT_START_FILE);
    this->r().streamWatch.refusal = refusal;
    this->log("fatal", "cplayer", "Refusing to load potentially unsafe URL.\n");
    EXPECT_EQ(this->status(), "loading");
    this->endFile(MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
    EXPECT_EQ(this->status(), "error");
    EXPECT_EQ(this->s().error, refusal);
    EXPECT_FALSE(this->s().errorFromEngine);
    this->log("error", "stream", "Failed to open.\n");
    this->endFile(reason, MPV_ERROR_LOADING_FAILED);
    EXPECT_EQ(this->status(), "error");
    EXPECT_EQ(this->s().error, refusal);
    EXPECT_FALSE(this->s().errorFromEngine);
    this->event(MPV_EVENT_START_FILE);
    this->endFile(MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
    EXPECT_EQ(this->s().error, kLoadingFailed) << "the next file's own failure";
  }
}

// A live HLS source that stops delivering is in an outage, not ended: the
// status stays while the player reloads it, and a reload that loads ends the
// outage (live_source.h).
TYPED_TEST(PlaybackRules, ALiveOutageKeepsTheStatusUntilAReloadLoads) {
  using engine::LiveOutage;
  this->event(MPV_EVENT_START_FILE);
  this->event(MPV_EVENT_FILE_LOADED);
  this->changeString("file-format", "hls");
  this->changeFlag("seekable", false);
  this->changeFlag("eof-reached", true);
  this->endFile(MPV_END_FILE_REASON_EOF);
  EXPECT_EQ(this->status(), "playing");
  EXPECT_TRUE(engine::inOutage(this->r().source.outage, LiveOutage::Phase::waiting));
  this->event(MPV_EVENT_START_FILE);  // the reload
  EXPECT_EQ(this->status(), "playing");
  this->event(MPV_EVENT_FILE_LOADED);
  EXPECT_TRUE(engine::inOutage(this->r().source.outage, LiveOutage::Phase::none));
  // Not known to be live yet: the reloaded file ends as any other.
  this->endFile(MPV_END_FILE_REASON_EOF);
  EXPECT_EQ(this->status(), "ended");
}

// Which ends are a cut stream, from the engine's facts and the lines it logged.
TYPED_TEST(PlaybackRules, AStreamCutShortEndsWithWhyAndOnePlayedOutWithout) {
  using P = typename TestFixture::P;
  const char* premature = "http: Stream ends prematurely at 418484, should be 1046211\n";
  const char* lostSegment = "hls: Failed to open segment 3 of playlist 0\n";
  struct Case {
    const char* name;
    engine::StreamEndFacts facts;
    std::vector<std::array<const char*, 3>> lines;  // level, prefix, text
    std::string error;
  };
  const std::vector<Case> cases = {
      {"played out, index left unread", {6.04, 6.02, 1045948, 1046211}, {}, ""},
      {"played out, MP4 index at the end unread", {60.0, 60.0, 9800000, 10000000}, {}, ""},
      {"bit-rate duration a little long", {57.5, 60.0, 10000000, 10000000}, {}, ""},
      {"live: nothing to compare", {30.0, -1, 500000, -1}, {}, ""},
      {"reset at 40 %",
       {2.55, 6.02, 414532, 1046211},
       {},
       "The stream ended early, at 2.5 s of 6.0 s."},
      {"closed at 40 %",
       {2.55, 6.02, 418484, 1046211},
       {{"error", "ffmpeg", premature}},
       premature},
      {"no duration, bytes short",
       {2.0, -1, 400000, 1000000},
       {},
       "The stream ended early, at byte 400000 of 1000000."},
      {"HLS by its time", {2.0, 6.0, -1, 281}, {}, "The stream ended early, at 2.0 s of 6.0 s."},
      {"HLS played on past a lost segment",
       {6.04, 6.01, -1, 281},
       {{"warn", "ffmpeg/demuxer", lostSegment}},
       lostSegment},
      {"HLS segment retried on a new connection",
       {6.04, 6.01, -1, 281},
       {{"warn", "ffmpeg/demuxer",
         "hls: keepalive request failed, retrying with new connection\n"}},
       ""},
      {"probing lines are not the stream's words",
       {2.55, 6.02, 414532, 1046211},
       {{"fatal", "ao/jack", "cannot open server\n"},
        {"error", "vd", "Could not create device.\n"}},
       "The stream ended early, at 2.5 s of 6.0 s."},
  };
  for (const Case& c : cases) {
    this->fresh();
    auto& s = this->s();
    this->event(MPV_EVENT_START_FILE);
    this->event(MPV_EVENT_FILE_LOADED);
    for (const auto& [level, prefix, text] : c.lines) this->log(level, prefix, text);
    P::streamEnd(this->r(), c.facts);
    EXPECT_EQ(s.error, "") << c.name << ": nothing before the end";
    this->changeFlag("eof-reached", true);
    P::streamEnd(this->r(), c.facts);
    EXPECT_EQ(this->status(), "ended") << c.name;
    EXPECT_EQ(s.error, c.error) << c.name;
    EXPECT_FALSE(s.errorFromEngine) << c.name;
    this->event(MPV_EVENT_START_FILE);  // the next file starts clean
    this->event(MPV_EVENT_FILE_LOADED);
    this->changeFlag("eof-reached", true);
    P::streamEnd(this->r(), engine::StreamEndFacts{6.0, 6.0, 1000000, 1000000});
    EXPECT_EQ(s.error, "") << c.name;
  }
}

// The engine goes on playing without recording: the recording shows stopped
// with the recorder's words, and the playback's status and error stay.
TYPED_TEST(PlaybackRules, TheRecorderFailingEndsARunningRecording) {
  auto& s = this->s();
  this->setStatus("playing");
  s.recording.active = true;
  s.recording.targetPath = "/nope/a.mkv";
  s.recording.startedAt = "2024-05-01T18:30:00Z";
  this->log("warn", "recorder", "experimental\n");
  EXPECT_TRUE(s.recording.active);
  this->log("error", "recorder", "Failed opening output file.\n");
  EXPECT_FALSE(s.recording.active);
  EXPECT_EQ(s.recording.targetPath, "/nope/a.mkv");
  EXPECT_EQ(s.recording.startedAt, "");
  EXPECT_EQ(s.recording.error, "Failed opening output file.");
  EXPECT_TRUE(this->r().recordingMachine.holdsFailedTarget);
  EXPECT_EQ(this->status(), "playing");
  EXPECT_EQ(s.error, "");
}

TYPED_TEST(PlaybackRules, PropertyValuesAndMissingValues) {
  auto& s = this->s();
  this->changeDouble("time-pos", 4.5);
  this->changeFlag("seekable", true);  // a file of known length shows its duration
  this->changeDouble("duration", 90);
  this->changeDouble("volume", 55);
  this->changeDouble("speed", 1.5);
  this->changeString("path", "/media/a.mkv");
  this->changeInt("audio-params/samplerate", 48000);
  this->changeInt("frame-drop-count", 3);
  this->changeString("video-format", "h264");
  this->changeString("file-format", "mkv");
  EXPECT_EQ(s.positionSeconds, 4.5);
  EXPECT_EQ(s.durationSeconds, 90);
  EXPECT_DOUBLE_EQ(s.volume, 0.55 * TestFixture::P::kFullVolume);
  EXPECT_EQ(s.playbackSpeed, 1.5);
  EXPECT_EQ(s.streamUrl, "/media/a.mkv");
  EXPECT_EQ(s.stats.audioSampleRateHz, 48000);
  EXPECT_EQ(s.stats.frameDropCount, 3);
  EXPECT_EQ(s.stats.videoCodec, "h264");
  EXPECT_EQ(s.stats.container, "mkv");
  this->changeString("path", nullptr);  // a null text counts as empty
  EXPECT_EQ(s.streamUrl, "");
}

// A property becoming unavailable: the playback's values and the player's
// settings keep their last value; the file's statistics go back to unknown.
TYPED_TEST(PlaybackRules, UnavailableProperties) {
  auto& s = this->s();
  this->setStatus("playing");
  this->r().fileLoaded = true;
  this->r().paused = true;
  s.positionSeconds = 7;
  s.durationSeconds = 9;
  s.volume = 0.3;
  s.playbackSpeed = 2;
  s.streamUrl = "u";
  s.aspectOverride = "16:9";
  s.media.audioTracks = {{2, "", "", false, false, true}};
  s.media.selectedAudioTrackId = 2;
  s.media.chapters = {{1, ""}};
  for (const char* name :
       {"time-pos", "duration", "pause", "volume", "path", "track-list", "aid", "sid", "speed",
        "video-aspect-override", "eof-reached", "chapter-list"}) {
    this->unavailable(name);
  }
  EXPECT_EQ(this->status(), "playing");
  EXPECT_TRUE(this->r().paused);
  EXPECT_EQ(s.positionSeconds, 7);
  EXPECT_EQ(s.durationSeconds, 9);
  EXPECT_EQ(s.volume, 0.3);
  EXPECT_EQ(s.playbackSpeed, 2);
  EXPECT_EQ(s.streamUrl, "u");
  EXPECT_EQ(s.aspectOverride, "16:9");
  EXPECT_EQ(s.media.audioTracks.size(), 1u);
  EXPECT_EQ(s.media.selectedAudioTrackId, 2);
  EXPECT_EQ(s.media.chapters.size(), 1u);

  s.stats.fps = 30;
  s.stats.videoBitrateBps = 1;
  s.stats.audioBitrateBps = 1;
  s.stats.bufferedAheadSeconds = 2;
  s.stats.audioSampleRateHz = 44100;
  s.stats.frameDropCount = 1;
  s.stats.decoderFrameDropCount = 1;
  s.stats.videoCodec = s.stats.audioCodec = s.stats.audioChannels = s.stats.container = "x";
  for (const char* name :
       {"estimated-vf-fps", "video-bitrate", "audio-bitrate", "demuxer-cache-duration",
        "audio-params/samplerate", "frame-drop-count", "decoder-frame-drop-count", "video-format",
        "audio-codec-name", "audio-params/channels", "file-format"}) {
    this->unavailable(name);
  }
  EXPECT_EQ(s.stats.fps, 0);
  EXPECT_EQ(s.stats.videoBitrateBps, 0);
  EXPECT_EQ(s.stats.audioBitrateBps, 0);
  EXPECT_EQ(s.stats.bufferedAheadSeconds, -1);
  EXPECT_EQ(s.stats.audioSampleRateHz, 0);
  EXPECT_EQ(s.stats.frameDropCount, -1);
  EXPECT_EQ(s.stats.decoderFrameDropCount, -1);
  EXPECT_EQ(s.stats.videoCodec + s.stats.audioCodec + s.stats.audioChannels + s.stats.container,
            "");
}

// "No override" reads "no", as before the engine reports; the helper also
// reads other texts that are no ratio as "no" (tests/helper).
TYPED_TEST(PlaybackRules, AspectOverrideNoneReadsNo) {
  const struct {
    const char* text;
    const char* shown;
  } kCases[] = {{"1.777778", "1.777778"},
                {"-1.000000", "no"},
                {"16:9", "16:9"},
                {"-1", "no"},
                {"2.35", "2.35"}};
  for (const auto& c : kCases) {
    this->changeString("video-aspect-override", c.text);
    EXPECT_EQ(this->s().aspectOverride, c.shown) << c.text;
  }
}

TYPED_TEST(PlaybackRules, TrackAndChapterLists) {
  auto& s = this->s();
  MpvNodeBuilder b;
  this->changeNode(
      "track-list",
      b.array({
          b.map({{"type", b.string("video")}, {"id", b.integer(1)}}),
          b.map({{"type", b.string("audio")},
                 {"id", b.integer(1)},
                 {"lang", b.string("eng")},
                 {"title", b.string("Main")},
                 {"default", b.flag(true)}}),
          b.map({{"type", b.string("audio")}, {"id", b.integer(2)}, {"lang", b.string("deu")}}),
          b.map({{"type", b.string("sub")}, {"id", b.integer(1)}, {"forced", b.flag(true)}}),
          b.integer(5),
      }));
  ASSERT_EQ(s.media.audioTracks.size(), 2u);
  EXPECT_EQ(s.media.audioTracks[0].id, 1);
  EXPECT_EQ(s.media.audioTracks[0].title, "Main");
  EXPECT_TRUE(s.media.audioTracks[0].defaultTrack);
  EXPECT_EQ(s.media.audioTracks[1].language, "deu");
  ASSERT_EQ(s.media.subtitleTracks.size(), 1u);
  EXPECT_TRUE(s.media.subtitleTracks[0].forced);
  s.media.selectedSubtitleTrackId = 1;
  this->changeString("sid", "no");
  EXPECT_EQ(s.media.selectedSubtitleTrackId, -1);

  this->changeNode("chapter-list",
                   b.array({b.map({{"title", b.string("no time")}}),
                            b.map({{"time", b.number(1)}, {"title", b.string("One")}}),
                            b.map({{"time", b.integer(2)}})}));
  ASSERT_EQ(s.media.chapters.size(), 2u);
  EXPECT_EQ(s.media.chapters[0].timeSeconds, 1);
  EXPECT_EQ(s.media.chapters[0].title, "One");
  EXPECT_EQ(s.media.chapters[1].timeSeconds, 2);
  // Not an array: the chapters are emptied.
  this->changeNode("chapter-list", b.map({{"time", b.number(1)}}));
  EXPECT_TRUE(s.media.chapters.empty());
}
