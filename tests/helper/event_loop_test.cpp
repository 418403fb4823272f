#include "event_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "command_dispatch.h"
#include "helper_state.h"
#include "mpv_node_builder.h"
#include "player_setup.h"
#include "status_text.h"

using namespace frame_helper;

namespace {

mpv_event eventOf(mpv_event_id id, void* data = nullptr) {
  mpv_event event{};
  event.event_id = id;
  event.data = data;
  return event;
}

// Delivers one property change and says whether it marked the state dirty.
bool change(HelperState& state, const char* name, mpv_format format, void* data)
    REQUIRES(state.stateMutex, state.mainThread) {
  mpv_event_property property{name, format, data};
  state.snapshotDirty = false;
  handleEngineEventLocked(state, eventOf(MPV_EVENT_PROPERTY_CHANGE, &property));
  return state.snapshotDirty;
}

bool changeString(HelperState& state, const char* name, const char* value)
    REQUIRES(state.stateMutex, state.mainThread) {
  char* text = const_cast<char*>(value);
  return change(state, name, MPV_FORMAT_STRING, &text);
}

bool changeFlag(HelperState& state, const char* name, bool value)
    REQUIRES(state.stateMutex, state.mainThread) {
  int flag = value ? 1 : 0;
  return change(state, name, MPV_FORMAT_FLAG, &flag);
}

void endFile(HelperState& state, mpv_end_file_reason reason, int error = 0)
    REQUIRES(state.stateMutex, state.mainThread) {
  mpv_event_end_file end{};
  end.reason = reason;
  end.error = error;
  handleEngineEventLocked(state, eventOf(MPV_EVENT_END_FILE, &end));
}

std::string logEvent(HelperState& state, const char* level, const char* prefix, const char* text)
    REQUIRES(state.stateMutex, state.mainThread) {
  mpv_event_log_message message{prefix, level, text, MPV_LOG_LEVEL_WARN};
  state.snapshotDirty = false;
  testing::internal::CaptureStdout();
  handleEngineEventLocked(state, eventOf(MPV_EVENT_LOG_MESSAGE, &message));
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(EventLoop, StartFileResetsPerFileStateOnly) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  state.status = engine::PlaybackStatus::playing;
  state.error = "old";
  state.errorFromEngine = true;
  state.fileLoaded = true;
  state.videoWidth = 640;
  state.stats.fps = 30;
  state.stats.videoCodec = "h264";
  state.stats.bufferedAheadSeconds = 4;
  state.stats.frameDropCount = 3;
  state.media.audioTracks = {{1, "", "", false, false}};
  state.media.chapters = {{1, "c"}};
  state.media.selectedAudioTrackId = 1;
  state.positionSeconds = 9;
  state.durationSeconds = 20;
  state.streamUrl = "u";
  state.volume = 0.5;
  state.paused = true;
  state.recording.active = true;
  handleEngineEventLocked(state, eventOf(MPV_EVENT_START_FILE));
  EXPECT_EQ(state.status, "loading");
  EXPECT_EQ(state.error, "");
  EXPECT_FALSE(state.errorFromEngine);
  EXPECT_FALSE(state.fileLoaded);
  EXPECT_EQ(state.videoWidth, 0);
  EXPECT_EQ(state.stats.fps, 0);
  EXPECT_EQ(state.stats.videoCodec, "");
  EXPECT_EQ(state.stats.bufferedAheadSeconds, -1);
  EXPECT_EQ(state.stats.frameDropCount, -1);
  EXPECT_TRUE(state.media.audioTracks.empty());
  EXPECT_TRUE(state.media.chapters.empty());
  EXPECT_EQ(state.media.selectedAudioTrackId, -1);
  // The old file's position and duration never show beside the new one.
  EXPECT_EQ(state.positionSeconds, 0);
  EXPECT_EQ(state.durationSeconds, -1);
  // Kept across the start of a file.
  EXPECT_EQ(state.streamUrl, "u");
  EXPECT_EQ(state.volume, 0.5);
  EXPECT_TRUE(state.paused);
  EXPECT_TRUE(state.recording.active);
}

TEST(EventLoop, FileLoadedFollowsPause) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  handleEngineEventLocked(state, eventOf(MPV_EVENT_FILE_LOADED));
  EXPECT_EQ(state.status, "playing");
  EXPECT_TRUE(state.fileLoaded);
  state.paused = true;
  handleEngineEventLocked(state, eventOf(MPV_EVENT_FILE_LOADED));
  EXPECT_EQ(state.status, "paused");
}

