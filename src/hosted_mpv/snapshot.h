// The playback state of a hosted session, as JavaScript reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "buffering.h"
#include "recording_state.h"
#include "stream_stats.h"
#include "tracks.h"

namespace hosted_mpv {

enum class SessionStatus : int32_t {
  idle = 0,
  loading = 1,
  playing = 2,
  paused = 3,
  ended = 4,
  error = 5,
  closed = 6,
};

// The exported text of a status; a value outside the table gives "idle".
const char* sessionStatusText(SessionStatus status);

// Unknown values are encoded in the fields themselves (negative or empty).
struct SessionSnapshot {
  SessionStatus status = SessionStatus::idle;
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

}  // namespace hosted_mpv
