// The playback snapshot as both players show it: which keys, in which order,
// what is left out while unknown, and how a value is shown. Each player
// hands its record's values as SnapshotFields; its writer (the helper's JSON
// line, the hosted module's JavaScript object) only turns what the visitor
// gives into its own values.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "buffering.h"
#include "playback_status.h"
#include "recording_state.h"
#include "stream_stats.h"
#include "tracks.h"

namespace engine {

// Where the players' snapshots differ; each player's profile
// (player_profile.h) holds its own.
struct SnapshotRules {
  bool showsPictureSize;        // "videoWidth" / "videoHeight" after the position
  bool positionNeverNegative;   // a negative or unknown position shows as 0
  double volumeCeiling;         // the largest volume shown (1 is full volume)
  bool selectedIdBeforeTracks;  // "selectedAudioTrackId" before "audioTracks", and so on
  bool trackSelectedFromId;     // a track's "selected" is its id being the selected one
  bool leavesOutEmptyGroups;    // no "stats" / "recording" object while it would be empty
};

// One snapshot's values, read from a player's record under its lock. Unknown
// values are encoded in the fields themselves (negative or empty).
struct SnapshotFields {
  PlaybackStatus status;
  double positionSeconds;
  int64_t videoWidth;  // as displayed; 0 unknown
  int64_t videoHeight;
  double durationSeconds;  // negative: unknown
  double volume;           // 1 is full volume
  const std::string& streamUrl;
  const MediaLists& media;
  double playbackSpeed;
  const std::string& aspectOverride;
  const StreamStats& stats;
  const RecordingState& recording;
  const Buffering& buffering;
  const std::string& error;
  bool errorFromEngine;
  const std::vector<std::string>& rejectedOptionKeys;  // engine options refused at creation
};

// Whether the snapshot would show any statistic.
inline bool hasKnownStat(const StreamStats& stats) {
  bool any = false;
  forEachKnownStat(
      stats, [&](const char*, double) { any = true; },
      [&](const char*, const std::string&) { any = true; });
  return any;
}

// Whether a recording has anything to show: one running, or the target or
// error of the last one.
inline bool hasRecordingToShow(const RecordingState& recording) {
  return recording.active || !recording.targetPath.empty() || !recording.error.empty();
}

namespace snapshot_detail {

template <typename Sink>
void numberOrNull(Sink& sink, const char* key, double value) {
  if (value < 0) {
    sink.null(key);
  } else {
    sink.number(key, value);
  }
}

template <typename Sink>
void tracks(Sink& sink, const SnapshotRules& rules, const char* listKey, const char* idKey,
            const std::vector<Track>& list, int64_t selectedId) {
  if (rules.selectedIdBeforeTracks) numberOrNull(sink, idKey, double(selectedId));
  sink.list(listKey, list.size(), [&](size_t i, auto& item) {
    const Track& track = list[i];
    item.number("id", double(track.id));
    if (!track.title.empty()) item.text("title", track.title);
    if (!track.language.empty()) item.text("language", track.language);
    item.boolean("selected", rules.trackSelectedFromId ? track.id == selectedId : track.selected);
    item.boolean("defaultTrack", track.defaultTrack);
    item.boolean("forced", track.forced);
  });
  if (!rules.selectedIdBeforeTracks) numberOrNull(sink, idKey, double(selectedId));
}

}  // namespace snapshot_detail

// Visits the snapshot's keys in order with `sink`, which has
//   number(key, double), text(key, std::string_view), boolean(key, bool),
//   null(key): one value;
//   object(key, fill): an object whose keys fill(Sink&) gives;
//   list(key, count, fill): an array of `count` objects, fill(index, Sink&)
//   giving each one's keys;
//   texts(key, const std::vector<std::string>&): an array of texts.
// Keys are string literals.
template <typename Sink>
void writeSnapshot(const SnapshotFields& f, const SnapshotRules& rules, Sink& sink) {
  sink.text("status", playbackStatusText(f.status));
  sink.number("positionSeconds",
              rules.positionNeverNegative ? std::fmax(f.positionSeconds, 0.0) : f.positionSeconds);
  if (rules.showsPictureSize) {
    sink.number("videoWidth", double(f.videoWidth));
    sink.number("videoHeight", double(f.videoHeight));
  }
  snapshot_detail::numberOrNull(sink, "durationSeconds", f.durationSeconds);
  sink.number("volume", std::clamp(f.volume, 0.0, rules.volumeCeiling));
  sink.text("streamUrl", f.streamUrl);
  snapshot_detail::tracks(sink, rules, "audioTracks", "selectedAudioTrackId", f.media.audioTracks,
                          f.media.selectedAudioTrackId);
  snapshot_detail::tracks(sink, rules, "subtitleTracks", "selectedSubtitleTrackId",
                          f.media.subtitleTracks, f.media.selectedSubtitleTrackId);
  const std::vector<Chapter>& chapters = f.media.chapters;
  sink.list("chapters", chapters.size(), [&](size_t i, auto& chapter) {
    chapter.number("timeSeconds", chapters[i].timeSeconds);
    if (!chapters[i].title.empty()) chapter.text("title", chapters[i].title);
  });
  sink.number("playbackSpeed", f.playbackSpeed);
  sink.text("aspectOverride", f.aspectOverride);
  if (!rules.leavesOutEmptyGroups || hasKnownStat(f.stats)) {
    sink.object("stats", [&](auto& stats) {
      forEachKnownStat(
          f.stats, [&](const char* key, double value) { stats.number(key, value); },
          [&](const char* key, const std::string& value) { stats.text(key, value); });
    });
  }
  if (!rules.leavesOutEmptyGroups || hasRecordingToShow(f.recording)) {
    sink.object("recording", [&](auto& recording) {
      const RecordingState& r = f.recording;
      recording.boolean("active", r.active);
      if (!r.targetPath.empty()) recording.text("targetPath", r.targetPath);
      if (!r.startedAt.empty()) recording.text("startedAt", r.startedAt);
      if (!r.error.empty()) recording.text("error", r.error);
    });
  }
  forEachBufferingKey(
      f.buffering, [&](const char* key, bool value) { sink.boolean(key, value); },
      [&](const char* key, double value) { sink.number(key, value); });
  if (!f.error.empty()) {
    sink.text("error", f.error);
    if (f.errorFromEngine) sink.text("errorOrigin", "engine");
  }
  if (!f.rejectedOptionKeys.empty()) sink.texts("rejectedOptionKeys", f.rejectedOptionKeys);
}

}  // namespace engine
