// The engine's stream recording ("stream-record"): the requests that start
// and stop it (the commands, the next load, teardown), made as the session's
// recording machine asks (recording_machine.h), which also keeps what the
// snapshot shows meanwhile.
// Calling thread (the JavaScript thread, or teardown's); stateMutex is held
// only for short reads and writes, never while the engine is called.
#pragma once

#include <string>

#include "session.h"

namespace hosted_mpv {

// Records into `path` from now on. The snapshot shows the recording running
// at once; the reply confirms or corrects it. When the engine
// refuses the request the snapshot shows it stopped with the engine's text.
// Returns the engine's status.
int requestRecordingStart(Session& session, const std::string& path) EXCLUDES(session.stateMutex);

// Stops the recording. The snapshot shows it stopped at once; the reply
// confirms or corrects it. When the engine refuses the request the snapshot
// shows it running again with the engine's text. Returns the engine's status.
int requestRecordingStop(Session& session) EXCLUDES(session.stateMutex);

// Before a load: stops a recording that runs, or that the engine failed but
// still holds (it would record the new file into it). The load resets the
// snapshot's recording itself; when the engine refuses the request the
// session's status is Error with the engine's text. Returns the engine's
// status (0 when nothing was recording).
int stopRecordingBeforeLoad(Session& session) EXCLUDES(session.stateMutex);

// At teardown: ends a running recording and waits for the engine, so the
// recording file is complete before the player goes.
void stopRecordingForTeardown(Session& session) EXCLUDES(session.stateMutex);

}  // namespace hosted_mpv
