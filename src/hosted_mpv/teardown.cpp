// Session teardown.
// Threads: the calling thread; it waits for the event thread (join), the
// render queue and the main thread, in that order. stateMutex is taken only
// for two short snapshot updates, never across an engine call or a dispatch.
#include "teardown.h"

#include "platform/display_link.h"
#include "platform/main_thread.h"
#include "recording.h"
#include "render.h"

namespace hosted_mpv {

void destroySession(const SessionRef& session) {
  if (!session) return;
  session->running.store(false, std::memory_order_release);
  session->renderRequested.store(false, std::memory_order_release);

  if (session->displayLink) displayLinkStop(session->displayLink);

  if (session->mpv) {
    stopRecordingForTeardown(*session);
    mpv_wakeup(session->mpv);
  }

  if (session->eventThread.joinable()) session->eventThread.join();

  // Only the queue makes a render context: without one there is none.
  if (session->renderQueue) {
    dispatchSync(*session->renderQueue, [&] {
      threads::assertRole(session->renderQueue->worker);
      releaseRenderContext(*session);
    });
  }

  if (session->callbackContext) {
    delete session->callbackContext;
    session->callbackContext = nullptr;
  }

  // Before the engine: its client answers a hook it may hold.
  engine::stopTurnWatch(session->turnWatch);

  if (session->displayLink) {
    displayLinkRelease(session->displayLink);
    session->displayLink = nullptr;
  }

  if (session->mpv) {
    mpv_terminate_destroy(session->mpv);
    session->mpv = nullptr;
  }

  {
    threads::MutexLock lock(session->stateMutex);
    session->snapshot.status = engine::PlaybackStatus::closed;
  }

  runOnMainThread([&] {
    threads::assertRole(gMainThread);
    if (session->renderView) {
      removeFromSuperview(session->renderView);
      session->renderView.reset();
    }
    session->glContext.reset();
    session->pixelFormat.reset();
    session->nativeView.reset();
    session->hostView.reset();
  });
}

void disposeSession(SessionRegistry& registry, const std::string& id) {
  SessionRef session = removeSession(registry, id);
  if (session) destroySession(session);
}

void disposeAllSessions(SessionRegistry& registry) {
  for (const SessionRef& session : removeAllSessions(registry)) destroySession(session);
}

}  // namespace hosted_mpv
