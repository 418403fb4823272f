// The event thread's rules, driven with constructed engine events.
#include "event_thread.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "mpv_node_builder.h"

using namespace hosted_mpv;

namespace {

class EventThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session = std::make_shared<Session>();
    session->id = "hosted-mpv-test";
    session->running.store(true);
  }

  void handle(mpv_event_id id, void* data = nullptr, uint64_t replyId = 0, int error = 0)
      REQUIRES(session->stateMutex, session->eventRole) {
    mpv_event event{};
    event.event_id = id;
    event.data = data;
    event.reply_userdata = replyId;
    event.error = error;
    handleSessionEventLocked(*session, event);
  }

  std::string log(const char* prefix, const char* level, const char* text)
      REQUIRES(session->stateMutex, session->eventRole) {
    mpv_event_log_message message{prefix, level, text, MPV_LOG_LEVEL_NONE};
    testing::internal::CaptureStderr();
    handle(MPV_EVENT_LOG_MESSAGE, &message);
    return testing::internal::GetCapturedStderr();
  }

  void endFile(int reason, int error = 0) REQUIRES(session->stateMutex, session->eventRole) {
    mpv_event_end_file endFile{};
    endFile.reason = static_cast<mpv_end_file_reason>(reason);
    endFile.error = error;
    handle(MPV_EVENT_END_FILE, &endFile);
  }

  void change(const char* name, mpv_format format, void* data)
      REQUIRES(session->stateMutex, session->eventRole) {
    mpv_event_property property{name, format, data};
    handle(MPV_EVENT_PROPERTY_CHANGE, &property);
  }
  void changeDouble(const char* name, double value)
      REQUIRES(session->stateMutex, session->eventRole) {
    change(name, MPV_FORMAT_DOUBLE, &value);
  }
  void changeFlag(const char* name, bool value) REQUIRES(session->stateMutex, session->eventRole) {
    int flag = value;
    change(name, MPV_FORMAT_FLAG, &flag);
  }
  void changeString(const char* name, const char* value)
      REQUIRES(session->stateMutex, session->eventRole) {
    char* text = const_cast<char*>(value);
    change(name, MPV_FORMAT_STRING, &text);
  }
  void changeNode(const char* name, mpv_node node)
      REQUIRES(session->stateMutex, session->eventRole) {
    change(name, MPV_FORMAT_NODE, &node);
  }

  SessionSnapshot& snap() REQUIRES(session->stateMutex) { return session->snapshot; }

  // A start on its way, as the machine expects it, without showing it.
  void expectRecordStart(uint64_t id, const char* path, const char* startedAt)
      REQUIRES(session->stateMutex) {
    session->recordingMachine.start.id = id;
    session->recordingMachine.start.targetPath = path;
    session->recordingMachine.start.startedAt = startedAt;
  }

  std::shared_ptr<Session> session;
};

TEST_F(EventThreadTest, WarnLinesAreOnlyWritten) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  std::string line = log("ffmpeg", "warn", "slow\n");
  EXPECT_EQ(line, "[hosted-mpv][hosted-mpv-test][warn] ffmpeg: slow\n");
  EXPECT_EQ(snap().error, "");
}

TEST_F(EventThreadTest, ErrorLinesDescribeOnlyALoadThatHasNotStartedPlaying) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  // Written out always; never a status change; in the snapshot only while
  // loading or failed.
  for (auto status : {engine::PlaybackStatus::playing, engine::PlaybackStatus::paused,
                      engine::PlaybackStatus::ended, engine::PlaybackStatus::idle,
                      engine::PlaybackStatus::closed}) {
    snap().status = status;
    EXPECT_EQ(log("demux", "error", "bad packet\n"),
              "[hosted-mpv][hosted-mpv-test][error] demux: bad packet\n");
    EXPECT_EQ(log("ao/jack", "fatal", "cannot open server\n"),
              "[hosted-mpv][hosted-mpv-test][fatal] ao/jack: cannot open server\n");
    EXPECT_EQ(snap().status, status);
    EXPECT_EQ(snap().error, "");
    EXPECT_FALSE(snap().errorFromEngine);
  }
  snap().status = engine::PlaybackStatus::loading;
  log("vd", "error", "no CUDA\n");
  EXPECT_EQ(snap().error, "");  // while loading, a line may be a late one of the load before
  EXPECT_FALSE(snap().errorFromEngine);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::loading);
  handle(MPV_EVENT_START_FILE);
  EXPECT_EQ(snap().error, "");
}

