// The OpenGL render path: frames drawn with the engine's OpenGL render API
// straight into the view's default framebuffer, at most one per display
// refresh.
// Threads: renderQueue creates, uses and releases the render context, always
// under the context lock (a leaf lock, never held across a dispatch); the
// display link thread only schedules. stateMutex is taken only to copy the
// surface size, before the context lock.
#include "render_opengl.h"

#include <GL/gl.h>
#include <dlfcn.h>
#include <mpv/render_gl.h>

#include "render.h"

namespace hosted_mpv {

int createOpenGLRenderContext(Session& session, const std::shared_ptr<GlContext>& glContext) {
  GlContextObject* object = glContext ? glContextObject(*glContext) : nullptr;
  if (!object) return MPV_ERROR_UNSUPPORTED;
  GlContextLock lock(object);
  makeGlContextCurrent(*glContext);
  mpv_opengl_init_params init{getOpenGLProcAddress, nullptr};
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
      {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &init},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  int result = mpv_render_context_create(&session.renderContext, session.mpv, params);
  if (result >= 0) session.renderGlContext = glContext;
  clearCurrentGlContext();
  return result;
}

std::string openGLRendererName(GlContext& glContext) {
  GlContextObject* object = glContextObject(glContext);
  if (!object) return {};
  using GetString = const GLubyte* (*)(GLenum);
  auto getString = reinterpret_cast<GetString>(getOpenGLProcAddress(nullptr, "glGetString"));
  if (!getString) return {};
  GlContextLock lock(object);
  if (!makeGlContextCurrent(glContext)) return {};
  const GLubyte* name = getString(GL_RENDERER);
  std::string text = name ? reinterpret_cast<const char*>(name) : "";
  clearCurrentGlContext();
  return text;
}

bool isSoftwareRasteriserName(const std::string& rendererName) {
  std::string lower = rendererName;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  for (const char* pattern : {"llvmpipe", "softpipe", "swrast", "software rasterizer", "lavapipe"}) {
    if (lower.find(pattern) != std::string::npos) return true;
  }
  return false;
}

void* getOpenGLProcAddress(void*, const char* name) {
  if (!name) return nullptr;
  if (void* address = dlsym(RTLD_DEFAULT, name)) return address;
  return lookupOpenGLFrameworkFunction(name);
}

void renderOpenGLBranch(const SessionRef& session) {
  if (!session->renderContext || !session->renderGlContext) return;  // released by teardown
  int width, height;
  uint64_t generation;
  {
    threads::MutexLock lock(session->stateMutex);
    width = session->surfaceWidth;
    height = session->surfaceHeight;
    generation = session->surfaceGeneration;
  }
  if (width < 1 || height < 1) {
    session->skippedFrameCount.fetch_add(1);
    return;
  }
  auto t0 = std::chrono::steady_clock::now();
  GlContextObject* object = glContextObject(*session->renderGlContext);
  if (!object) {
    session->skippedFrameCount.fetch_add(1);
    return;
  }
  GlContextLock lock(object);
  // A context the platform cannot make current draws nothing, like a
  // context without an object: the engine must not draw with none current.
  if (!makeGlContextCurrent(*session->renderGlContext)) {
    lock.unlock();
    session->skippedFrameCount.fetch_add(1);
    return;
  }
  bool placed = generation != session->drawnSurfaceGeneration;
  if (!(mpv_render_context_update(session->renderContext) & MPV_RENDER_UPDATE_FRAME) && !placed) {
    lock.unlock();
    session->skippedFrameCount.fetch_add(1);
    return;
  }
  glViewport(0, 0, width, height);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);

  mpv_opengl_fbo fbo{0, width, height, GL_RGBA8};
  int flipY = 1;
  int blockForTargetTime = 0;
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
      {MPV_RENDER_PARAM_FLIP_Y, &flipY},
      {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &blockForTargetTime},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  int result = mpv_render_context_render(session->renderContext, params);
  if (result < 0) {
    lock.unlock();
    updateSessionError(
        *session, std::string("Failed to render OpenGL frame: ") + mpv_error_string(result), true);
    return;
  }
  session->drawnSurfaceGeneration = generation;
  flushGlBuffer(*session->renderGlContext);
  mpv_render_context_report_swap(session->renderContext);
  lock.unlock();
  recordRenderedFrame(session, std::chrono::steady_clock::now() - t0);
}

void releaseOpenGLRenderContext(Session& session) {
  if (!session.renderContext) return;
  GlContextObject* object =
      session.renderGlContext ? glContextObject(*session.renderGlContext) : nullptr;
  GlContextLock lock(object);
  if (object) makeGlContextCurrent(*session.renderGlContext);
  mpv_render_context_set_update_callback(session.renderContext, nullptr, nullptr);
  mpv_render_context_free(session.renderContext);
  session.renderContext = nullptr;
  clearCurrentGlContext();
  lock.unlock();
  // The main thread drops its own reference with the view; the context goes
  // with the last one, never while current.
  session.renderGlContext.reset();
}

void displayLinkCallback(DisplayLink*, void* ctx) {
  if (!ctx) return;
  SessionRef session = static_cast<std::weak_ptr<Session>*>(ctx)->lock();
  if (!session) return;
  if (!session->running.load(std::memory_order_acquire) || session->softwareRenderer) return;
  // While a render is queued or running, a request waits for the next
  // refresh instead of being dropped: dropped, it would leave the engine's
  // frame undrawn until the engine gives up on it, and a paused session
  // would never draw its new size. Only this thread schedules renders on
  // this path, so nothing can schedule between the check and the exchange.
  if (session->renderScheduled.load(std::memory_order_acquire)) return;
  if (session->renderRequested.exchange(false, std::memory_order_acq_rel)) scheduleRender(session);
}

}  // namespace hosted_mpv
