// loadPlayback: reads the playback object, stops a running recording and
// loads the stream (loading.h). JavaScript thread.
#include "call_conventions.h"
#include "exports.h"
#include "loading.h"
#include "recording.h"

namespace hosted_mpv {
namespace {

// The "http-header-fields" text of a headers object: "Name: value" lines
// joined with ",", skipping names and values that are not strings (values may
// be numbers) and empty ones.
std::string readHeaderFields(const Napi::Object& headers) {
  std::string joined;
  Napi::Array names = headers.GetPropertyNames();
  for (uint32_t i = 0, count = names.Length(); i < count; ++i) {
    Napi::Value name = names.Get(i);
    if (!name.IsString()) continue;
    Napi::Value value = headers.Get(name);
    if (!value.IsString() && !value.IsNumber()) continue;
    std::string nameText = name.As<Napi::String>().Utf8Value();
    std::string valueText = value.ToString().Utf8Value();
    if (nameText.empty() || valueText.empty()) continue;
    if (!joined.empty()) joined += ",";
    joined += nameText + ": " + escapeHeaderValue(valueText);
  }
  return joined;
}

}  // namespace

Napi::Value LoadPlayback(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsString() || !info[1].IsObject()) {
    throw Napi::TypeError::New(env, "Expected session id and playback object.");
  }
  SessionRef session = getSessionOrThrow(env, info[0].As<Napi::String>().Utf8Value());
  auto playback = info[1].As<Napi::Object>();
  LoadRequest request;
  request.url = readOptionalString(playback, "streamUrl");
  if (request.url.empty())
    throw Napi::Error::New(env, "Hosted MPV playback requires a stream URL.");
  request.title = readOptionalString(playback, "title");
  request.userAgent = readOptionalString(playback, "userAgent");
  request.referer = readOptionalString(playback, "referer");
  request.startTime = readOptionalNumber(playback, "startTime", -1);

  int status = stopRecordingBeforeLoad(*session);
  if (status < 0)
    throwEngineError(env, "Failed to stop recording before loading playback: ", status);

  if (playback.Has("headers")) {
    Napi::Value headers = playback.Get("headers");
    if (headers.IsObject()) request.headerFields = readHeaderFields(headers.As<Napi::Object>());
  }
  return engineRequestResult(env, "Failed to load playback: ", requestLoad(*session, request));
}

}  // namespace hosted_mpv