TEST(EventLoop, PauseAgainstEachStatus) {
  struct Case {
    const char* status;
    bool fileLoaded;
    bool pause;
    const char* expected;
  };
  const Case cases[] = {
      {"playing", true, true, "paused"},  {"paused", true, false, "playing"},
      {"idle", true, true, "paused"},     {"closed", true, true, "paused"},
      {"loading", true, true, "loading"}, {"ended", true, true, "ended"},
      {"error", true, false, "error"},    {"idle", false, true, "idle"},
  };
  for (const Case& c : cases) {
    HelperState state;
    threads::MutexLock lock(state.stateMutex);
    threads::RoleScope mainThread(state.mainThread);
    state.status = engine::statusNamed(c.status);
    state.fileLoaded = c.fileLoaded;
    EXPECT_TRUE(changeFlag(state, "pause", c.pause));
    EXPECT_EQ(state.status, c.expected) << c.status << " pause=" << c.pause;
    EXPECT_EQ(state.paused, c.pause);
  }
}

TEST(EventLoop, EofReachedNeedsALoadedFile) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  state.status = engine::PlaybackStatus::playing;
  EXPECT_TRUE(changeFlag(state, "eof-reached", true));
  EXPECT_EQ(state.status, "playing");
  state.fileLoaded = true;
  changeFlag(state, "eof-reached", false);
  EXPECT_EQ(state.status, "playing");
  changeFlag(state, "eof-reached", true);
  EXPECT_EQ(state.status, "ended");
}

TEST(EventLoop, EndOfFileWhileRunning) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  endFile(state, MPV_END_FILE_REASON_EOF);
  EXPECT_EQ(state.status, "ended");
  endFile(state, MPV_END_FILE_REASON_STOP);
  EXPECT_EQ(state.status, "idle");
  endFile(state, MPV_END_FILE_REASON_ERROR, 0);
  EXPECT_EQ(state.status, "error");
  EXPECT_EQ(state.error, "Playback failed.");
  endFile(state, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
  EXPECT_EQ(state.error, mpv_error_string(MPV_ERROR_LOADING_FAILED));
  state.errorFromEngine = true;
  state.fileLoaded = true;
  endFile(state, MPV_END_FILE_REASON_REDIRECT);
  EXPECT_EQ(state.status, "loading");
  EXPECT_EQ(state.error, "");
  EXPECT_FALSE(state.errorFromEngine);
  EXPECT_FALSE(state.fileLoaded);
  state.status = engine::PlaybackStatus::playing;
  handleEngineEventLocked(state, eventOf(MPV_EVENT_END_FILE));  // no data
  EXPECT_EQ(state.status, "idle");
}

TEST(EventLoop, EndOfFileAfterRunningWasCleared) {
  for (mpv_end_file_reason reason : {MPV_END_FILE_REASON_EOF, MPV_END_FILE_REASON_REDIRECT,
                                     MPV_END_FILE_REASON_QUIT, MPV_END_FILE_REASON_STOP}) {
    HelperState state;
    threads::MutexLock lock(state.stateMutex);
    threads::RoleScope mainThread(state.mainThread);
    state.running = false;
    state.status = engine::PlaybackStatus::playing;
    state.snapshotDirty = false;
    endFile(state, reason);
    EXPECT_EQ(state.status, "playing") << reason;
    EXPECT_TRUE(state.snapshotDirty);
  }
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  state.running = false;
  state.status = engine::PlaybackStatus::playing;
  handleEngineEventLocked(state, eventOf(MPV_EVENT_END_FILE));
  EXPECT_EQ(state.status, "playing");
  endFile(state, MPV_END_FILE_REASON_ERROR, 0);
  EXPECT_EQ(state.status, "error");
  EXPECT_EQ(state.error, "Playback failed.");
}

