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

bool readBoolean(const Napi::Value& value) { return value.As<Napi::Boolean>().Value(); }
double readNumber(const Napi::Value& value) { return value.As<Napi::Number>().DoubleValue(); }
int64_t readTrackId(const Napi::Value& value) { return value.As<Napi::Number>().Int64Value(); }
std::string readString(const Napi::Value& value) { return value.As<Napi::String>().Utf8Value(); }

// What a one-argument command checks and says.
struct CommandTexts {
  ArgType type;
  const char* typeErrorMessage;
  const char* failurePrefix;  // before the engine's text when it refuses
};

// Checks the arguments, finds the session, reads the second argument with
// `read` and makes the request.
template <typename Value>
Napi::Value runCommand(const Napi::CallbackInfo& info, const CommandTexts& texts,
                       Value (*read)(const Napi::Value&), int (*request)(Session&, Value)) {
  SessionRef session = sessionWithArgument(info, texts.type, texts.typeErrorMessage);
  int status = request(*session, read(info[1]));
  return engineRequestResult(info.Env(), texts.failurePrefix, status);
}

}  // namespace

Napi::Value SetPaused(const Napi::CallbackInfo& info) {
  return runCommand(info,
                    {ArgType::boolean, "Expected session id and paused flag.",
                     "Failed to update playback state: "},
                    readBoolean, requestPause);
}

Napi::Value Seek(const Napi::CallbackInfo& info) {
  return runCommand(
      info, {ArgType::number, "Expected session id and seek target.", "Failed to seek playback: "},
      readNumber, requestSeek);
}

Napi::Value SeekBy(const Napi::CallbackInfo& info) {
  return runCommand(
      info, {ArgType::number, "Expected session id and seek delta.", "Failed to seek playback: "},
      readNumber, requestSeekBy);
}

Napi::Value SetVolume(const Napi::CallbackInfo& info) {
  return runCommand(
      info, {ArgType::number, "Expected session id and volume.", "Failed to update volume: "},
      readNumber, requestVolume);
}

Napi::Value SetAudioTrack(const Napi::CallbackInfo& info) {
  return runCommand(info,
                    {ArgType::number, "Expected session id and audio track id.",
                     "Failed to update audio track: "},
                    readTrackId, requestAudioTrack);
}

Napi::Value SetSubtitleTrack(const Napi::CallbackInfo& info) {
  return runCommand(info,
                    {ArgType::number, "Expected session id and subtitle track id.",
                     "Failed to update subtitle track: "},
                    readTrackId, requestSubtitleTrack);
}

Napi::Value SetSpeed(const Napi::CallbackInfo& info) {
  return runCommand(
      info,
      {ArgType::number, "Expected session id and speed.", "Failed to update playback speed: "},
      readNumber, requestSpeed);
}

Napi::Value SetAspect(const Napi::CallbackInfo& info) {
  return runCommand(info,
                    {ArgType::string, "Expected session id and aspect override.",
                     "Failed to update aspect override: "},
                    readString, requestAspect);
}

Napi::Value StartRecording(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsString() || !info[1].IsString()) {
    throw Napi::TypeError::New(env, "Expected session id and recording target path.");
  }
  std::string path = info[1].As<Napi::String>().Utf8Value();
  if (path.empty()) throw Napi::Error::New(env, "Recording target path is required.");
  SessionRef session = getSessionOrThrow(env, info[0].As<Napi::String>().Utf8Value());
  return engineRequestResult(
      env, "Failed to start stream recording: ", requestRecordingStart(*session, path));
}

Napi::Value StopRecording(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1 || !info[0].IsString()) {
    throw Napi::TypeError::New(env, "Expected session id.");
  }
  SessionRef session = getSessionOrThrow(env, info[0].As<Napi::String>().Utf8Value());
  return engineRequestResult(env,
                             "Failed to stop stream recording: ", requestRecordingStop(*session));
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
