// The snapshot's keys, order, omissions and shown values under both players'
// rules, for a snapshot of unknowns and one with every value known; and the
// text of every status.
#include "snapshot_writer.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "../../src/helper/helper_profile.h"
#include "../../src/hosted_mpv/session_profile.h"
#include "snapshot_text.h"

using namespace engine;

namespace {

// The two players' own rules.
const SnapshotRules& kHelperRules = frame_helper::kHelperProfile.snapshot;
const SnapshotRules& kHostedRules = hosted_mpv::kSessionProfile.snapshot;

// A player's record, as far as the snapshot reads it.
struct Record {
  PlaybackStatus status = PlaybackStatus::idle;
  double positionSeconds = 0;
  int64_t videoWidth = 0;
  int64_t videoHeight = 0;
  double durationSeconds = -1;
  double volume = 1;
  std::string streamUrl;
  MediaLists media;
  double playbackSpeed = 1;
  std::string aspectOverride = "no";
  StreamStats stats;
  RecordingState recording;
  Buffering buffering;
  std::string error;
  bool errorFromEngine = false;
  std::vector<std::string> rejectedOptionKeys;
};

std::string written(const Record& r, const SnapshotRules& rules) {
  const SnapshotFields fields{
      r.status,          r.positionSeconds, r.videoWidth,      r.videoHeight,
      r.durationSeconds, r.volume,          r.streamUrl,       r.media,
      r.playbackSpeed,   r.aspectOverride,  r.stats,           r.recording,
      r.buffering,       r.error,           r.errorFromEngine, r.rejectedOptionKeys};
  SnapshotText sink;
  writeSnapshot(fields, rules, sink);
  return sink.out;
}

// Every value known; the selected id and the list's marks disagree, so that
// the "selected" each player shows tells its source.
Record knownRecord() {
  Record r;
  r.status = PlaybackStatus::error;
  r.positionSeconds = -2;
  r.videoWidth = 640;
  r.videoHeight = 360;
  r.durationSeconds = 0;
  r.volume = 2;
  r.streamUrl = "u";
  r.media.audioTracks = {{1, "Main", "eng", true, false, false}, {2, "", "", false, true, true}};
  r.media.selectedAudioTrackId = 1;
  r.media.chapters = {{0, "Intro"}, {2.5, ""}};
  r.playbackSpeed = 0.5;
  r.aspectOverride = "16:9";
  r.stats.fps = 25;
  r.recording.targetPath = "/r.ts";
  r.recording.error = "refused";
  r.buffering.active = true;
  r.buffering.percent = 40;
  r.error = "boom";
  r.errorFromEngine = true;
  r.rejectedOptionKeys = {"hwdec", "x"};
  return r;
}

}  // namespace

TEST(SnapshotWriter, KeysOrderAndOmissionsOfBothPlayers) {
  struct Case {
    const char* name;
    Record record;
    const SnapshotRules& rules;
    const char* expected;
  };
  const Case cases[] = {
      {"helper, unknowns", Record{}, kHelperRules,
       R"(status="idle" positionSeconds=0 videoWidth=0 videoHeight=0 durationSeconds=null )"
       R"(volume=1 streamUrl="" audioTracks=[] selectedAudioTrackId=null subtitleTracks=[] )"
       R"(selectedSubtitleTrackId=null chapters=[] playbackSpeed=1 aspectOverride="no" )"
       R"(stats={} recording={active=false} buffering=false)"},
      {"hosted, unknowns", Record{}, kHostedRules,
       R"(status="idle" positionSeconds=0 durationSeconds=null volume=1 streamUrl="" )"
       R"(selectedAudioTrackId=null audioTracks=[] selectedSubtitleTrackId=null )"
       R"(subtitleTracks=[] chapters=[] playbackSpeed=1 aspectOverride="no" buffering=false)"},
      {"helper, known", knownRecord(), kHelperRules,
       R"(status="error" positionSeconds=0 videoWidth=640 videoHeight=360 durationSeconds=0 )"
       R"(volume=1.5 streamUrl="u" audioTracks=[{id=1 title="Main" language="eng" )"
       R"(selected=true defaultTrack=true forced=false} {id=2 selected=false )"
       R"(defaultTrack=false forced=true}] selectedAudioTrackId=1 subtitleTracks=[] )"
       R"(selectedSubtitleTrackId=null chapters=[{timeSeconds=0 title="Intro"} )"
       R"({timeSeconds=2.5}] playbackSpeed=0.5 aspectOverride="16:9" stats={fps=25} )"
       R"(recording={active=false targetPath="/r.ts" error="refused"} buffering=true )"
       R"(bufferingPercent=40 error="boom" errorOrigin="engine" rejectedOptionKeys=["hwdec" "x"])"},
      {"hosted, known", knownRecord(), kHostedRules,
       R"(status="error" positionSeconds=-2 durationSeconds=0 volume=2 streamUrl="u" )"
       R"(selectedAudioTrackId=1 audioTracks=[{id=1 title="Main" language="eng" )"
       R"(selected=false defaultTrack=true forced=false} {id=2 selected=true )"
       R"(defaultTrack=false forced=true}] selectedSubtitleTrackId=null subtitleTracks=[] )"
       R"(chapters=[{timeSeconds=0 title="Intro"} {timeSeconds=2.5}] playbackSpeed=0.5 )"
       R"(aspectOverride="16:9" stats={fps=25} recording={active=false targetPath="/r.ts" )"
       R"(error="refused"} buffering=true bufferingPercent=40 error="boom" errorOrigin="engine" )"
       R"(rejectedOptionKeys=["hwdec" "x"])"},
  };
  for (const Case& c : cases) EXPECT_EQ(written(c.record, c.rules), c.expected) << c.name;

  // What makes a group worth showing where empty ones are left out: a
  // start time alone is none, an unknown position is 0 only for the helper.
  Record r;
  r.recording.startedAt = "2024-01-02T03:04:05Z";
  r.stats.frameDropCount = 0;
  r.positionSeconds = std::numeric_limits<double>::quiet_NaN();
  const std::string hosted = written(r, kHostedRules);
  EXPECT_EQ(hosted.find("recording="), std::string::npos) << hosted;
  EXPECT_NE(hosted.find(" stats={droppedFrames=0} "), std::string::npos) << hosted;
  EXPECT_NE(written(r, kHelperRules).find(" positionSeconds=0 "), std::string::npos);
}

TEST(SnapshotWriter, EveryStatusByItsText) {
  const std::pair<int, const char*> cases[] = {
      {0, "idle"},  {1, "loading"}, {2, "playing"}, {3, "paused"},
      {4, "ended"}, {5, "error"},   {6, "closed"},  {42, "idle"},
  };
  for (const auto& [value, text] : cases) {
    Record r;
    r.status = static_cast<PlaybackStatus>(value);
    EXPECT_EQ(written(r, kHostedRules).rfind(std::string("status=\"") + text + "\" ", 0), 0u)
        << value;
  }
}
