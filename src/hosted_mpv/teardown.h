// Session teardown: stops every thread and callback of a session before it
// frees what they use.
#pragma once

#include <string>

#include "session.h"

namespace hosted_mpv {

// Tears the session down in a fixed order; serves a fully built session and
// one that creation abandoned at any point alike. Never throws; does nothing
// for an empty reference. Calling thread (never the main thread's own tasks
// or the render queue).
void destroySession(const SessionRef& session) EXCLUDES(session->stateMutex);

// Removes the session `id` from `registry` and tears it down outside the
// registry's lock; does nothing for an unknown id. Calling thread, as above.
void disposeSession(SessionRegistry& registry, const std::string& id);

// Tears down every session `registry` holds, one after the other.
void disposeAllSessions(SessionRegistry& registry);

}  // namespace hosted_mpv
