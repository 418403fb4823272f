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

// Which step of loadPlayback the engine refused.
enum class LoadStep { stopRecording, load };

struct LoadResult {
  int status = 0;                  // the engine's; negative when refused
  LoadStep step = LoadStep::load;  // the refused step when status < 0
};

// Stops or clears the recording so that the engine does not record the new
// file (stopRecordingBeforeLoad), then requests the load (requestLoad). When
// the engine refuses the stop the load is not requested.
LoadResult loadPlayback(Session& session, const LoadRequest& request);

// Shows the session loading `request.url` (no error, no recording) and queues
// the load; its reply settles it (replies.h). When the engine refuses the
// request the status is Error with the engine's text. Returns the engine's
// status.
int requestLoad(Session& session, const LoadRequest& request) EXCLUDES(session.stateMutex);

}  // namespace hosted_mpv