TEST_F(EventThreadTest, FatalLinesWithoutPrefixSayMpvAndKeepTheStatus) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  snap().status = engine::PlaybackStatus::loading;
  EXPECT_EQ(log(nullptr, "fatal", "gone"), "[hosted-mpv][hosted-mpv-test][fatal] mpv: gone");
  EXPECT_EQ(snap().status, engine::PlaybackStatus::loading);
  EXPECT_EQ(snap().error, "");  // held until the load's outcome
  EXPECT_FALSE(snap().errorFromEngine);
  // The engine recovered from it: the file loads and plays.
  handle(MPV_EVENT_FILE_LOADED);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);
  EXPECT_EQ(snap().error, "");
  EXPECT_FALSE(snap().errorFromEngine);
}

// The engine delivers its log lines after every queued event, so the
// "Failed to open" line of a refused load A comes after B's start of file.
TEST_F(EventThreadTest, ALateErrorLineOfAReplacedLoadNeverShowsInTheNextFile) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  snap().status = engine::PlaybackStatus::error;  // A was refused
  handle(MPV_EVENT_START_FILE);           // B
  log("cplayer", "error", "Failed to open /nonexistent/a.mkv.\n");
  log("cplayer", "fatal", "late fatal of a\n");
  EXPECT_EQ(snap().status, engine::PlaybackStatus::loading);
  EXPECT_EQ(snap().error, "");  // not while B is loading either
  EXPECT_FALSE(snap().errorFromEngine);
  handle(MPV_EVENT_FILE_LOADED);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);
  EXPECT_EQ(snap().error, "");

  handle(MPV_EVENT_START_FILE);  // C, loaded before the line of B's predecessor arrives
  handle(MPV_EVENT_FILE_LOADED);
  log("cplayer", "error", "Failed to open /nonexistent/b.mkv.\n");
  log("cplayer", "fatal", "late fatal\n");
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);
  EXPECT_EQ(snap().error, "");
  EXPECT_FALSE(snap().errorFromEngine);
}

TEST_F(EventThreadTest, AFailedFileKeepsItsFatalLineAndTakesTheWordsThatFollow) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  handle(MPV_EVENT_START_FILE);
  log("demux", "fatal", "no streams\n");
  endFile(MPV_END_FILE_REASON_ERROR, MPV_ERROR_UNKNOWN_FORMAT);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::error);
  EXPECT_EQ(snap().error, "no streams\n");
  EXPECT_TRUE(snap().errorFromEngine);

  handle(MPV_EVENT_START_FILE);
  log("vd", "error", "probing\n");  // not fatal: the end of file gives the code's text
  endFile(MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
  EXPECT_EQ(snap().error, mpv_error_string(MPV_ERROR_LOADING_FAILED));
  log("cplayer", "error", "Failed to open x.\n");  // the engine's own words, after the event
  EXPECT_EQ(snap().status, engine::PlaybackStatus::error);
  EXPECT_EQ(snap().error, "Failed to open x.\n");
}

