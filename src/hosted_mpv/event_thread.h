// The per-session event thread: folds the engine's events, replies and
// property changes into the session's snapshot.
#pragma once

#include <mpv/client.h>

#include "session.h"

namespace hosted_mpv {

// The thread's body; returns once `running` is false after a wait or an event.
void runEventLoop(SessionRef session);

// Folds one event into the session. Caller holds session.stateMutex.
void handleSessionEventLocked(Session& session, const mpv_event& event);

}  // namespace hosted_mpv
