// The event thread's rules, driven with constructed engine events.
#include "event_thread.h"

#include <gtest/gtest.h>

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

  void change(const char* name, mpv_format format, void* data)
      REQUIRES(session->stateMutex, session->eventRole) {
    mpv_event_property property{name, format, data};
    handle(MPV_EVENT_PROPERTY_CHANGE, &property);
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

// The rules both players share are in tests/players/playback_rules_test.cpp;
// here what only the hosted module does: its log lines on stderr, replies,
// recording requests on their way and its track selections.

TEST_F(EventThreadTest, WarnLinesAreOnlyWrittenAndLowerLevelsNotEvenThat) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  EXPECT_EQ(log("ffmpeg", "warn", "slow\n"), "[hosted-mpv][hosted-mpv-test][warn] ffmpeg: slow\n");
  EXPECT_EQ(log(nullptr, "fatal", "gone"), "[hosted-mpv][hosted-mpv-test][fatal] mpv: gone");
  EXPECT_EQ(log("x", "info", "hello"), "");
  EXPECT_EQ(snap().error, "");
}

// A failure while a request is on its way is left to the request's reply.
TEST_F(EventThreadTest, TheRecorderFailingWhileAStopIsOnItsWayLeavesItToTheReply) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  snap().recording.active = true;
  snap().recording.targetPath = "/nope/a.mkv";
  session->recordingMachine.stop.id = 9;
  log("recorder", "error", "Failed opening output file.\n");
  EXPECT_TRUE(snap().recording.active);
  EXPECT_FALSE(session->recordingMachine.holdsFailedTarget);
}

TEST_F(EventThreadTest, RepliesMatchThePendingLoadOnly) {
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

  // Reply id 0 never matches an empty pending field.
  snap().error.clear();
  snap().status = engine::PlaybackStatus::playing;
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 0, 0);
  EXPECT_EQ(snap().error, "");
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 0, MPV_ERROR_PROPERTY_UNAVAILABLE);
  EXPECT_EQ(snap().status, engine::PlaybackStatus::playing);
  EXPECT_EQ(snap().error, mpv_error_string(MPV_ERROR_PROPERTY_UNAVAILABLE));
}

// The replies to recording requests go to the recording machine (its every
// state and input are in tests/engine/recording_machine_test.cpp); its
// refusals stay in the recording fields, never in the playback's error.
TEST_F(EventThreadTest, RecordingRepliesSettleTheirRequests) {
  threads::MutexLock lock(session->stateMutex);  // as the event thread holds them
  threads::RoleScope eventThread(session->eventRole);
  expectRecordStart(3, "/tmp/a.ts", "2024-05-01T18:30:00Z");
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 3, 0);
  EXPECT_TRUE(snap().recording.active);
  EXPECT_EQ(snap().recording.targetPath, "/tmp/a.ts");
  EXPECT_EQ(snap().recording.startedAt, "2024-05-01T18:30:00Z");
  EXPECT_EQ(session->recordingMachine.start.id, 0u);

  session->recordingMachine.stop.id = 6;
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 6, 0);
  EXPECT_FALSE(snap().recording.active);
  EXPECT_EQ(snap().recording.startedAt, "");

  expectRecordStart(4, "/nope/b.ts", "2024-05-01T18:31:00Z");
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 4, MPV_ERROR_PROPERTY_ERROR);
  EXPECT_FALSE(snap().recording.active);
  EXPECT_EQ(snap().recording.targetPath, "/nope/b.ts");
  EXPECT_EQ(snap().recording.error, mpv_error_string(MPV_ERROR_PROPERTY_ERROR));
  EXPECT_EQ(snap().error, "");

  // A refused stop of nothing running leaves nothing running.
  session->recordingMachine.stop.id = 7;
  handle(MPV_EVENT_SET_PROPERTY_REPLY, nullptr, 7, MPV_ERROR_PROPERTY_UNAVAILABLE);
  EXPECT_FALSE(snap().recording.active);
  EXPECT_EQ(snap().recording.startedAt, "");
  EXPECT_EQ(snap().recording.error, mpv_error_string(MPV_ERROR_PROPERTY_UNAVAILABLE));
  EXPECT_EQ(snap().error, "");
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
      b.map({{"type", b.string("audio")}, {"id", b.number(4.9)}, {"forced", b.string("yes")}}),
      b.map({{"type", b.string("audio")}, {"id", b.flag(true)}}),  // no id
      b.map({{"type", b.string("sub")},
             {"id", b.integer(1)},
             {"type", b.string("audio")},  // the first "type" counts
             {"selected", b.string("true")}}),
      b.string("not a map"),
  });
  changeNode("track-list", list);
  ASSERT_EQ(snap().media.audioTracks.size(), 3u);
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

}  // namespace