TEST_F(EventThreadTest, TheRecorderFailingEndsTheRecordingAndMarksTheEngineTarget) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  snap().status = engine::PlaybackStatus::playing;
  snap().recording.active = true;
  snap().recording.targetPath = "/nope/a.mkv";
  snap().recording.startedAt = "2024-05-01T18:30:00Z";
  session->recordingMachine.stop.id = 9;  // a request on its way settles it instead
  log("recorder", "error", "Failed opening output file.\n");
  EXPECT_TRUE(snap().recording.active);
  EXPECT_FALSE(session->recordingMachine.holdsFailedTarget);

  session->recordingMachine.stop.id = 0;
  log("recorder", "error", "Failed opening output file.\n");
  EXPECT_FALSE(snap().recording.active);
  EXPECT_EQ(snap().recording.targetPath, "/nope/a.mkv");
  EXPECT_EQ(snap().recording.startedAt, "");
  EXPECT_EQ(snap().recording.error, "Failed opening output file.");
  EXPECT_TRUE(session->recordingMachine.holdsFailedTarget);
  EXPECT_EQ(snap().error, "");
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);
}

TEST_F(EventThreadTest, OtherLevelsAndIncompleteLinesAreIgnored) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  EXPECT_EQ(log("x", "info", "hello"), "");
  EXPECT_EQ(log("x", nullptr, "hello"), "");
  EXPECT_EQ(log("x", "error", nullptr), "");
  EXPECT_EQ(snap().error, "");
}

TEST_F(EventThreadTest, RepliesMatchThePendingLoad) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  session->replies.loadId = 7;
  snap().status = engine::PlaybackStatus::loading;
  handle(MPV_EVENT_COMMAND_REPLY, nullptr, 8, MPV_ERROR_COMMAND);  // not the load
  EXPECT_EQ(session->replies.loadId, 7u);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::loading);
  EXPECT_EQ(snap().error, mpv_error_string(MPV_ERROR_COMMAND));
  handle(MPV_EVENT_COMMAND_REPLY, nullptr, 7, MPV_ERROR_LOADING_FAILED);
  EXPECT_EQ(session->replies.loadId, 0u);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::error);
  EXPECT_EQ(snap().error, mpv_error_string(MPV_ERROR_LOADING_FAILED));
}

TEST_F(EventThreadTest, ReplyIdZeroNeverMatchesAnEmptyPendingField) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  snap().status = engine::PlaybackStatus::playing;
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 0, 0);
  EXPECT_EQ(snap().error, "");
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 0, MPV_ERROR_PROPERTY_UNAVAILABLE);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);
  EXPECT_EQ(snap().error, mpv_error_string(MPV_ERROR_PROPERTY_UNAVAILABLE));
}

TEST_F(EventThreadTest, RecordingStartReplies) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  session->recordingMachine.start.id = 3;
  session->recordingMachine.start.targetPath = "/tmp/a.ts";
  session->recordingMachine.start.startedAt = "2024-05-01T18:30:00Z";
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 3, 0);
  EXPECT_TRUE(snap().recording.active);
  EXPECT_EQ(snap().recording.targetPath, "/tmp/a.ts");
  EXPECT_EQ(snap().recording.startedAt, "2024-05-01T18:30:00Z");
  EXPECT_EQ(session->recordingMachine.start.id, 0u);
  EXPECT_EQ(session->recordingMachine.start.targetPath, "");

  session->recordingMachine.start.id = 4;
  session->recordingMachine.start.targetPath = "/nope/b.ts";
  session->recordingMachine.start.startedAt = "2024-05-01T18:31:00Z";
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 4, MPV_ERROR_PROPERTY_ERROR);
  EXPECT_FALSE(snap().recording.active);
  EXPECT_EQ(snap().recording.targetPath, "/nope/b.ts");
  EXPECT_EQ(snap().recording.startedAt, "");
  EXPECT_EQ(snap().recording.error, mpv_error_string(MPV_ERROR_PROPERTY_ERROR));
  EXPECT_EQ(snap().error, "");  // recording failures stay in the recording fields
}

