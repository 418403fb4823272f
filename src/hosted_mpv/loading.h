// Loading a stream: the snapshot reset to loading and the engine's "loadfile"
// with the per-file options. The caller stops a recording first
// (stopRecordingBeforeLoad, recording.h).
// Calling thread (the JavaScript thread); stateMutex is held only for short
// writes, never while the engine is called.
#pragma once

#include <string>

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
  // "Name: value" lines joined with "," (escapeHeaderValue).
  std::string headerFields;
};

// The engine's per-file options for `request`, in a fixed order.
LoadOptions loadOptionsFor(const LoadRequest& request);

// Shows the session loading `request.url` (no error, no recording) and queues
// the load; its reply settles it (replies.h). When the engine refuses the
// request the status is Error with the engine's text. Returns the engine's
// status.
int requestLoad(Session& session, const LoadRequest& request) EXCLUDES(session.stateMutex);

}  // namespace hosted_mpv
