// loadPlayback: reads the playback object and loads the stream (loading.h).
// JavaScript thread.
#include "call_conventions.h"
#include "exports.h"
#include "loading.h"

namespace hosted_mpv {
namespace {

// A headers object's names and values in its order, skipping names and
// values that are not strings (values may be numbers).
std::vector<std::pair<std::string, std::string>> readHeaders(const Napi::Object& headers) {
  std::vector<std::pair<std::string, std::string>> pairs;
  Napi::Array names = headers.GetPropertyNames();
  for (uint32_t i = 0, count = names.Length(); i < count; ++i) {
    Napi::Value name = names.Get(i);
    if (!name.IsString()) continue;
    Napi::Value value = headers.Get(name);
    if (!value.IsString() && !value.IsNumber()) continue;
    pairs.emplace_back(name.As<Napi::String>().Utf8Value(), value.ToString().Utf8Value());
  }
  return pairs;
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
  // Only a string: ToString would make any other value a relative path.
  Napi::Value streamUrl = playback.Get("streamUrl");
  if (streamUrl.IsString()) request.url = streamUrl.As<Napi::String>().Utf8Value();
  if (request.url.empty()) {
    throw Napi::TypeError::New(env, "Hosted MPV playback requires a stream URL.");
  }
  request.title = readOptionalString(playback, "title");
  request.userAgent = readOptionalString(playback, "userAgent");
  request.referer = readOptionalString(playback, "referer");
  request.startTime = readOptionalNumber(playback, "startTime", -1);
  if (playback.Has("headers")) {
    Napi::Value headers = playback.Get("headers");
    if (headers.IsObject()) request.headers = readHeaders(headers.As<Napi::Object>());
  }

  LoadResult result = loadPlayback(*session, request);
  if (!result.refusal.empty()) {
    Napi::Error error = Napi::Error::New(env, result.refusal);
    error.Set("code", result.step == LoadStep::refuseUrl ? "ERR_URL_SCHEME_NOT_ALLOWED"
                                                          : "ERR_INVALID_HEADER");
    throw error;
  }
  if (result.status < 0 && result.step == LoadStep::stopRecording)
    throwEngineError(env, "Failed to stop recording before loading playback: ", result.status);
  return engineRequestResult(env, "Failed to load playback: ", result.status);
}

}  // namespace hosted_mpv
