// The per-session event thread: folds the engine's events, replies and
// property changes into the session's snapshot.
#pragma once

#include <mpv/client.h>

#include "session.h"

namespace hosted_mpv {

// The thread's body, holding the session's eventRole; returns once `running`
// is false after a wait or an event. After each wait it also ends a load
// whose wait for data made no progress for the session's stall bound: status
// Error, and the engine's file stopped.
void runEventLoop(SessionRef session);

// Folds one event into the session.
void handleSessionEventLocked(Session& session, const mpv_event& event)
    REQUIRES(session.stateMutex, session.eventRole);

// After an event that reports the end of the stream (engine::reportsStreamEnd),
// with the engine's facts read just before: a stream cut short carries why in
// the snapshot's error.
void handleStreamEndLocked(Session& session, const engine::StreamEndFacts& facts)
    REQUIRES(session.stateMutex);

}  // namespace hosted_mpv
