#include "snapshot.h"

namespace hosted_mpv {

engine::SnapshotFields snapshotFields(const SessionSnapshot& s) {
  return {
      .status = s.status,
      .positionSeconds = s.positionSeconds,
      .videoWidth = 0,  // not kept: the module shows no picture size
      .videoHeight = 0,
      .durationSeconds = s.durationSeconds,
      .volume = s.volume / 100,  // the engine's 100 is full volume
      .streamUrl = s.streamUrl,
      .media = s.media,
      .playbackSpeed = s.playbackSpeed,
      .aspectOverride = s.aspectOverride,
      .stats = s.stats,
      .recording = s.recording,
      .buffering = s.buffering,
      .error = s.error,
      .errorFromEngine = s.errorFromEngine,
      .rejectedOptionKeys = s.rejectedOptionKeys,
  };
}

}  // namespace hosted_mpv
