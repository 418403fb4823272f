// What both render paths share: the engine's update callback, render
// scheduling on the session's serial render queue, the render task's frame
// and the frame statistics.
#pragma once

#include <chrono>

#include "session.h"

namespace hosted_mpv {

// The libmpv render update callback; `ctx` is the session's callbackContext.
// libmpv's thread; only schedules.
void onRenderContextUpdate(void* ctx);

// Queues one render task unless one is already queued or running (a request
// made meanwhile is dropped, not deferred). Any thread.
void scheduleRender(const SessionRef& session);

// The render task: the software or the OpenGL branch, then endRenderTask.
// renderQueue (asserted: the task's entry).
void runRenderTask(const SessionRef& session) EXCLUDES(session->stateMutex);

// The render task's exit: clears renderScheduled and, on the software path,
// schedules the render that a request made meanwhile asked for. renderQueue.
void endRenderTask(const SessionRef& session);

// Counts a rendered frame and writes the trace line every 120 frames.
void recordRenderedFrame(const SessionRef& session, std::chrono::nanoseconds duration);

// Releases the render context (update callback cleared first); does nothing
// when there is none. renderQueue.
void releaseRenderContext(Session& session) REQUIRES(session.renderQueue->worker)
    EXCLUDES(session.stateMutex);

}  // namespace hosted_mpv