TEST(EventLoop, ShutdownClosesAndStopsTheLoop) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  handleEngineEventLocked(state, eventOf(MPV_EVENT_SHUTDOWN));
  EXPECT_EQ(state.status, "closed");
  EXPECT_FALSE(state.running.load());
}

TEST(EventLoop, IgnoredEventsChangeNothing) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  state.snapshotDirty = false;
  handleEngineEventLocked(state, eventOf(MPV_EVENT_PLAYBACK_RESTART));
  handleEngineEventLocked(state, eventOf(MPV_EVENT_COMMAND_REPLY));
  EXPECT_FALSE(state.snapshotDirty);
  EXPECT_EQ(state.status, "idle");
}

TEST(EventLoop, LogLinesByLevel) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  EXPECT_EQ(
      logEvent(state, "warn", "ffmpeg", "careful\n"),
      "{\"event\":\"log\",\"level\":\"warn\",\"prefix\":\"ffmpeg\",\"text\":\"careful\\n\"}\n");
  EXPECT_FALSE(state.snapshotDirty);
  EXPECT_EQ(state.error, "");

  // After a failed load, error and fatal lines are its words but never set
  // the status (while loading they are held: see the next test).
  state.status = engine::PlaybackStatus::error;
  EXPECT_EQ(logEvent(state, "error", nullptr, "bad"),
            "{\"event\":\"log\",\"level\":\"error\",\"prefix\":\"mpv\",\"text\":\"bad\"}\n");
  EXPECT_TRUE(state.snapshotDirty);
  EXPECT_EQ(state.error, "bad");
  EXPECT_EQ(state.status, "error");
  EXPECT_FALSE(state.errorFromEngine);

  logEvent(state, "fatal", "cplayer", "worse");
  EXPECT_EQ(state.error, "worse");
  EXPECT_EQ(state.status, "error");
  EXPECT_TRUE(state.errorFromEngine);

  // Missing parts: no line, no change.
  EXPECT_EQ(logEvent(state, nullptr, "x", "t"), "");
  EXPECT_EQ(logEvent(state, "error", "x", nullptr), "");
  testing::internal::CaptureStdout();
  handleEngineEventLocked(state, eventOf(MPV_EVENT_LOG_MESSAGE));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(state.error, "worse");
}