// The engine opens the target as it takes it: its failure line may come
// before or after the start's (successful) reply. Either way the snapshot
// shows a stopped recording with the recorder's words, and the engine's
// target is marked for clearing.
TEST_F(EventThreadTest, ARecorderFailureSettlesTheStartInEitherOrder) {
  for (bool lineFirst : {true, false}) {
    SetUp();
    threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
    threads::RoleScope eventThread(session->eventRole);
    snap().status = engine::PlaybackStatus::playing;
    expectRecordStart(6, "/nope/c.ts", "2024-05-01T18:32:00Z");
    if (lineFirst) {
      log("recorder", "error", "Failed opening output file.\n");
      EXPECT_FALSE(snap().recording.active) << "not before the reply";
      EXPECT_FALSE(session->recordingMachine.holdsFailedTarget);
    }
    handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 6, 0);
    if (!lineFirst) {
      EXPECT_TRUE(snap().recording.active);
      log("recorder", "error", "Failed opening output file.\n");
    }
    EXPECT_FALSE(snap().recording.active) << lineFirst;
    EXPECT_EQ(snap().recording.targetPath, "/nope/c.ts");
    EXPECT_EQ(snap().recording.startedAt, "");
    EXPECT_EQ(snap().recording.error, "Failed opening output file.") << lineFirst;
    EXPECT_TRUE(session->recordingMachine.holdsFailedTarget) << lineFirst;

    // The next start to a good target is not marked by the old failure.
    expectRecordStart(7, "/tmp/d.ts", "2024-05-01T18:33:00Z");
    handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 7, 0);
    EXPECT_TRUE(snap().recording.active);
    EXPECT_EQ(snap().recording.error, "");
  }
}

TEST_F(EventThreadTest, RecordingStopReplies) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  snap().recording.targetPath = "/tmp/a.ts";
  session->recordingMachine.stop.id = 5;
  session->recordingMachine.stop.startedAt = "2024-05-01T18:30:00Z";
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 5, MPV_ERROR_PROPERTY_ERROR);
  EXPECT_TRUE(snap().recording.active);
  EXPECT_EQ(snap().recording.startedAt, "2024-05-01T18:30:00Z");
  EXPECT_EQ(snap().recording.error, mpv_error_string(MPV_ERROR_PROPERTY_ERROR));
  EXPECT_EQ(session->recordingMachine.stop.startedAt, "");

  session->recordingMachine.stop.id = 6;
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 6, 0);
  EXPECT_FALSE(snap().recording.active);
  EXPECT_EQ(snap().recording.startedAt, "");
  EXPECT_EQ(snap().recording.error, "");
  EXPECT_EQ(snap().recording.targetPath, "/tmp/a.ts");

  // A refused stop of nothing running leaves nothing running.
  session->recordingMachine.stop.id = 7;
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 7, MPV_ERROR_PROPERTY_ERROR);
  EXPECT_FALSE(snap().recording.active);
  EXPECT_EQ(snap().recording.startedAt, "");
  EXPECT_EQ(snap().recording.error, mpv_error_string(MPV_ERROR_PROPERTY_ERROR));
}

TEST_F(EventThreadTest, RecordingRepliesALoadMadeMootSettleNothing) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  // Start and stop on their way, then a load: the engine takes all three in
  // order and ends up not recording, whatever order the replies come in.
  session->recordingMachine.start.id = 3;
  session->recordingMachine.start.targetPath = "/tmp/a.ts";
  session->recordingMachine.start.startedAt = "2024-05-01T18:30:00Z";
  session->recordingMachine.stop.id = 4;
  engine::recordingLoadRequested(kSessionProfile.recording, session->recordingMachine,
                                 snap().recording);
  EXPECT_FALSE(engine::recordingRequestPending(session->recordingMachine));
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 3, 0);
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 4, MPV_ERROR_PROPERTY_ERROR);
  EXPECT_FALSE(snap().recording.active);
  EXPECT_EQ(snap().recording.targetPath, "");
  EXPECT_EQ(snap().recording.error, "");
  EXPECT_EQ(snap().error, "");
  EXPECT_TRUE(session->recordingMachine.mootIds.empty());
}

