// loadPlayback: stops a running recording, resets the snapshot to loading and
// queues the engine's "loadfile" with the per-file options.
// JavaScript thread; stateMutex is held only for short reads and writes,
// never while the engine is called.
#include <cmath>

#include "call_conventions.h"
#include "exports.h"
#include "load_command.h"

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
  std::string url = readOptionalString(playback, "streamUrl");
  if (url.empty()) throw Napi::Error::New(env, "Hosted MPV playback requires a stream URL.");
  std::string title = readOptionalString(playback, "title");
  std::string userAgent = readOptionalString(playback, "userAgent");
  std::string referer = readOptionalString(playback, "referer");
  double startTime = readOptionalNumber(playback, "startTime", -1);

  // Also when the engine failed the last recording: it still holds the
  // target and would record the new file into it.
  bool recording;
  {
    std::lock_guard lock(session->stateMutex);
    recording = session->snapshot.recordingActive || session->engineHoldsFailedRecording;
    session->engineHoldsFailedRecording = false;
  }
  if (recording) {
    uint64_t stopId = takeAsyncRequestId();
    {
      std::lock_guard lock(session->stateMutex);
      session->pendingRecordStopRequestId = stopId;
      session->pendingRecordStopStartedAt = session->snapshot.recordingStartedAt;
    }
    char empty[] = "";
    char* value = empty;
    int status =
        mpv_set_property_async(session->mpv, stopId, "stream-record", MPV_FORMAT_STRING, &value);
    if (status < 0) {
      {
        std::lock_guard lock(session->stateMutex);
        if (session->pendingRecordStopRequestId == stopId) {
          session->pendingRecordStopRequestId = 0;
          session->pendingRecordStopStartedAt.clear();
        }
      }
      updateSessionError(*session, mpv_error_string(status), false);
      throwEngineError(env, "Failed to stop recording before loading playback: ", status);
    }
  }

  LoadOptions options;
  if (!title.empty()) options.emplace_back("force-media-title", title);
  if (!userAgent.empty()) options.emplace_back("user-agent", userAgent);
  if (!referer.empty()) options.emplace_back("referrer", referer);
  if (std::isfinite(startTime) && startTime >= 0) {
    options.emplace_back("start", formatStartOption(startTime));
  }
  if (playback.Has("headers")) {
    Napi::Value headers = playback.Get("headers");
    if (headers.IsObject()) {
      std::string fields = readHeaderFields(headers.As<Napi::Object>());
      if (!fields.empty()) options.emplace_back("http-header-fields", fields);
    }
  }

  uint64_t loadId = takeAsyncRequestId();
  {
    std::lock_guard lock(session->stateMutex);
    SessionSnapshot& snapshot = session->snapshot;
    snapshot.streamUrl = url;
    snapshot.error.clear();
    snapshot.errorFromEngine = false;
    snapshot.status = SessionStatus::loading;
    snapshot.recordingActive = false;
    snapshot.recordingTargetPath.clear();
    snapshot.recordingStartedAt.clear();
    snapshot.recordingError.clear();
    session->pendingLoadRequestId = loadId;
  }
  // An engine without the index argument would refuse the index form and log
  // that refusal as an engine error, which would show in the snapshot for
  // every load; such an engine gets the form without the index right away.
  int status =
      queueLoadfileCommand(session->mpv, loadId, url, options, engine::loadfileTakesIndex());
  if (status < 0) {
    {
      std::lock_guard lock(session->stateMutex);
      session->pendingLoadRequestId = 0;
    }
    updateSessionError(*session, mpv_error_string(status), false);
    throwEngineError(env, "Failed to load playback: ", status);
  }
  return env.Undefined();
}

}  // namespace hosted_mpv