TEST(EventLoop, ErrorLinesNameOnlyALoadThatHasNotStartedPlaying) {
  // Written out in every status; they touch the snapshot only while loading
  // or failed.
  for (const char* status : {"idle", "playing", "paused", "ended", "closed"}) {
    HelperState state;
    threads::MutexLock lock(state.stateMutex);
    threads::RoleScope mainThread(state.mainThread);
    state.status = engine::statusNamed(status);
    state.fileLoaded = true;
    EXPECT_NE(logEvent(state, "fatal", "ao/jack", "cannot open server\n"), "");
    logEvent(state, "error", "vd", "probing failed\n");
    EXPECT_EQ(state.status, status);
    EXPECT_EQ(state.error, "") << status;
    EXPECT_FALSE(state.errorFromEngine);
  }

  // Probing: outputs and decoders tried in turn while opening, then the file
  // plays. Nothing of it stays.
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  handleEngineEventLocked(state, eventOf(MPV_EVENT_START_FILE));
  logEvent(state, "fatal", "ao/jack", "cannot open server\n");
  logEvent(state, "error", "vd", "Could not create device.\n");
  EXPECT_EQ(state.status, "loading");
  EXPECT_EQ(state.error, "");  // while loading, a line may be a late one of the load before
  handleEngineEventLocked(state, eventOf(MPV_EVENT_FILE_LOADED));
  EXPECT_EQ(state.status, "playing");
  EXPECT_EQ(state.error, "");
  EXPECT_FALSE(state.errorFromEngine);

  // A load that fails keeps the engine's own fatal words ...
  handleEngineEventLocked(state, eventOf(MPV_EVENT_START_FILE));
  logEvent(state, "fatal", "cplayer", "No video or audio streams selected.\n");
  endFile(state, MPV_END_FILE_REASON_ERROR, MPV_ERROR_NOTHING_TO_PLAY);
  EXPECT_EQ(state.status, "error");
  EXPECT_EQ(state.error, "No video or audio streams selected.\n");
  EXPECT_TRUE(state.errorFromEngine);
  // ... and without one, the code's text, which a line arriving after the
  // event (the engine's own words come late) replaces.
  handleEngineEventLocked(state, eventOf(MPV_EVENT_START_FILE));
  logEvent(state, "error", "ffmpeg", "probe warning\n");
  endFile(state, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
  EXPECT_EQ(state.error, mpv_error_string(MPV_ERROR_LOADING_FAILED));
  EXPECT_FALSE(state.errorFromEngine);
  logEvent(state, "error", "stream", "Failed to open /missing.mkv.\n");
  EXPECT_EQ(state.status, "error");
  EXPECT_EQ(state.error, "Failed to open /missing.mkv.\n");
}

TEST(EventLoop, LateErrorLineOfAReplacedLoadNeverReachesTheNextFile) {
  // The engine delivers log lines after the events that followed them: the
  // refused load's line may come after the next file's start, or after it
  // has loaded.
  const char* late = "Failed to open /nonexistent.\n";
  {
    HelperState state;
    threads::MutexLock lock(state.stateMutex);
    threads::RoleScope mainThread(state.mainThread);
    handleEngineEventLocked(state, eventOf(MPV_EVENT_START_FILE));
    endFile(state, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
    handleEngineEventLocked(state, eventOf(MPV_EVENT_START_FILE));
    logEvent(state, "error", "stream", late);
    handleEngineEventLocked(state, eventOf(MPV_EVENT_FILE_LOADED));
    EXPECT_EQ(state.status, "playing");
    EXPECT_EQ(state.error, "");
  }
  {
    HelperState state;
    threads::MutexLock lock(state.stateMutex);
    threads::RoleScope mainThread(state.mainThread);
    handleEngineEventLocked(state, eventOf(MPV_EVENT_START_FILE));
    handleEngineEventLocked(state, eventOf(MPV_EVENT_FILE_LOADED));
    logEvent(state, "error", "stream", late);
    logEvent(state, "fatal", "stream", late);
    EXPECT_EQ(state.status, "playing");
    EXPECT_EQ(state.error, "");
    EXPECT_FALSE(state.errorFromEngine);
  }
  {
    // Paused by the caller: the file comes up paused, just as clean.
    HelperState state;
    threads::MutexLock lock(state.stateMutex);
    threads::RoleScope mainThread(state.mainThread);
    state.paused = true;
    handleEngineEventLocked(state, eventOf(MPV_EVENT_START_FILE));
    logEvent(state, "error", "stream", late);
    handleEngineEventLocked(state, eventOf(MPV_EVENT_FILE_LOADED));
    EXPECT_EQ(state.status, "paused");
    EXPECT_EQ(state.error, "");
  }
}

TEST(EventLoop, RecorderErrorEndsAnActiveRecording) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  state.recording.active = true;
  state.recording.targetPath = "/nope/r.ts";
  state.recording.startedAt = "2024-01-01T00:00:00Z";
  logEvent(state, "warn", "recorder", "experimental\n");
  EXPECT_TRUE(state.recording.active);
  logEvent(state, "error", "recorder", "Failed opening output file.\n");
  EXPECT_FALSE(state.recording.active);
  EXPECT_EQ(state.recording.startedAt, "");
  EXPECT_EQ(state.recording.targetPath, "/nope/r.ts");
  EXPECT_EQ(state.recording.error, "Failed opening output file.");
  // Not recording: a recorder error leaves the recording fields alone.
  state.recording.error.clear();
  logEvent(state, "error", "recorder", "again\n");
  EXPECT_EQ(state.recording.error, "");
}

TEST(EventLoop, PropertyValues) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  double seconds = 4.5;
  EXPECT_TRUE(change(state, "time-pos", MPV_FORMAT_DOUBLE, &seconds));
  EXPECT_EQ(state.positionSeconds, 4.5);
  double volume = 55;
  change(state, "volume", MPV_FORMAT_DOUBLE, &volume);
  EXPECT_DOUBLE_EQ(state.volume, 0.55);
  changeString(state, "path", "/media/a.mkv");
  EXPECT_EQ(state.streamUrl, "/media/a.mkv");
  EXPECT_TRUE(changeString(state, "path", nullptr));
  EXPECT_EQ(state.streamUrl, "");
  int64_t rate = 48000;
  change(state, "audio-params/samplerate", MPV_FORMAT_INT64, &rate);
  EXPECT_EQ(state.stats.audioSampleRateHz, 48000);
  changeString(state, "file-format", "mkv");
  EXPECT_EQ(state.stats.container, "mkv");
}

