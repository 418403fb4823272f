// The playback state of a hosted session, as JavaScript reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "buffering.h"
#include "playback_status.h"
#include "recording_state.h"
#include "session_profile.h"
#include "snapshot_writer.h"
#include "stream_stats.h"
#include "tracks.h"

namespace hosted_mpv {

// Unknown values are encoded in the fields themselves (negative or empty).
struct SessionSnapshot {
  engine::PlaybackStatus status = engine::PlaybackStatus::idle;
  double positionSeconds = 0;
  double durationSeconds = -1;
  double volume = 100;  // engine scale: 100 is full volume
  std::string streamUrl;
  std::string error;
  bool errorFromEngine = false;
  std::vector<std::string> rejectedOptionKeys;
  engine::MediaLists media;
  double playbackSpeed = 1.0;
  std::string aspectOverride = "no";
  engine::StreamStats stats;
  engine::RecordingState recording;
  engine::Buffering buffering;
};

// The values the shared writer shows (snapshot_writer.h): they refer into `s`.
engine::SnapshotFields snapshotFields(const SessionSnapshot& s);

// Visits the snapshot's keys with `sink`, as engine::writeSnapshot.
template <typename Sink>
void writeSessionSnapshot(const SessionSnapshot& s, Sink& sink) {
  engine::writeSnapshot(snapshotFields(s), kSessionProfile.snapshot, sink);
}

}  // namespace hosted_mpv
