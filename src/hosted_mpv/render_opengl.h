// The OpenGL render path's pieces that session creation, teardown and the
// render task call.
#pragma once

#include "platform/opengl_view.h"
#include "session.h"

namespace hosted_mpv {

// Creates the OpenGL render context on the view's context. renderQueue.
int createOpenGLRenderContext(Session& session);

// The OpenGL branch of the render task. renderQueue.
void renderOpenGLBranch(const SessionRef& session);

// Releases the OpenGL render context with its GL context current. renderQueue.
void releaseOpenGLRenderContext(Session& session);

// The display link output callback; `ctx` is the session's callbackContext.
// Display link thread; only schedules.
void displayLinkCallback(DisplayLink* link, void* ctx);

}  // namespace hosted_mpv
