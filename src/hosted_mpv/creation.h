// Session creation: views, player, render context, display link, observed
// properties, event thread and the first placement.
// Calling thread (the JavaScript thread); view work runs synchronously on the
// main thread and OpenGL render context work on the session's render queue.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "session.h"
#include "views.h"

namespace hosted_mpv {

// What creation takes from the caller.
struct SessionSettings {
  uint64_t windowHandle = 0;  // the application window's native handle
  // The callers' scale (1 is full volume); not-a-number: none given.
  double volume = std::numeric_limits<double>::quiet_NaN();
  // Engine options applied after the fixed ones, as "name=value" texts
  // (engine::splitOptionText; other texts are skipped). A rejected one is
  // traced and listed in the snapshot's rejectedOptionKeys.
  std::vector<std::string> extraOptions;
  // The first placement of the render view (setSessionFrame).
  ViewBounds bounds;
  // The schemes the engine may open (url_guard.h); absent: all.
  std::optional<engine::UrlPolicy> urlPolicy;
};

// A complete session, not yet registered. Throws std::runtime_error with the
// message for the caller, leaving no player, thread or view behind.
SessionRef createSession(const SessionSettings& settings);

// A complete session (createSession), registered in `registry`. Throws as
// createSession.
SessionRef openSession(SessionRegistry& registry, const SessionSettings& settings);

}  // namespace hosted_mpv
