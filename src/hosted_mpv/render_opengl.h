// The OpenGL render path's pieces that session creation, teardown and the
// render task call.
#pragma once

#include <memory>
#include <string>

#include "platform/display_link.h"
#include "platform/opengl_view.h"
#include "session.h"

namespace hosted_mpv {

// Creates the OpenGL render context on `glContext`, the view's, and keeps
// the context as renderGlContext; the engine's result. renderQueue.
int createOpenGLRenderContext(Session& session, const std::shared_ptr<GlContext>& glContext)
    REQUIRES(session.renderQueue->worker) EXCLUDES(session.stateMutex);

// The context's GL_RENDERER, empty when it cannot be read. renderQueue.
std::string openGLRendererName(GlContext& glContext);

// True when an OpenGL renderer of that name is a rasteriser on the CPU
// (llvmpipe, softpipe, swrast, "software rasterizer", lavapipe; any letter
// case), where the engine's software renderer draws the same frames for a
// fraction of the CPU. Any thread.
bool isSoftwareRasteriserName(const std::string& rendererName);

// The resolver given to the engine for OpenGL functions; `ctx` is not used.
// Any thread.
void* getOpenGLProcAddress(void* ctx, const char* name);

// The OpenGL branch of the render task. renderQueue.
void renderOpenGLBranch(const SessionRef& session) REQUIRES(session->renderQueue->worker)
    EXCLUDES(session->stateMutex);

// Releases the OpenGL render context (update callback cleared first) with its
// GL context current; does nothing when there is none. renderQueue.
void releaseOpenGLRenderContext(Session& session) REQUIRES(session.renderQueue->worker)
    EXCLUDES(session.stateMutex);

// The display link output callback; `ctx` is the session's callbackContext.
// Display link thread; only schedules.
void displayLinkCallback(DisplayLink* link, void* ctx);

}  // namespace hosted_mpv