TEST_F(EventThreadTest, StartOfFileResetsStreamStateOnly) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  snap().positionSeconds = 12;
  snap().durationSeconds = 60;
  snap().stats.fps = 30;
  snap().stats.container = "mkv";
  snap().stats.frameDropCount = 4;
  snap().media.audioTracks.resize(2);
  snap().media.selectedAudioTrackId = 1;
  snap().media.chapters.resize(3);
  snap().streamUrl = "http://x";
  session->fileLoaded = true;
  handle(MPV_EVENT_START_FILE);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::loading);
  EXPECT_EQ(snap().stats.fps, 0);
  EXPECT_EQ(snap().stats.container, "");
  EXPECT_EQ(snap().stats.frameDropCount, -1);
  EXPECT_TRUE(snap().media.audioTracks.empty());
  EXPECT_EQ(snap().media.selectedAudioTrackId, -1);
  EXPECT_TRUE(snap().media.chapters.empty());
  EXPECT_FALSE(session->fileLoaded);
  EXPECT_EQ(snap().positionSeconds, 0);
  EXPECT_EQ(snap().durationSeconds, -1);
  EXPECT_EQ(snap().streamUrl, "http://x");
}

TEST_F(EventThreadTest, FileLoadedFollowsThePauseState) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  session->paused = true;
  handle(MPV_EVENT_FILE_LOADED);
  EXPECT_TRUE(session->fileLoaded);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::paused);
  session->paused = false;
  handle(MPV_EVENT_FILE_LOADED);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);
}

TEST_F(EventThreadTest, EndOfFileReasons) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  endFile(MPV_END_FILE_REASON_ERROR, 0);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::error);
  EXPECT_EQ(snap().error, "Playback failed.");
  endFile(MPV_END_FILE_REASON_ERROR, MPV_ERROR_UNKNOWN_FORMAT);
  EXPECT_EQ(snap().error, mpv_error_string(MPV_ERROR_UNKNOWN_FORMAT));

  endFile(MPV_END_FILE_REASON_EOF);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::ended);

  session->fileLoaded = true;
  snap().errorFromEngine = true;
  endFile(MPV_END_FILE_REASON_REDIRECT);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::loading);
  EXPECT_EQ(snap().error, "");
  EXPECT_FALSE(snap().errorFromEngine);
  EXPECT_FALSE(session->fileLoaded);

  endFile(MPV_END_FILE_REASON_STOP);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::idle);
  snap().status = engine::PlaybackStatus::playing;
  handle(MPV_EVENT_END_FILE);  // no data
  EXPECT_EQ(snap().status, engine::PlaybackStatus::idle);
}

TEST_F(EventThreadTest, EndOfFileAfterTeardownBeganKeepsTheStatus) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  session->running.store(false);
  snap().status = engine::PlaybackStatus::playing;
  endFile(MPV_END_FILE_REASON_EOF);
  endFile(MPV_END_FILE_REASON_QUIT);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);
}

TEST_F(EventThreadTest, ShutdownClosesAndStopsTheLoop) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  handle(MPV_EVENT_SHUTDOWN);
  EXPECT_FALSE(session->running.load());
  EXPECT_EQ(snap().status, engine::PlaybackStatus::closed);
}

TEST_F(EventThreadTest, PauseChangesMoveOnlyALoadedPlayingOrPausedStatus) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  snap().status = engine::PlaybackStatus::playing;
  changeFlag("pause", true);
  EXPECT_TRUE(session->paused);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);  // nothing loaded yet
  session->fileLoaded = true;
  changeFlag("pause", true);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::paused);
  changeFlag("pause", false);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);
  snap().status = engine::PlaybackStatus::ended;
  changeFlag("pause", true);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::ended);
}

TEST_F(EventThreadTest, EofReachedEndsOnlyALoadedRunningFile) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  snap().status = engine::PlaybackStatus::playing;
  changeFlag("eof-reached", true);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);
  session->fileLoaded = true;
  changeFlag("eof-reached", false);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);
  changeFlag("eof-reached", true);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::ended);
}

