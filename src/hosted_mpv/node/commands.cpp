// The playback control functions: each checks its arguments, finds the
// session and makes its request (commands.h, recording.h); setBounds moves
// the render view instead. JavaScript thread.
#include "commands.h"

#include "call_conventions.h"
#include "exports.h"
#include "recording.h"
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

int64_t trackIdArgument(const Napi::CallbackInfo& info) {
  return info[1].As<Napi::Number>().Int64Value();
}

}  // namespace

Napi::Value SetPaused(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::boolean, "Expected session id and paused flag.");
  int status = requestPause(*session, info[1].As<Napi::Boolean>().Value());
  return engineRequestResult(info.Env(), "Failed to update playback state: ", status);
}

Napi::Value Seek(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::number, "Expected session id and seek target.");
  int status = requestSeek(*session, numberArgument(info));
  return engineRequestResult(info.Env(), "Failed to seek playback: ", status);
}

Napi::Value SeekBy(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::number, "Expected session id and seek delta.");
  int status = requestSeekBy(*session, numberArgument(info));
  return engineRequestResult(info.Env(), "Failed to seek playback: ", status);
}

Napi::Value SetVolume(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::number, "Expected session id and volume.");
  int status = requestVolume(*session, numberArgument(info));
  return engineRequestResult(info.Env(), "Failed to update volume: ", status);
}

Napi::Value SetAudioTrack(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::number, "Expected session id and audio track id.");
  int status = requestAudioTrack(*session, trackIdArgument(info));
  return engineRequestResult(info.Env(), "Failed to update audio track: ", status);
}

Napi::Value SetSubtitleTrack(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::number, "Expected session id and subtitle track id.");
  int status = requestSubtitleTrack(*session, trackIdArgument(info));
  return engineRequestResult(info.Env(), "Failed to update subtitle track: ", status);
}

Napi::Value SetSpeed(const Napi::CallbackInfo& info) {
  SessionRef session = sessionWithArgument(info, ArgType::number, "Expected session id and speed.");
  int status = requestSpeed(*session, numberArgument(info));
  return engineRequestResult(info.Env(), "Failed to update playback speed: ", status);
}

Napi::Value SetAspect(const Napi::CallbackInfo& info) {
  SessionRef session =
      sessionWithArgument(info, ArgType::string, "Expected session id and aspect override.");
  int status = requestAspect(*session, info[1].As<Napi::String>().Utf8Value());
  return engineRequestResult(info.Env(), "Failed to update aspect override: ", status);
}

Napi::Value StartRecording(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsString() || !info[1].IsString()) {
    throw Napi::TypeError::New(env, "Expected session id and recording target path.");
  }
  std::string path = info[1].As<Napi::String>().Utf8Value();
  if (path.empty()) throw Napi::Error::New(env, "Recording target path is required.");
  SessionRef session = getSessionOrThrow(env, info[0].As<Napi::String>().Utf8Value());
  return engineRequestResult(env, "Failed to start stream recording: ",
                             requestRecordingStart(*session, path));
}

Napi::Value StopRecording(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsString()) {
    throw Napi::TypeError::New(env, "Expected session id.");
  }
  SessionRef session = getSessionOrThrow(env, info[0].As<Napi::String>().Utf8Value());
  return engineRequestResult(env, "Failed to stop stream recording: ",
                             requestRecordingStop(*session));
}

Napi::Value SetBounds(const Napi::CallbackInfo& info) {
  if (info.Length() < 2 || !info[0].IsString() || !info[1].IsObject()) {
    throw Napi::TypeError::New(info.Env(), "Expected session id and bounds object.");
  }
  SessionRef session = getSessionOrThrow(info.Env(), info[0].As<Napi::String>().Utf8Value());
  ViewBounds bounds = readBounds(info[1].As<Napi::Object>());
  setSessionFrame(session, bounds.x, bounds.y, bounds.width, bounds.height);
  return info.Env().Undefined();
}

}  // namespace hosted_mpv
