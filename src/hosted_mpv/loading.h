// Loading a stream: the recording stopped (recording.h), the snapshot reset to
// loading and the engine's "loadfile" with the per-file options.
// Calling thread (the JavaScript thread); stateMutex is held only for short
// writes, never while the engine is called.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "load_command.h"
#include "session.h"

namespace hosted_mpv {

// What a load asks for; empty texts and a negative or non-finite start time
// are left out of the engine's options.
struct LoadRequest {
  std::string url;
  std::string title;
  std::string userAgent;
  std::string referer;
  double startTime = -1;
  // Header names and values in the caller's order; empty ones are left out.
  std::vector<std::pair<std::string, std::string>> headers;
};

// The engine's per-file options for `request`, in a fixed order; headers as
// "Name: value" lines joined with "," (escapeHeaderValue).
LoadOptions loadOptionsFor(const LoadRequest& request);

// Which step of loadPlayback refused: the session's own checks (a URL of a
// scheme its policy does not allow, a header that could become two) or the
// engine.
enum class LoadStep { refuseUrl, refuseHeader, stopRecording, load };

struct LoadResult {
  int status = 0;                  // the engine's; negative when refused
  LoadStep step = LoadStep::load;  // the refused step when status < 0
  std::string refusal;             // the text of the session's own refusal
};

// Checks `request` (checkLoadRequest); then stops or clears the recording so
// that the engine does not record the new file (stopRecordingBeforeLoad),
// then requests the load (requestLoad). When the check or the engine refuses
// the stop the load is not requested and nothing changes.
LoadResult loadPlayback(Session& session, const LoadRequest& request);

// Empty when the request may reach the engine, else the refusal, with `step`
// set: headers, user agent and referrer that would not stay one header each
// (always), then the URL under the session's policy.
std::string checkLoadRequest(const Session& session, const LoadRequest& request, LoadStep& step);

// Shows the session loading `request.url` (no error, no recording) and queues
// the load; its reply settles it (replies.h). When the engine refuses the
// request the status is Error with the engine's text. Returns the engine's
// status.
int requestLoad(Session& session, const LoadRequest& request) EXCLUDES(session.stateMutex);

}  // namespace hosted_mpv