TEST_F(EventThreadTest, ValuesAndMissingValues) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  changeDouble("time-pos", 3.5);
  changeDouble("duration", 90);
  int seekable = 1;
  change("seekable", MPV_FORMAT_FLAG, &seekable);
  changeDouble("volume", 55);
  changeDouble("speed", 1.5);
  changeDouble("demuxer-cache-duration", 4);
  int64_t drops = 3, rate = 48000;
  change("frame-drop-count", MPV_FORMAT_INT64, &drops);
  change("audio-params/samplerate", MPV_FORMAT_INT64, &rate);
  changeString("video-format", "h264");
  changeString("path", nullptr);  // a null text counts as empty
  EXPECT_EQ(snap().positionSeconds, 3.5);
  EXPECT_EQ(snap().durationSeconds, 90);
  EXPECT_EQ(snap().volume, 55);
  EXPECT_EQ(snap().playbackSpeed, 1.5);
  EXPECT_EQ(snap().stats.frameDropCount, 3);
  EXPECT_EQ(snap().stats.audioSampleRateHz, 48000);
  EXPECT_EQ(snap().stats.videoCodec, "h264");
  EXPECT_EQ(snap().streamUrl, "");

  change("duration", MPV_FORMAT_NONE, nullptr);
  change("time-pos", MPV_FORMAT_NONE, nullptr);
  change("video-format", MPV_FORMAT_NONE, nullptr);
  change("frame-drop-count", MPV_FORMAT_NONE, nullptr);
  change("audio-params/samplerate", MPV_FORMAT_NONE, nullptr);
  change("demuxer-cache-duration", MPV_FORMAT_NONE, nullptr);
  EXPECT_EQ(snap().durationSeconds, 90);
  EXPECT_EQ(snap().positionSeconds, 3.5);
  EXPECT_EQ(snap().stats.videoCodec, "");
  EXPECT_EQ(snap().stats.frameDropCount, -1);
  EXPECT_EQ(snap().stats.audioSampleRateHz, 0);
  EXPECT_EQ(snap().stats.bufferedAheadSeconds, -1);

  // Wrong formats and null values are ignored.
  change("time-pos", MPV_FORMAT_DOUBLE, nullptr);
  changeString("time-pos", "7");
  EXPECT_EQ(snap().positionSeconds, 3.5);
}

TEST_F(EventThreadTest, AspectOverrideNoneReadsNo) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  changeString("video-aspect-override", "1.777778");
  EXPECT_EQ(snap().aspectOverride, "1.777778");
  changeString("video-aspect-override", "-1.000000");
  EXPECT_EQ(snap().aspectOverride, "no");
  changeString("video-aspect-override", "16:9");
  EXPECT_EQ(snap().aspectOverride, "16:9");
}

