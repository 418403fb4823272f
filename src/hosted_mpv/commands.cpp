#include "commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "session_properties.h"
#include "volume.h"

namespace hosted_mpv {
namespace {

int setProperty(Session& session, const char* name, mpv_format format, void* value) {
  return mpv_set_property_async(session.mpv, takeAsyncRequestId(), name, format, value);
}

int setStringProperty(Session& session, const char* name, const std::string& text) {
  const char* value = text.c_str();
  return mpv_set_property_async(session.mpv, takeAsyncRequestId(), name, MPV_FORMAT_STRING, &value);
}

int queueSeek(Session& session, double seconds, const char* flags) {
  char target[64];
  std::snprintf(target, sizeof target, "%f", seconds);
  const char* args[] = {"seek", target, flags, nullptr};
  return mpv_command_async(session.mpv, takeAsyncRequestId(), args);
}

// A selection the engine queued (`status` not negative) shows at once in
// the snapshot's `tracks` and `selectedId`. Returns `status`.
int showSelectedTrack(Session& session, int status,
                      std::vector<engine::Track> engine::MediaLists::*tracks,
                      int64_t engine::MediaLists::*selectedId, int64_t trackId)
    EXCLUDES(session.stateMutex) {
  if (status < 0) return status;
  threads::MutexLock lock(session.stateMutex);
  engine::MediaLists& media = session.snapshot.media;
  engine::selectTrack(media.*tracks, media.*selectedId, trackId);
  return status;
}

}  // namespace

int requestPause(Session& session, bool paused) {
  int flag = paused ? 1 : 0;
  int status = setProperty(session, "pause", MPV_FORMAT_FLAG, &flag);
  if (status < 0) return status;
  threads::MutexLock lock(session.stateMutex);
  engine::applyPause(loadStateOf(session), paused);
  return status;
}

int requestSeek(Session& session, double seconds) {
  int status = queueSeek(session, seconds, "absolute+exact");
  if (status < 0) return status;
  threads::MutexLock lock(session.stateMutex);
  session.snapshot.positionSeconds = std::isnan(seconds) ? 0 : std::max(seconds, 0.0);
  return status;
}

int requestSeekBy(Session& session, double seconds) {
  return queueSeek(session, seconds, "relative+exact");
}

int requestVolume(Session& session, double requested) {
  double volume = engine::engineVolume(requested);
  int status = setProperty(session, "volume", MPV_FORMAT_DOUBLE, &volume);
  if (status < 0 || std::isnan(volume)) return status;
  threads::MutexLock lock(session.stateMutex);
  session.snapshot.volume = volume;
  return status;
}

int requestAudioTrack(Session& session, int64_t trackId) {
  int status = setProperty(session, "aid", MPV_FORMAT_INT64, &trackId);
  return showSelectedTrack(session, status, &engine::MediaLists::audioTracks,
                           &engine::MediaLists::selectedAudioTrackId, trackId);
}

int requestSubtitleTrack(Session& session, int64_t trackId) {
  int status = trackId < 0 ? setStringProperty(session, "sid", "no")
                           : setProperty(session, "sid", MPV_FORMAT_INT64, &trackId);
  return showSelectedTrack(session, status, &engine::MediaLists::subtitleTracks,
                           &engine::MediaLists::selectedSubtitleTrackId, trackId);
}

int requestSpeed(Session& session, double requested) {
  double speed = std::isnan(requested) ? requested : std::clamp(requested, 0.25, 4.0);
  int status = setProperty(session, "speed", MPV_FORMAT_DOUBLE, &speed);
  if (status < 0 || std::isnan(speed)) return status;
  threads::MutexLock lock(session.stateMutex);
  session.snapshot.playbackSpeed = speed;
  return status;
}

int requestAspect(Session& session, std::string aspect) {
  // No override is "-1" to every engine; "no" means square pixels to engines
  // before 0.36. The snapshot says "no" either way.
  if (aspect.empty()) aspect = "no";
  std::string shown;
  {
    // Shown before the request goes out, so that the engine's report of it
    // (in its own words: "1.777778" for "16:9") comes after and stays.
    threads::MutexLock lock(session.stateMutex);
    shown = std::exchange(session.snapshot.aspectOverride, aspect);
  }
  int status = setStringProperty(session, "video-aspect-override", aspect == "no" ? "-1" : aspect);
  if (status < 0) {
    threads::MutexLock lock(session.stateMutex);
    if (session.snapshot.aspectOverride == aspect) session.snapshot.aspectOverride = shown;
  }
  return status;
}

}  // namespace hosted_mpv