TEST(EventLoop, WrongFormatOrMissingValueChangesNothing) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  int64_t whole = 3;
  EXPECT_FALSE(change(state, "time-pos", MPV_FORMAT_INT64, &whole));
  EXPECT_FALSE(change(state, "time-pos", MPV_FORMAT_DOUBLE, nullptr));
  EXPECT_FALSE(change(state, "no-such-property", MPV_FORMAT_INT64, &whole));
  EXPECT_EQ(state.positionSeconds, 0);
}

TEST(EventLoop, UnavailableProperties) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  state.positionSeconds = 7;
  state.durationSeconds = 9;
  state.volume = 0.3;
  state.media.chapters = {{1, ""}};
  for (const char* name :
       {"time-pos", "duration", "pause", "volume", "path", "track-list", "aid", "sid", "speed",
        "video-aspect-override", "eof-reached", "chapter-list"}) {
    EXPECT_FALSE(change(state, name, MPV_FORMAT_NONE, nullptr)) << name;
  }
  EXPECT_EQ(state.positionSeconds, 7);
  EXPECT_EQ(state.durationSeconds, 9);
  EXPECT_EQ(state.media.chapters.size(), 1u);

  state.stats.fps = 30;
  state.stats.videoBitrateBps = 1;
  state.stats.audioBitrateBps = 1;
  state.stats.bufferedAheadSeconds = 2;
  state.stats.audioSampleRateHz = 44100;
  state.stats.frameDropCount = 1;
  state.stats.decoderFrameDropCount = 1;
  state.stats.videoCodec = state.stats.audioCodec = state.stats.audioChannels = state.stats.container = "x";
  for (const char* name :
       {"estimated-vf-fps", "video-bitrate", "audio-bitrate", "demuxer-cache-duration",
        "audio-params/samplerate", "frame-drop-count", "decoder-frame-drop-count", "video-format",
        "audio-codec-name", "audio-params/channels", "file-format"}) {
    EXPECT_TRUE(change(state, name, MPV_FORMAT_NONE, nullptr)) << name;
  }
  EXPECT_EQ(state.stats.fps, 0);
  EXPECT_EQ(state.stats.videoBitrateBps, 0);
  EXPECT_EQ(state.stats.audioBitrateBps, 0);
  EXPECT_EQ(state.stats.bufferedAheadSeconds, -1);
  EXPECT_EQ(state.stats.audioSampleRateHz, 0);
  EXPECT_EQ(state.stats.frameDropCount, -1);
  EXPECT_EQ(state.stats.decoderFrameDropCount, -1);
  EXPECT_EQ(state.stats.videoCodec + state.stats.audioCodec + state.stats.audioChannels + state.stats.container, "");
}

TEST(EventLoop, AspectOverrideText) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  changeString(state, "video-aspect-override", "16:9");
  EXPECT_EQ(state.aspectOverride, "16:9");
  for (const char* text : {"0", "-1", "abc", ""}) {
    state.aspectOverride = "4:3";
    changeString(state, "video-aspect-override", text);
    EXPECT_EQ(state.aspectOverride, "no") << text;
  }
  changeString(state, "video-aspect-override", "2.35");
  EXPECT_EQ(state.aspectOverride, "2.35");
}

