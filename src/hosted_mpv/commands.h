// The playback control requests: each queues one asynchronous engine request
// with a fresh reply id and, once it is queued, writes the requested value
// into the snapshot, so that a snapshot taken at once shows it; the engine's
// property changes later confirm or correct it. Each returns the engine's
// status; when the engine refuses the request the snapshot is left as it was.
// Calling thread (the JavaScript thread); stateMutex is never held while the
// engine is called. Recording requests are in recording.h.
#pragma once

#include <cstdint>
#include <string>

#include "session.h"

namespace hosted_mpv {

int requestPause(Session& session, bool paused) EXCLUDES(session.stateMutex);
// To `seconds` from the start (the snapshot shows NaN and negative targets as 0).
int requestSeek(Session& session, double seconds) EXCLUDES(session.stateMutex);
// By `seconds` from the current position; the snapshot waits for the engine.
int requestSeekBy(Session& session, double seconds) EXCLUDES(session.stateMutex);
// `requested` on the caller's scale (0 to 1, clamped), sent on the engine's
// (0 to 100). NaN goes to the engine, which refuses it: the snapshot keeps
// the engine's volume.
int requestVolume(Session& session, double requested) EXCLUDES(session.stateMutex);
int requestAudioTrack(Session& session, int64_t trackId) EXCLUDES(session.stateMutex);
// A negative id turns subtitles off.
int requestSubtitleTrack(Session& session, int64_t trackId) EXCLUDES(session.stateMutex);
// Clamped to 0.25 to 4; NaN as for the volume.
int requestSpeed(Session& session, double requested) EXCLUDES(session.stateMutex);
// "" or "no" for no override.
int requestAspect(Session& session, std::string aspect) EXCLUDES(session.stateMutex);

}  // namespace hosted_mpv
