// Render scheduling and the render task's frame.
// Threads: libmpv's thread (onRenderContextUpdate), any thread
// (scheduleRender), renderQueue (the task, holding the queue's role). Only
// atomics are shared; the surface size is read by the branches under
// stateMutex.
#include "render.h"

#include <cstdio>

#include "render_opengl.h"
#include "render_software.h"
#include "trace.h"

namespace hosted_mpv {

void onRenderContextUpdate(void* ctx) {
  if (!ctx) return;
  SessionRef session = static_cast<std::weak_ptr<Session>*>(ctx)->lock();
  if (!session) return;
  if (session->softwareRenderer) {
    scheduleRender(session);
  } else {
    session->renderRequested.store(true, std::memory_order_release);
  }
}

void scheduleRender(const SessionRef& session) {
  // Whether a render context exists is the task's to check (the queue's
  // state): a task queued without one draws nothing.
  if (!session || !session->renderQueue) return;
  // The software path has no display link to ask again: a request that comes
  // while a render is queued or running is remembered in renderRequested and
  // drawn right after it. Dropping it would leave the engine's newest frame
  // unrendered, and the engine drops such a frame after waiting 0.2 seconds.
  if (session->softwareRenderer) session->renderRequested.store(true);
  if (session->renderScheduled.exchange(true)) return;
  dispatchAsync(*session->renderQueue, [session] { runRenderTask(session); });
}

void runRenderTask(const SessionRef& session) {
  threads::assertRole(session->renderQueue->worker);
  struct EndOfTask {
    const SessionRef& session;
    ~EndOfTask() { endRenderTask(session); }
  } endOfTask{session};
  if (session->softwareRenderer) {
    session->renderRequested.store(false);  // this render draws the newest frame
    renderSoftwareBranch(session);
  } else {
    renderOpenGLBranch(session);
  }
}

void endRenderTask(const SessionRef& session) {
  session->renderScheduled.store(false);
  // Cleared before it is read (both sequentially consistent), so a request
  // that found this task still scheduled is seen here.
  if (session->softwareRenderer && session->renderRequested.exchange(false)) {
    scheduleRender(session);
  }
}

void recordRenderedFrame(const SessionRef& session, std::chrono::nanoseconds duration) {
  if (!session) return;
  auto nanos = uint64_t(duration.count() > 0 ? duration.count() : 0);
  uint64_t frames = session->renderedFrameCount.fetch_add(1) + 1;
  uint64_t total = session->totalRenderNanos.fetch_add(nanos) + nanos;
  if (frames % 120 != 0 || !session->traceEnabled) return;
  std::fprintf(stderr,
               "[hosted-mpv][%s][trace] renderer=%s frames=%llu avgRenderMs=%.2f skipped=%llu\n",
               session->id.c_str(), session->softwareRenderer ? "sw" : "gl",
               static_cast<unsigned long long>(frames), double(total) / double(frames) / 1e6,
               static_cast<unsigned long long>(session->skippedFrameCount.load()));
}

void releaseRenderContext(Session& session) {
  if (!session.renderContext) return;
  if (session.softwareRenderer || !session.renderGlContext) {
    mpv_render_context_set_update_callback(session.renderContext, nullptr, nullptr);
    mpv_render_context_free(session.renderContext);
    session.renderContext = nullptr;
    return;
  }
  releaseOpenGLRenderContext(session);
}

}  // namespace hosted_mpv
