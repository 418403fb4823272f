// The playback control commands: each queues one asynchronous engine request
// with a fresh reply id and writes the requested value into the snapshot, so
// that a snapshot taken at once shows it; the engine's property changes later
// confirm or correct it. setBounds moves the render view instead.
// JavaScript thread; stateMutex is never held while the engine is called.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "call_conventions.h"
#include "exports.h"
#include "utc_time.h"
#include "views.h"

namespace hosted_mpv {
namespace {

enum class ArgType { boolean, number, string };

bool hasType(const Napi::Value& value, ArgType type) {
  switch (type) {
    case ArgType::boolean:
      return value.IsBoolean();
    case ArgType::number:
      return value.IsNumber();
    case ArgType::string:
      return value.IsString();
  }
  return false;
}

// Shape check and lookup: a session id and one argument of `type`.
SessionRef sessionWithArgument(const Napi::CallbackInfo& info, ArgType type,
                               const char* typeErrorMessage) {
  if (info.Length() < 2 || !info[0].IsString() || !hasType(info[1], type)) {
    throw Napi::TypeError::New(info.Env(), typeErrorMessage);
  }
  return getSessionOrThrow(info.Env(), info[0].As<Napi::String>().Utf8Value());
}

double numberArgument(const Napi::CallbackInfo& info) {
  return info[1].As<Napi::Number>().DoubleValue();
}

int setProperty(Session& session, const char* name, mpv_format format, void* value) {
  return mpv_set_property_async(session.mpv, takeAsyncRequestId(), name, format, value);
}

int setStringProperty(Session& session, uint64_t replyId, const char* name,
                      const std::string& text) {
  const char* value = text.c_str();
  return mpv_set_property_async(session.mpv, replyId, name, MPV_FORMAT_STRING, &value);
}

int queueSeek(Session& session, double seconds, const char* flags) {
  char target[64];
  std::snprintf(target, sizeof target, "%f", seconds);
  const char* args[] = {"seek", target, flags, nullptr};
  return mpv_command_async(session.mpv, takeAsyncRequestId(), args);
}

}  // namespace

Napi::Value SetPaused(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::boolean, "Expected session id and paused flag.");
  bool paused = info[1].As<Napi::Boolean>().Value();
  int flag = paused ? 1 : 0;
  int status = setProperty(*session, "pause", MPV_FORMAT_FLAG, &flag);
  if (status < 0) throwEngineError(info.Env(), "Failed to update playback state: ", status);
  std::lock_guard lock(session->stateMutex);
  session->paused = paused;
  SessionStatus current = session->snapshot.status;
  if (session->fileLoaded &&
      (current == SessionStatus::playing || current == SessionStatus::paused)) {
    session->snapshot.status = paused ? SessionStatus::paused : SessionStatus::playing;
  }
  return info.Env().Undefined();
}

Napi::Value Seek(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::number, "Expected session id and seek target.");
  double target = numberArgument(info);
  int status = queueSeek(*session, target, "absolute+exact");
  if (status < 0) throwEngineError(info.Env(), "Failed to seek playback: ", status);
  std::lock_guard lock(session->stateMutex);
  session->snapshot.positionSeconds = std::isnan(target) ? 0 : std::max(target, 0.0);
  return info.Env().Undefined();
}

Napi::Value SeekBy(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::number, "Expected session id and seek delta.");
  int status = queueSeek(*session, numberArgument(info), "relative+exact");
  if (status < 0) throwEngineError(info.Env(), "Failed to seek playback: ", status);
  return info.Env().Undefined();
}

Napi::Value SetVolume(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::number, "Expected session id and volume.");
  double requested = numberArgument(info);
  double volume = (requested < 0 ? 0 : std::min(requested, 1.0)) * 100;
  int status = setProperty(*session, "volume", MPV_FORMAT_DOUBLE, &volume);
  if (status < 0) throwEngineError(info.Env(), "Failed to update volume: ", status);
  // NaN is no volume: the engine refuses it, so the snapshot keeps the engine's.
  if (!std::isnan(volume)) {
    std::lock_guard lock(session->stateMutex);
    session->snapshot.volume = volume;
  }
  return info.Env().Undefined();
}

Napi::Value SetAudioTrack(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::number, "Expected session id and audio track id.");
  int64_t trackId = info[1].As<Napi::Number>().Int64Value();
  int status = setProperty(*session, "aid", MPV_FORMAT_INT64, &trackId);
  if (status < 0) throwEngineError(info.Env(), "Failed to update audio track: ", status);
  std::lock_guard lock(session->stateMutex);
  engine::selectTrack(session->snapshot.audioTracks, session->snapshot.selectedAudioTrackId,
                      trackId);
  return info.Env().Undefined();
}

Napi::Value SetSubtitleTrack(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::number, "Expected session id and subtitle track id.");
  int64_t trackId = info[1].As<Napi::Number>().Int64Value();
  int status = trackId < 0 ? setStringProperty(*session, takeAsyncRequestId(), "sid", "no")
                           : setProperty(*session, "sid", MPV_FORMAT_INT64, &trackId);
  if (status < 0) throwEngineError(info.Env(), "Failed to update subtitle track: ", status);
  std::lock_guard lock(session->stateMutex);
  engine::selectTrack(session->snapshot.subtitleTracks, session->snapshot.selectedSubtitleTrackId,
                      trackId);
  return info.Env().Undefined();
}