TEST(EventLoop, TrackSelections) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  changeString(state, "aid", "3");
  EXPECT_EQ(state.media.selectedAudioTrackId, 3);
  for (const char* text : {"no", "auto", "3x"}) {
    state.media.selectedAudioTrackId = 3;
    changeString(state, "aid", text);
    EXPECT_EQ(state.media.selectedAudioTrackId, -1) << text;
  }
  changeString(state, "sid", "2");
  EXPECT_EQ(state.media.selectedSubtitleTrackId, 2);
  EXPECT_TRUE(changeString(state, "sid", nullptr));
  EXPECT_EQ(state.media.selectedSubtitleTrackId, -1);
}

TEST(EventLoop, TrackAndChapterLists) {
  MpvNodeBuilder b;
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  mpv_node tracks = b.array({
      b.map({{"type", b.string("video")}, {"id", b.integer(1)}}),
      b.map({{"type", b.string("audio")}, {"id", b.integer(1)}, {"lang", b.string("eng")}}),
      b.map({{"type", b.string("audio")}, {"id", b.integer(2)}, {"lang", b.string("deu")}}),
      b.map({{"type", b.string("sub")}, {"id", b.integer(1)}, {"forced", b.flag(true)}}),
      b.integer(5),
  });
  EXPECT_TRUE(change(state, "track-list", MPV_FORMAT_NODE, &tracks));
  ASSERT_EQ(state.media.audioTracks.size(), 2u);
  EXPECT_EQ(state.media.audioTracks[1].language, "deu");
  ASSERT_EQ(state.media.subtitleTracks.size(), 1u);
  EXPECT_TRUE(state.media.subtitleTracks[0].forced);

  // Not an array: both lists stay, yet the change counts.
  mpv_node notArray = b.map({{"type", b.string("audio")}, {"id", b.integer(9)}});
  EXPECT_TRUE(change(state, "track-list", MPV_FORMAT_NODE, &notArray));
  EXPECT_EQ(state.media.audioTracks.size(), 2u);
  EXPECT_EQ(state.media.subtitleTracks.size(), 1u);

  mpv_node chapters = b.array({b.map({{"time", b.number(1)}, {"title", b.string("One")}})});
  change(state, "chapter-list", MPV_FORMAT_NODE, &chapters);
  ASSERT_EQ(state.media.chapters.size(), 1u);
  // Not an array: the chapters are emptied.
  EXPECT_TRUE(change(state, "chapter-list", MPV_FORMAT_NODE, &notArray));
  EXPECT_TRUE(state.media.chapters.empty());
}

TEST(EventLoop, VideoSizeChangesRequestANewRenderSize) {
  // The render size is fitted from the state and handed to its own pipeline.
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  state.renderWidth = 1280;
  state.renderHeight = 720;
  int64_t width = 1920;
  int64_t height = 800;
  change(state, "dwidth", MPV_FORMAT_INT64, &width);
  EXPECT_TRUE(change(state, "dheight", MPV_FORMAT_INT64, &height));
  {
    threads::MutexLock pipelineLock(state.pipeline.mutex);
    EXPECT_EQ(state.pipeline.pendingWidth, 1280);
    EXPECT_EQ(state.pipeline.pendingHeight, 532);
    EXPECT_TRUE(state.pipeline.updatePending);

    // The video size becoming unknown hands over the box as it is.
    state.pipeline.pendingWidth = state.pipeline.pendingHeight = 0;
  }
  EXPECT_TRUE(change(state, "dwidth", MPV_FORMAT_NONE, nullptr));
  EXPECT_EQ(state.videoWidth, 0);
  threads::MutexLock pipelineLock(state.pipeline.mutex);
  EXPECT_EQ(state.pipeline.pendingWidth, 1280);
  EXPECT_EQ(state.pipeline.pendingHeight, 720);
}

