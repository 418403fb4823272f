// getSessionSnapshot: one copy of the session's snapshot (copySnapshot),
// turned into a plain JavaScript object outside every lock.
// JavaScript thread.
#include <algorithm>

#include "call_conventions.h"
#include "exports.h"
#include "session.h"

namespace hosted_mpv {
namespace {

Napi::Value numberOrNull(Napi::Env env, double value) {
  if (value < 0) return env.Null();
  return Napi::Number::New(env, value);
}

Napi::Array trackArray(Napi::Env env, const std::vector<engine::Track>& tracks) {
  Napi::Array array = Napi::Array::New(env, tracks.size());
  for (size_t i = 0; i < tracks.size(); ++i) {
    const engine::Track& track = tracks[i];
    Napi::Object object = Napi::Object::New(env);
    object.Set("id", Napi::Number::New(env, double(track.id)));
    if (!track.title.empty()) object.Set("title", Napi::String::New(env, track.title));
    if (!track.language.empty()) object.Set("language", Napi::String::New(env, track.language));
    object.Set("selected", Napi::Boolean::New(env, track.selected));
    object.Set("defaultTrack", Napi::Boolean::New(env, track.defaultTrack));
    object.Set("forced", Napi::Boolean::New(env, track.forced));
    array.Set(uint32_t(i), object);
  }
  return array;
}

Napi::Array chapterArray(Napi::Env env, const std::vector<engine::Chapter>& chapters) {
  Napi::Array array = Napi::Array::New(env, chapters.size());
  for (size_t i = 0; i < chapters.size(); ++i) {
    Napi::Object object = Napi::Object::New(env);
    object.Set("timeSeconds", Napi::Number::New(env, chapters[i].timeSeconds));
    if (!chapters[i].title.empty()) object.Set("title", Napi::String::New(env, chapters[i].title));
    array.Set(uint32_t(i), object);
  }
  return array;
}

Napi::Object statsObject(Napi::Env env, const SessionSnapshot& s) {
  Napi::Object stats = Napi::Object::New(env);
  if (s.fps > 0) stats.Set("fps", Napi::Number::New(env, s.fps));
  if (s.videoBitrateBps > 0)
    stats.Set("videoBitrateBps", Napi::Number::New(env, s.videoBitrateBps));
  if (s.audioBitrateBps > 0)
    stats.Set("audioBitrateBps", Napi::Number::New(env, s.audioBitrateBps));
  if (!s.videoCodec.empty()) stats.Set("videoCodec", Napi::String::New(env, s.videoCodec));
  if (!s.audioCodec.empty()) stats.Set("audioCodec", Napi::String::New(env, s.audioCodec));
  if (!s.audioChannels.empty()) stats.Set("audioChannels", Napi::String::New(env, s.audioChannels));
  if (s.audioSampleRateHz >= 1) {
    stats.Set("audioSampleRateHz", Napi::Number::New(env, double(s.audioSampleRateHz)));
  }
  if (!s.container.empty()) stats.Set("container", Napi::String::New(env, s.container));
  if (s.bufferedAheadSeconds >= 0) {
    stats.Set("bufferedAheadSeconds", Napi::Number::New(env, s.bufferedAheadSeconds));
  }
  if (s.frameDropCount >= 0 || s.decoderFrameDropCount >= 0) {
    int64_t dropped =
        std::max<int64_t>(s.frameDropCount, 0) + std::max<int64_t>(s.decoderFrameDropCount, 0);
    stats.Set("droppedFrames", Napi::Number::New(env, double(dropped)));
  }
  return stats;
}

}  // namespace

Napi::Value GetSessionSnapshot(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsString()) {
    throw Napi::TypeError::New(env, "Expected session id.");
  }
  SessionRef session = findSession(sessionRegistry(env), info[0].As<Napi::String>().Utf8Value());
  if (!session) return env.Null();
  const SessionSnapshot s = copySnapshot(*session);

  Napi::Object result = Napi::Object::New(env);
  result.Set("status", Napi::String::New(env, sessionStatusText(s.status)));
  result.Set("positionSeconds", Napi::Number::New(env, s.positionSeconds));
  result.Set("durationSeconds", numberOrNull(env, s.durationSeconds));
  result.Set("volume", Napi::Number::New(env, s.volume / 100));
  result.Set("streamUrl", Napi::String::New(env, s.streamUrl));
  result.Set("selectedAudioTrackId", numberOrNull(env, double(s.selectedAudioTrackId)));
  result.Set("audioTracks", trackArray(env, s.audioTracks));
  result.Set("selectedSubtitleTrackId", numberOrNull(env, double(s.selectedSubtitleTrackId)));
  result.Set("subtitleTracks", trackArray(env, s.subtitleTracks));
  result.Set("chapters", chapterArray(env, s.chapters));
  result.Set("playbackSpeed", Napi::Number::New(env, s.playbackSpeed));
  result.Set("aspectOverride", Napi::String::New(env, s.aspectOverride));
  Napi::Object stats = statsObject(env, s);
  if (stats.GetPropertyNames().Length() > 0) result.Set("stats", stats);
  if (s.recordingActive || !s.recordingTargetPath.empty() || !s.recordingError.empty()) {
    Napi::Object recording = Napi::Object::New(env);
    recording.Set("active", Napi::Boolean::New(env, s.recordingActive));
    if (!s.recordingTargetPath.empty()) {
      recording.Set("targetPath", Napi::String::New(env, s.recordingTargetPath));
    }
    if (!s.recordingStartedAt.empty()) {
      recording.Set("startedAt", Napi::String::New(env, s.recordingStartedAt));
    }
    if (!s.recordingError.empty()) recording.Set("error", Napi::String::New(env, s.recordingError));
    result.Set("recording", recording);
  }
  if (!s.error.empty()) {
    result.Set("error", Napi::String::New(env, s.error));
    if (s.errorFromEngine) result.Set("errorOrigin", Napi::String::New(env, "engine"));
  }
  if (!s.rejectedOptionKeys.empty()) {
    Napi::Array keys = Napi::Array::New(env, s.rejectedOptionKeys.size());
    for (size_t i = 0; i < s.rejectedOptionKeys.size(); ++i) {
      keys.Set(uint32_t(i), Napi::String::New(env, s.rejectedOptionKeys[i]));
    }
    result.Set("rejectedOptionKeys", keys);
  }
  return result;
}

}  // namespace hosted_mpv