Napi::Value SetSpeed(const Napi::CallbackInfo& info) {
  SessionRef session = sessionWithArgument(info, ArgType::number, "Expected session id and speed.");
  double requested = numberArgument(info);
  double speed = std::isnan(requested) ? requested : std::clamp(requested, 0.25, 4.0);
  int status = setProperty(*session, "speed", MPV_FORMAT_DOUBLE, &speed);
  if (status < 0) throwEngineError(info.Env(), "Failed to update playback speed: ", status);
  // As for the volume, NaN leaves the engine's value in the snapshot.
  if (!std::isnan(speed)) {
    std::lock_guard lock(session->stateMutex);
    session->snapshot.playbackSpeed = speed;
  }
  return info.Env().Undefined();
}

Napi::Value SetAspect(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::string, "Expected session id and aspect override.");
  std::string aspect = info[1].As<Napi::String>().Utf8Value();
  // No override is "-1" to every engine; "no" means square pixels to engines
  // before 0.36. The snapshot says "no" either way.
  if (aspect.empty()) aspect = "no";
  const std::string sent = aspect == "no" ? "-1" : aspect;
  int status = setStringProperty(*session, takeAsyncRequestId(), "video-aspect-override", sent);
  if (status < 0) throwEngineError(info.Env(), "Failed to update aspect override: ", status);
  std::lock_guard lock(session->stateMutex);
  session->snapshot.aspectOverride = aspect;
  return info.Env().Undefined();
}

Napi::Value StartRecording(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsString() || !info[1].IsString()) {
    throw Napi::TypeError::New(env, "Expected session id and recording target path.");
  }
  std::string path = info[1].As<Napi::String>().Utf8Value();
  if (path.empty()) throw Napi::Error::New(env, "Recording target path is required.");
  SessionRef session = getSessionOrThrow(env, info[0].As<Napi::String>().Utf8Value());
  uint64_t replyId = takeAsyncRequestId();
  std::string startedAt = engine::formatUtcTimestamp(std::time(nullptr));
  bool heldFailedRecording;
  {
    // Written before the request: its reply may come before the call returns.
    std::lock_guard lock(session->stateMutex);
    heldFailedRecording = session->engineHoldsFailedRecording;
    session->engineHoldsFailedRecording = false;  // the new target replaces it
    session->pendingRecordStartRequestId = replyId;
    session->pendingRecordTargetPath = path;
    session->pendingRecordStartedAt = startedAt;
    session->snapshot.recordingActive = true;
    session->snapshot.recordingTargetPath = path;
    session->snapshot.recordingStartedAt = startedAt;
    session->snapshot.recordingError.clear();
  }
  int status = setStringProperty(*session, replyId, "stream-record", path);
  if (status < 0) {
    {
      std::lock_guard lock(session->stateMutex);
      if (session->pendingRecordStartRequestId == replyId) {
        session->pendingRecordStartRequestId = 0;
        session->pendingRecordTargetPath.clear();
        session->pendingRecordStartedAt.clear();
      }
      session->engineHoldsFailedRecording = heldFailedRecording;
      session->snapshot.recordingActive = false;
      session->snapshot.recordingStartedAt.clear();
      session->snapshot.recordingError = mpv_error_string(status);
    }
    throwEngineError(env, "Failed to start stream recording: ", status);
  }
  return env.Undefined();
}

Napi::Value StopRecording(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsString()) {
    throw Napi::TypeError::New(env, "Expected session id.");
  }
  SessionRef session = getSessionOrThrow(env, info[0].As<Napi::String>().Utf8Value());
  uint64_t replyId = takeAsyncRequestId();
  {
    std::lock_guard lock(session->stateMutex);
    session->pendingRecordStopRequestId = replyId;
    session->pendingRecordStopStartedAt = session->snapshot.recordingStartedAt;
    session->engineHoldsFailedRecording = false;
    session->snapshot.recordingActive = false;
    session->snapshot.recordingStartedAt.clear();
    session->snapshot.recordingError.clear();
  }
  int status = setStringProperty(*session, replyId, "stream-record", "");
  if (status < 0) {
    {
      std::lock_guard lock(session->stateMutex);
      std::string startedAt = session->pendingRecordStopStartedAt;
      if (session->pendingRecordStopRequestId == replyId) {
        session->pendingRecordStopRequestId = 0;
        session->pendingRecordStopStartedAt.clear();
      }
      session->snapshot.recordingActive = true;
      session->snapshot.recordingStartedAt = startedAt;
      session->snapshot.recordingError = mpv_error_string(status);
    }
    throwEngineError(env, "Failed to stop stream recording: ", status);
  }
  return env.Undefined();
}

Napi::Value SetBounds(const Napi::CallbackInfo& info) {
  if (info.Length() < 2 || !info[0].IsString() || !info[1].IsObject()) {
    throw Napi::TypeError::New(info.Env(), "Expected session id and bounds object.");
  }
  SessionRef session = getSessionOrThrow(info.Env(), info[0].As<Napi::String>().Utf8Value());
  auto bounds = info[1].As<Napi::Object>();
  double x = readOptionalNumber(bounds, "x", 0);
  double y = readOptionalNumber(bounds, "y", 0);
  double width = readOptionalNumber(bounds, "width", 0);
  double height = readOptionalNumber(bounds, "height", 0);
  setSessionFrame(session, x, y, width, height);
  return info.Env().Undefined();
}

}  // namespace hosted_mpv
