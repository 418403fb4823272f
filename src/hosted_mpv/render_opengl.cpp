// The OpenGL render path.
//
// No OpenGL context can be made on this platform layer yet
// (platform/opengl_view.h): every session reaches the software path through
// the view fallback, glContext stays empty, and the branches below take the
// paths that the design gives a context without a context object. The
// context lock, make-current, drawing into the window surface and the swap
// come with the EGL view.
#include "render_opengl.h"

#include "render.h"

namespace hosted_mpv {

int createOpenGLRenderContext(Session&) { return MPV_ERROR_UNSUPPORTED; }

void renderOpenGLBranch(const SessionRef& session) {
  if (!session->renderContext || !session->glContext) return;
  // Without a context object nothing can be drawn: a skipped frame.
  session->skippedFrameCount.fetch_add(1);
}

void releaseOpenGLRenderContext(Session& session) {
  if (!session.renderContext) return;
  mpv_render_context_set_update_callback(session.renderContext, nullptr, nullptr);
  mpv_render_context_free(session.renderContext);
  session.renderContext = nullptr;
}

void displayLinkCallback(DisplayLink*, void* ctx) {
  if (!ctx) return;
  SessionRef session = static_cast<std::weak_ptr<Session>*>(ctx)->lock();
  if (!session) return;
  if (!session->running.load(std::memory_order_acquire) || session->softwareRenderer) return;
  if (session->renderRequested.exchange(false, std::memory_order_acq_rel)) scheduleRender(session);
}

}  // namespace hosted_mpv
