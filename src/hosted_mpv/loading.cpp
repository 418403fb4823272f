#include "loading.h"

#include <cmath>

#include "buffering.h"
#include "engine_text.h"
#include "recording.h"
#include "session_properties.h"
#include "source_kinds.h"
#include "url_policy.h"

namespace hosted_mpv {

namespace {

// The "http-header-fields" text: "Name: value" lines joined with ",".
std::string joinHeaderFields(const std::vector<std::pair<std::string, std::string>>& headers) {
  std::string joined;
  for (const auto& [name, value] : headers) {
    if (name.empty() || value.empty()) continue;
    if (!joined.empty()) joined += ",";
    joined += name + ": " + escapeHeaderValue(value);
  }
  return joined;
}

}  // namespace

LoadOptions loadOptionsFor(const LoadRequest& request) {
  LoadOptions options;
  if (!request.title.empty()) options.emplace_back("force-media-title", request.title);
  if (!request.userAgent.empty()) options.emplace_back("user-agent", request.userAgent);
  if (!request.referer.empty()) options.emplace_back("referrer", request.referer);
  if (std::isfinite(request.startTime) && request.startTime >= 0) {
    options.emplace_back("start", formatStartOption(request.startTime));
  }
  std::string headerFields = joinHeaderFields(request.headers);
  if (!headerFields.empty()) options.emplace_back("http-header-fields", headerFields);
  for (auto& option : engine::sourceKindOptions(request.url)) options.push_back(std::move(option));
  return options;
}

int requestLoad(Session& session, const LoadRequest& request) {
  LoadOptions options = loadOptionsFor(request);
  uint64_t loadId = takeAsyncRequestId();
  {
    threads::MutexLock lock(session.stateMutex);
    SessionSnapshot& snapshot = session.snapshot;
    snapshot.streamUrl = request.url;
    engine::applyLoadRequested(loadStateOf(session), snapshot.buffering);
    engine::resetForNewFile<Session>(kSessionProperties, session);
    session.source.load = {request.url, options};
    engine::recordingLoadRequested(kSessionProfile.recording, session.recordingMachine,
                                   snapshot.recording);
    expectLoad(session.replies, loadId);
  }
  int status =
      engine::sendLoadfile(session.mpv, kSessionProfile.loadfile, loadId, request.url, options);
  if (status < 0) {
    {
      threads::MutexLock lock(session.stateMutex);
      withdrawLoad(session.replies, loadId);
      engine::withdrawLoadRequest(loadStateOf(session));
    }
    updateSessionError(session, engineText(status), false);
  }
  return status;
}

std::string checkLoadRequest(const Session& session, const LoadRequest& request, LoadStep& step) {
  step = LoadStep::refuseHeader;
  std::string refusal = engine::headerTextRefusal("userAgent", request.userAgent);
  if (refusal.empty()) refusal = engine::headerTextRefusal("referer", request.referer);
  for (const auto& [name, value] : request.headers) {
    if (!refusal.empty()) break;
    if (!name.empty() && !value.empty()) refusal = engine::headerRefusal(name, value);
  }
  if (!refusal.empty()) return refusal;
  step = LoadStep::refuseUrl;
  return session.urlPolicy ? engine::urlRefusal(*session.urlPolicy, request.url) : "";
}

LoadResult loadPlayback(Session& session, const LoadRequest& request) {
  LoadResult result;
  result.refusal = checkLoadRequest(session, request, result.step);
  if (!result.refusal.empty()) {
    result.status = MPV_ERROR_INVALID_PARAMETER;
    return result;
  }
  int status = stopRecordingBeforeLoad(session);
  if (status < 0) return {status, LoadStep::stopRecording, ""};
  return {requestLoad(session, request), LoadStep::load, ""};
}

}  // namespace hosted_mpv
