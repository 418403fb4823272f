// The playback state of a hosted session, as JavaScript reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
  std::vector<engine::Track> audioTracks;
  int64_t selectedAudioTrackId = -1;
  std::vector<engine::Track> subtitleTracks;
  int64_t selectedSubtitleTrackId = -1;
  std::vector<engine::Chapter> chapters;
  double playbackSpeed = 1.0;
  std::string aspectOverride = "no";
  double fps = 0;
  double videoBitrateBps = 0;
  double audioBitrateBps = 0;
  std::string videoCodec;
  std::string audioCodec;
  std::string audioChannels;
  int64_t audioSampleRateHz = 0;
  std::string container;
  double bufferedAheadSeconds = -1;
  int64_t frameDropCount = -1;
  int64_t decoderFrameDropCount = -1;
  bool recordingActive = false;
  std::string recordingTargetPath;
  std::string recordingStartedAt;
  std::string recordingError;
};

}  // namespace hosted_mpv
