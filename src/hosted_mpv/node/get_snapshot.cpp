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
  engine::forEachKnownStat(
      s.stats,
      [&](const char* key, double value) { stats.Set(key, Napi::Number::New(env, value)); },
      [&](const char* key, const std::string& value) {
        stats.Set(key, Napi::String::New(env, value));
      });
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
  result.Set("selectedAudioTrackId", numberOrNull(env, double(s.media.selectedAudioTrackId)));
  result.Set("audioTracks", trackArray(env, s.media.audioTracks));
  result.Set("selectedSubtitleTrackId", numberOrNull(env, double(s.media.selectedSubtitleTrackId)));
  result.Set("subtitleTracks", trackArray(env, s.media.subtitleTracks));
  result.Set("chapters", chapterArray(env, s.media.chapters));
  result.Set("playbackSpeed", Napi::Number::New(env, s.playbackSpeed));
  result.Set("aspectOverride", Napi::String::New(env, s.aspectOverride));
  Napi::Object stats = statsObject(env, s);
  if (stats.GetPropertyNames().Length() > 0) result.Set("stats", stats);
  if (s.recording.active || !s.recording.targetPath.empty() || !s.recording.error.empty()) {
    Napi::Object recording = Napi::Object::New(env);
    recording.Set("active", Napi::Boolean::New(env, s.recording.active));
    if (!s.recording.targetPath.empty()) {
      recording.Set("targetPath", Napi::String::New(env, s.recording.targetPath));
    }
    if (!s.recording.startedAt.empty()) {
      recording.Set("startedAt", Napi::String::New(env, s.recording.startedAt));
    }
    if (!s.recording.error.empty())
      recording.Set("error", Napi::String::New(env, s.recording.error));
    result.Set("recording", recording);
  }
  engine::forEachBufferingKey(
      s.buffering,
      [&](const char* key, bool value) { result.Set(key, Napi::Boolean::New(env, value)); },
      [&](const char* key, double value) { result.Set(key, Napi::Number::New(env, value)); });
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
