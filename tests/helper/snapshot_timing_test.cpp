#include "snapshot_timing.h"

#include <gtest/gtest.h>

#include <string>

#include "status_text.h"

using namespace frame_helper;

namespace {

const char kIdleSnapshot[] =
    R"({"event":"snapshot","status":"idle","positionSeconds":0,"videoWidth":0,"videoHeight":0,)"
    R"("durationSeconds":null,"volume":1,"streamUrl":"","audioTracks":[],)"
    R"("selectedAudioTrackId":null,"subtitleTracks":[],"selectedSubtitleTrackId":null,)"
    R"("chapters":[],"playbackSpeed":1,"aspectOverride":"no","stats":{},)"
    R"("recording":{"active":false},"buffering":false})";

}  // namespace

TEST(SnapshotBody, EveryKeyInOrderWithPresenceRules) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);
  state.status = engine::PlaybackStatus::playing;
  state.positionSeconds = 12.25;
  state.videoWidth = 1920;
  state.videoHeight = 1080;
  state.durationSeconds = 0;
  state.volume = 2;  // engine volume 200
  state.streamUrl = "http://h/a\"b";
  state.media.audioTracks = {{1, "Main", "eng", true, false}, {2, "", "", false, false}};
  state.media.selectedAudioTrackId = 1;
  state.media.subtitleTracks = {{3, "Forced", "", false, true}};
  state.media.selectedSubtitleTrackId = -1;
  state.media.chapters = {{0, "Intro"}, {2500000, ""}};
  state.playbackSpeed = 1.5;
  state.aspectOverride = "16:9";
  state.stats.fps = 29.97;
  state.stats.videoBitrateBps = 2500000;
  state.stats.audioCodec = "aac";
  state.stats.audioSampleRateHz = 48000;
  state.stats.container = "matroska";
  state.stats.bufferedAheadSeconds = 0;
  state.stats.frameDropCount = -1;
  state.stats.decoderFrameDropCount = 5;
  state.recording.active = true;
  state.recording.targetPath = "/tmp/r.ts";
  state.recording.startedAt = "2024-01-02T03:04:05Z";
  state.buffering.active = true;
  state.buffering.percent = 40;
  state.error = "x";
  state.errorFromEngine = true;
  EXPECT_EQ(
      snapshotBodyLocked(state),
      R"({"event":"snapshot","status":"playing","positionSeconds":12.25,)"
      R"("videoWidth":1920,"videoHeight":1080,"durationSeconds":0,"volume":1.5,)"
      R"("streamUrl":"http://h/a\"b","audioTracks":[)"
      R"({"id":1,"title":"Main","language":"eng","selected":true,"defaultTrack":true,"forced":false},)"
      R"({"id":2,"selected":false,"defaultTrack":false,"forced":false}],)"
      R"("selectedAudioTrackId":1,"subtitleTracks":[)"
      R"({"id":3,"title":"Forced","selected":false,"defaultTrack":false,"forced":true}],)"
      R"("selectedSubtitleTrackId":null,"chapters":[{"timeSeconds":0,"title":"Intro"},)"
      R"({"timeSeconds":2.5e+06}],"playbackSpeed":1.5,"aspectOverride":"16:9",)"
      R"("stats":{"fps":29.97,"videoBitrateBps":2.5e+06,"audioCodec":"aac",)"
      R"("audioSampleRateHz":48000,"container":"matroska","bufferedAheadSeconds":0,)"
      R"("droppedFrames":5},"recording":{"active":true,"targetPath":"/tmp/r.ts",)"
      R"("startedAt":"2024-01-02T03:04:05Z"},"buffering":true,"bufferingPercent":40,)"
      R"("error":"x","errorOrigin":"engine"})");
}

