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
#include "helper_properties.h"
#include "helper_state.h"
#include "mpv_events.h"
#include "mpv_node_builder.h"
#include "player_setup.h"
#include "status_text.h"

using namespace frame_helper;

namespace {

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

// The rules both players share are in tests/players/playback_rules_test.cpp;
// here what only the helper does: its snapshot mark, its log lines, its
// readings of selections and aspect texts, its refused loads and its
// displayed size.

// A change or an event marks the snapshot only when it changed the state.
TEST(EventLoop, ChangesAndEventsMarkTheSnapshotOnlyWhenTheyChangeIt) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  double seconds = 4.5;
  int64_t whole = 3;
  MpvNodeBuilder b;
  mpv_node notArray = b.map({{"type", b.string("audio")}, {"id", b.integer(9)}});
  const struct {
    const char* name;
    mpv_format format;
    void* data;
    bool marks;
  } kCases[] = {
      {"time-pos", MPV_FORMAT_DOUBLE, &seconds, true},
      {"time-pos", MPV_FORMAT_INT64, &whole, false},
      {"estimated-vf-fps", MPV_FORMAT_NONE, nullptr, true},
      {"track-list", MPV_FORMAT_NODE, &notArray, true},  // counted, though it keeps the lists
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(change(state, c.name, c.format, c.data), c.marks) << c.name << " " << c.format;
  }
  EXPECT_TRUE(changeFlag(state, "pause", true));
  EXPECT_TRUE(changeFlag(state, "eof-reached", true));
  // An end of file while stopping changes no status, yet is shown.
  state.running = false;
  state.snapshotDirty = false;
  endFile(state, MPV_END_FILE_REASON_EOF);
  EXPECT_TRUE(state.snapshotDirty);
  // Events the helper ignores change nothing.
  state.snapshotDirty = false;
  state.status = engine::PlaybackStatus::idle;
  handleEngineEventLocked(state, eventOf(MPV_EVENT_PLAYBACK_RESTART));
  handleEngineEventLocked(state, eventOf(MPV_EVENT_COMMAND_REPLY));
  EXPECT_FALSE(state.snapshotDirty);
  EXPECT_EQ(state.status, "idle");
}

// Every line is written out as a "log" line; error and fatal lines also
// mark the snapshot (they may name a failed load).
TEST(EventLoop, LogLinesByLevel) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  EXPECT_EQ(
      logEvent(state, "warn", "ffmpeg", "careful\n"),
      "{\"event\":\"log\",\"level\":\"warn\",\"prefix\":\"ffmpeg\",\"text\":\"careful\\n\"}\n");
  EXPECT_FALSE(state.snapshotDirty);
  state.status = engine::PlaybackStatus::error;
  EXPECT_EQ(logEvent(state, "error", nullptr, "bad"),
            "{\"event\":\"log\",\"level\":\"error\",\"prefix\":\"mpv\",\"text\":\"bad\"}\n");
  EXPECT_TRUE(state.snapshotDirty);
  EXPECT_EQ(state.error, "bad");
}

// A load the helper refuses before the engine sees it (command_dispatch.cpp)
// is the error whatever the engine then says about the file it stops.
TEST(EventLoop, ALoadRefusedBeforeTheEngineStaysTheErrorUntilTheNextFile) {
  const std::string refusal = "URL refused: scheme \"file\" is not in allowedSchemes (http)";
  for (mpv_end_file_reason reason : {MPV_END_FILE_REASON_ERROR, MPV_END_FILE_REASON_STOP}) {
    HelperState state;
    threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
    threads::RoleScope mainThread(state.mainThread);
    handleEngineEventLocked(state, eventOf(MPV_EVENT_START_FILE));
    handleEngineEventLocked(state, eventOf(MPV_EVENT_FILE_LOADED));
    engine::applyRefusal(loadStateOf(state), refusal);
    EXPECT_EQ(state.status, "error");
    logEvent(state, "fatal", "cplayer", "No protocol handler found.\n");
    logEvent(state, "error", "stream", "Failed to open.\n");
    endFile(state, reason, MPV_ERROR_LOADING_FAILED);
    changeFlag(state, "eof-reached", true);
    EXPECT_EQ(state.status, "error") << reason;
    EXPECT_EQ(state.error, refusal) << reason;
    EXPECT_FALSE(state.errorFromEngine);
    handleEngineEventLocked(state, eventOf(MPV_EVENT_START_FILE));
    endFile(state, MPV_END_FILE_REASON_ERROR, MPV_ERROR_LOADING_FAILED);
    EXPECT_EQ(state.error, mpv_error_string(MPV_ERROR_LOADING_FAILED)) << "the next file's own";
  }
}

// Any text that is no positive ratio reads "no".
TEST(EventLoop, AspectOverrideText) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);  // as the event turn holds them
  threads::RoleScope mainThread(state.mainThread);
  for (const char* text : {"0", "abc", ""}) {
    state.aspectOverride = "4:3";
    changeString(state, "video-aspect-override", text);
    EXPECT_EQ(state.aspectOverride, "no") << text;
  }
}

// The selections come from "aid" / "sid" alone; a list that is not an array
// keeps the tracks.
TEST(EventLoop, TrackSelectionsAndLists) {
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

  MpvNodeBuilder b;
  mpv_node tracks = b.array(
      {b.map({{"type", b.string("audio")}, {"id", b.integer(1)}, {"selected", b.flag(true)}})});
  state.media.selectedAudioTrackId = 3;
  change(state, "track-list", MPV_FORMAT_NODE, &tracks);
  ASSERT_EQ(state.media.audioTracks.size(), 1u);
  EXPECT_EQ(state.media.selectedAudioTrackId, 3);
  mpv_node notArray = b.map({{"type", b.string("audio")}, {"id", b.integer(9)}});
  change(state, "track-list", MPV_FORMAT_NODE, &notArray);
  EXPECT_EQ(state.media.audioTracks.size(), 1u);
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
  EXPECT_EQ(state.videoWidth, 0);  // the old file's picture is not the new one's
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
