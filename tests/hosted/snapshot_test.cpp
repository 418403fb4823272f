#include <gtest/gtest.h>

#include "session.h"
#include "snapshot_text.h"

using namespace hosted_mpv;

// The module's own rules on its record: the key order and omissions its
// callers read, the engine's volume scale turned into theirs.
TEST(SessionSnapshot, WrittenWithTheModulesRules) {
  SessionSnapshot s;
  SnapshotText idle;
  writeSessionSnapshot(s, idle);
  EXPECT_EQ(idle.out,
            R"(status="idle" positionSeconds=0 durationSeconds=null volume=1 streamUrl="" )"
            R"(selectedAudioTrackId=null audioTracks=[] selectedSubtitleTrackId=null )"
            R"(subtitleTracks=[] chapters=[] playbackSpeed=1 aspectOverride="no" buffering=false)");

  s.status = engine::PlaybackStatus::closed;
  s.volume = 130;
  s.media.subtitleTracks = {{4, "", "de", false, false, true}};
  s.media.selectedSubtitleTrackId = 4;
  s.recording.active = true;
  s.rejectedOptionKeys = {"hwdec"};
  SnapshotText closed;
  writeSessionSnapshot(s, closed);
  EXPECT_EQ(closed.out,
            R"(status="closed" positionSeconds=0 durationSeconds=null volume=1.3 streamUrl="" )"
            R"(selectedAudioTrackId=null audioTracks=[] selectedSubtitleTrackId=4 )"
            R"(subtitleTracks=[{id=4 language="de" selected=true defaultTrack=false )"
            R"(forced=false}] chapters=[] playbackSpeed=1 aspectOverride="no" )"
            R"(recording={active=true} buffering=false rejectedOptionKeys=["hwdec"])");
}

TEST(UpdateSessionError, SetsErrorStatusEvenWithAnEmptyMessage) {
  Session session;
  {
    threads::MutexLock lock(session.stateMutex);
    session.snapshot.error = "old";
  }
  updateSessionError(session, "", true);
  threads::MutexLock lock(session.stateMutex);
  EXPECT_EQ(session.snapshot.status, engine::PlaybackStatus::error);
  EXPECT_EQ(session.snapshot.error, "");
  EXPECT_TRUE(session.snapshot.errorFromEngine);
}

TEST(SessionIds, GrowAndAreNeverZero) {
  std::string first = takeSessionId();
  std::string second = takeSessionId();
  ASSERT_EQ(first.rfind("hosted-mpv-", 0), 0u);
  EXPECT_EQ(std::stoull(second.substr(11)), std::stoull(first.substr(11)) + 1);
  uint64_t a = takeAsyncRequestId();
  EXPECT_NE(a, 0u);
  EXPECT_EQ(takeAsyncRequestId(), a + 1);
}