TEST(SnapshotBody, ClampsAndOmissions) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);
  // (The position's clamps are the writer's: tests/engine/snapshot_writer_test.cpp.)
  state.volume = -0.5;
  EXPECT_NE(snapshotBodyLocked(state).find(R"("volume":0,)"), std::string::npos);

  // Every statistic and recording detail present, then the error without
  // an engine origin; a stopped recording keeps its last path.
  state.stats.fps = 25;
  state.stats.videoBitrateBps = 1;
  state.stats.audioBitrateBps = 2;
  state.stats.videoCodec = "h264";
  state.stats.audioCodec = "opus";
  state.stats.audioChannels = "stereo";
  state.stats.audioSampleRateHz = 44100;
  state.stats.container = "mp4";
  state.stats.bufferedAheadSeconds = 3.5;
  state.stats.frameDropCount = 2;
  state.stats.decoderFrameDropCount = 3;
  state.recording.targetPath = "/r.ts";
  state.recording.error = "refused";
  state.buffering.percent = 100;  // the fill is shown only while waiting
  state.error = "Playback failed.";
  const std::string body = snapshotBodyLocked(state);
  EXPECT_NE(body.find(R"("stats":{"fps":25,"videoBitrateBps":1,"audioBitrateBps":2,)"
                      R"("videoCodec":"h264","audioCodec":"opus","audioChannels":"stereo",)"
                      R"("audioSampleRateHz":44100,"container":"mp4","bufferedAheadSeconds":3.5,)"
                      R"("droppedFrames":5})"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find(R"("recording":{"active":false,"targetPath":"/r.ts","error":"refused"})"),
            std::string::npos)
      << body;
  EXPECT_TRUE(body.ends_with(R"(,"buffering":false,"error":"Playback failed."})")) << body;
}

TEST(SnapshotPacing, FirstCallWritesThenOnlyChangesWithinTheInterval) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);
  const int64_t t0 = 5'000'000'000;
  auto first = takeSnapshotLocked(state, false, t0);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(*first, kIdleSnapshot);  // the start-up state, byte for byte
  EXPECT_FALSE(state.snapshotDirty);
  EXPECT_EQ(state.lastSnapshotStatus, "idle");
  EXPECT_EQ(state.lastSnapshotNs, t0);

  // Nothing changed: nothing written, even long after.
  EXPECT_FALSE(takeSnapshotLocked(state, false, t0 + 10 * kSnapshotIntervalNs));

  // A change without a status change waits for the 250 ms floor.
  state.positionSeconds = 1;
  state.snapshotDirty = true;
  EXPECT_FALSE(takeSnapshotLocked(state, false, t0 + kSnapshotIntervalNs - 1));
  EXPECT_TRUE(state.snapshotDirty);
  EXPECT_TRUE(takeSnapshotLocked(state, false, t0 + kSnapshotIntervalNs));
  EXPECT_FALSE(state.snapshotDirty);

  // A status change goes out at once, however young the last snapshot.
  const int64_t t1 = t0 + kSnapshotIntervalNs;
  state.status = engine::PlaybackStatus::loading;
  state.snapshotDirty = true;
  auto loading = takeSnapshotLocked(state, false, t1 + 1);
  ASSERT_TRUE(loading.has_value());
  EXPECT_NE(loading->find(R"("status":"loading")"), std::string::npos);

  // A wait for data starting or ending goes out at once too.
  state.buffering.active = true;
  state.snapshotDirty = true;
  auto waiting = takeSnapshotLocked(state, false, t1 + 2);
  ASSERT_TRUE(waiting.has_value());
  EXPECT_NE(waiting->find(R"("buffering":true)"), std::string::npos);
  state.buffering.active = false;
  state.snapshotDirty = true;
  EXPECT_TRUE(takeSnapshotLocked(state, false, t1 + 3));

  // Forced: written even when clean and young.
  EXPECT_TRUE(takeSnapshotLocked(state, true, t1 + 4));
}

TEST(SnapshotPacing, PositionUpdatesEvery50msGiveAtMostFourPerSecond) {
  HelperState state;
  threads::MutexLock lock(state.stateMutex);
  int written = 0;
  for (int64_t t = 0; t <= 2'000'000'000; t += 50'000'000) {
    state.positionSeconds = t / 1e9;
    state.snapshotDirty = true;
    if (takeSnapshotLocked(state, false, 1'000'000'000 + t)) ++written;
  }
  // The first write, then one per 250 ms over two seconds.
  EXPECT_EQ(written, 9);
}