TEST(EventLoop, RotationTurnsTheDisplayedSizeAndTheRing) {
  // A 640x360 phone clip turned a quarter: upright it is 360x640, and in a
  // 1280x720 box it fills a 405x720 ring (made even: 404).
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  state.renderWidth = 1280;
  state.renderHeight = 720;
  int64_t width = 640;
  int64_t height = 360;
  change(state, "dwidth", MPV_FORMAT_INT64, &width);
  change(state, "dheight", MPV_FORMAT_INT64, &height);
  struct Case {
    int64_t degrees;
    int64_t wantWidth, wantHeight;
    int32_t ringWidth, ringHeight;
  };
  for (const Case& c : {Case{90, 360, 640, 404, 720}, Case{180, 640, 360, 1280, 720},
                        Case{270, 360, 640, 404, 720}, Case{0, 640, 360, 1280, 720}}) {
    int64_t degrees = c.degrees;
    EXPECT_TRUE(change(state, "video-out-params/rotate", MPV_FORMAT_INT64, &degrees));
    EXPECT_EQ(state.videoWidth, c.wantWidth) << c.degrees;
    EXPECT_EQ(state.videoHeight, c.wantHeight) << c.degrees;
    threads::MutexLock pipelineLock(state.pipeline.mutex);
    EXPECT_EQ(state.pipeline.pendingWidth, c.ringWidth) << c.degrees;
    EXPECT_EQ(state.pipeline.pendingHeight, c.ringHeight) << c.degrees;
  }
  // The rotation is the file's, not the load's: it stays across a start and
  // applies to the next size; unavailable means upright.
  int64_t quarter = 90;
  change(state, "video-out-params/rotate", MPV_FORMAT_INT64, &quarter);
  handleEngineEventLocked(state, eventOf(MPV_EVENT_START_FILE));
  change(state, "dwidth", MPV_FORMAT_INT64, &width);
  change(state, "dheight", MPV_FORMAT_INT64, &height);
  EXPECT_EQ(state.videoWidth, 360);
  EXPECT_TRUE(change(state, "video-out-params/rotate", MPV_FORMAT_NONE, nullptr));
  EXPECT_EQ(state.videoWidth, 640);
  EXPECT_EQ(state.videoHeight, 360);
}

namespace {

// Lines captured from stdout that are snapshots.
std::vector<std::string> snapshotLines(const std::string& output) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    if (line.starts_with("{\"event\":\"snapshot\"")) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

TEST(EventLoopThreads, SnapshotsOnTimeoutsAndStopsWhenQuitArrives) {
  HelperState state;
  threads::RoleScope mainThread(state.mainThread);  // this thread runs the loop
  std::set<std::string> applied;
  std::string error;
  std::FILE* none = std::fopen("/dev/null", "r");
  ASSERT_TRUE(setupPlayer(state, HelperArgs{}, none, applied, error)) << error;
  std::fclose(none);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::FILE* input = fdopen(fds[0], "r");
  testing::internal::CaptureStdout();
  std::thread reader(runStdinLoop, std::ref(state), input);
  std::thread driver([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    {
      // A state change with no engine event behind it: only the loop's
      // time-outs give the snapshot rule its chance.
      threads::MutexLock lock(state.stateMutex);
      state.status = engine::PlaybackStatus::loading;
      state.snapshotDirty = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const char quit[] = "quit\n";
    ASSERT_EQ(write(fds[1], quit, sizeof quit - 1), static_cast<ssize_t>(sizeof quit - 1));
  });
  const auto start = std::chrono::steady_clock::now();
  runEventLoop(state);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  driver.join();
  reader.join();
  const std::vector<std::string> snapshots = snapshotLines(testing::internal::GetCapturedStdout());
  close(fds[1]);
  std::fclose(input);
  mpv_terminate_destroy(state.mpv);

  // The loop ended soon after quit (well before another 0.1 s wait could
  // matter), and both statuses were reported.
  EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
  EXPECT_FALSE(state.running.load());
  ASSERT_GE(snapshots.size(), 2u);
  EXPECT_NE(snapshots.front().find("\"status\":\"idle\""), std::string::npos);
  EXPECT_NE(snapshots.back().find("\"status\":\"loading\""), std::string::npos);
}