TEST_F(EventThreadTest, TrackListAndSelections) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  MpvNodeBuilder b;
  mpv_node list = b.array({
      b.map({{"type", b.string("video")}, {"id", b.integer(1)}}),
      b.map({{"type", b.string("audio")},
             {"id", b.integer(1)},
             {"lang", b.string("eng")},
             {"title", b.string("Main")},
             {"default", b.flag(true)}}),
      b.map({{"type", b.string("audio")}, {"id", b.string("2")}, {"selected", b.flag(true)}}),
      b.map({{"type", b.string("audio")}, {"id", b.string("3a")}}),
      b.map({{"type", b.string("audio")}, {"id", b.string("")}}),
      b.map({{"type", b.string("audio")}, {"id", b.integer(-1)}}),
      b.map({{"type", b.string("audio")}, {"id", b.number(4.9)}, {"forced", b.string("yes")}}),
      b.map({{"type", b.string("audio")}, {"id", b.flag(true)}}),
      b.map({{"type", b.string("audio")}}),
      b.map({{"type", b.string("sub")},
             {"id", b.integer(1)},
             {"type", b.string("audio")},  // the first "type" counts
             {"selected", b.string("true")}}),
      b.string("not a map"),
  });
  changeNode("track-list", list);
  ASSERT_EQ(snap().media.audioTracks.size(), 3u);
  EXPECT_EQ(snap().media.audioTracks[0].id, 1);
  EXPECT_EQ(snap().media.audioTracks[0].language, "eng");
  EXPECT_EQ(snap().media.audioTracks[0].title, "Main");
  EXPECT_TRUE(snap().media.audioTracks[0].defaultTrack);
  EXPECT_EQ(snap().media.audioTracks[1].id, 2);
  EXPECT_TRUE(snap().media.audioTracks[1].selected);
  EXPECT_EQ(snap().media.audioTracks[2].id, 4);
  EXPECT_TRUE(snap().media.audioTracks[2].forced);
  EXPECT_EQ(snap().media.selectedAudioTrackId, 2);
  ASSERT_EQ(snap().media.subtitleTracks.size(), 1u);
  EXPECT_EQ(snap().media.selectedSubtitleTrackId, 1);

  changeString("aid", "no");
  EXPECT_EQ(snap().media.selectedAudioTrackId, 2);
  changeString("aid", "1");
  EXPECT_EQ(snap().media.selectedAudioTrackId, 1);
  EXPECT_TRUE(snap().media.audioTracks[0].selected);
  EXPECT_FALSE(snap().media.audioTracks[1].selected);
  changeString("sid", "no");
  EXPECT_EQ(snap().media.selectedSubtitleTrackId, -1);
  EXPECT_FALSE(snap().media.subtitleTracks[0].selected);

  changeNode("track-list", b.string("not a list"));
  EXPECT_TRUE(snap().media.audioTracks.empty());
}

TEST_F(EventThreadTest, ChapterListShapesAndLimit) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  MpvNodeBuilder b;
  std::vector<mpv_node> entries;
  entries.push_back(b.map({{"time", b.string("5")}}));  // skipped, not counted
  entries.push_back(b.map({{"title", b.string("no time")}}));
  entries.push_back(b.map({{"time", b.number(std::nan(""))}}));
  entries.push_back(b.map({{"time", b.integer(2)}, {"title", b.string("Two")}}));
  for (int i = 0; i < 300; ++i) entries.push_back(b.map({{"time", b.number(10.0 + i)}}));
  changeNode("chapter-list", b.array(entries));
  ASSERT_EQ(snap().media.chapters.size(), 256u);
  EXPECT_EQ(snap().media.chapters[0].timeSeconds, 2);
  EXPECT_EQ(snap().media.chapters[0].title, "Two");
  EXPECT_EQ(snap().media.chapters[1].timeSeconds, 10);
  EXPECT_EQ(snap().media.chapters[255].timeSeconds, 264);

  changeNode("chapter-list", b.array({}));
  EXPECT_TRUE(snap().media.chapters.empty());
}

TEST_F(EventThreadTest, ChapterTitlesAreCutBeforeContinuationBytes) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  MpvNodeBuilder b;
  std::string plain(300, 'a');
  std::string split(300, 'a');
  split[254] = '\xe2';  // a three-byte sequence starting at 254
  split[255] = '\x82';
  split[256] = '\xac';
  std::string allContinuation = "a" + std::string(299, '\x80');
  std::string exact(256, 'b');
  changeNode("chapter-list",
             b.array({b.map({{"time", b.number(0)}, {"title", b.string(plain)}}),
                      b.map({{"time", b.number(1)}, {"title", b.string(split)}}),
                      b.map({{"time", b.number(2)}, {"title", b.string(allContinuation)}}),
                      b.map({{"time", b.number(3)}, {"title", b.string(exact)}})}));
  ASSERT_EQ(snap().media.chapters.size(), 4u);
  EXPECT_EQ(snap().media.chapters[0].title.size(), 256u);
  EXPECT_EQ(snap().media.chapters[1].title.size(), 254u);
  EXPECT_EQ(snap().media.chapters[2].title, "");
  EXPECT_EQ(snap().media.chapters[3].title, exact);
}

}  // namespace
