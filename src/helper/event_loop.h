// The player event loop on the main thread: engine events folded into the
// playback state of HelperState, engine log messages forwarded as "log" lines.
//
// Threads: main only. Each event is handled under stateMutex; while holding
// it a handler may take the pipeline's mutex (applyRenderSizeLocked) and the
// output lock (a "log" line), never the other way round.
#pragma once

#include <mpv/client.h>

#include "helper_state.h"

namespace frame_helper {

// Folds one engine event into `state`. Never fails; input a handler does not
// recognise changes nothing. A change of "dwidth", "dheight" or the
// renderer's rotation also calls applyRenderSizeLocked, which fits the
// state's box for the state's pipeline.
void handleEngineEventLocked(HelperState& state, const mpv_event& event)
    REQUIRES(state.stateMutex, state.mainThread);

// After an event that reports the end of the stream (engine::reportsStreamEnd),
// with the engine's facts read just before: a stream cut short carries why in
// `error`.
void handleStreamEndLocked(HelperState& state, const engine::StreamEndFacts& facts)
    REQUIRES(state.stateMutex);

// Waits for engine events (0.1 s at most per turn) and handles them until
// `running` is cleared; after every turn the snapshot rule may write a
// snapshot, a recording the engine failed is cleared in the engine
// (clearFailedRecording), and a wait for data without progress for the stall
// bound ends the load in error and stops the engine's file. Main thread.
void runEventLoop(HelperState& state) REQUIRES(state.mainThread)
    EXCLUDES(state.commandMutex, state.stateMutex);

}  // namespace frame_helper
