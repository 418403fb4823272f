// The OpenGL render path's pieces that session creation, teardown and the
// render task call.
#pragma once

#include "platform/display_link.h"
#include <string>

#include "session.h"

namespace hosted_mpv {

// Creates the OpenGL render context on the view's context; the engine's
// result. renderQueue.
int createOpenGLRenderContext(Session& session) EXCLUDES(session.stateMutex);

// The view context's GL_RENDERER, empty when it cannot be read. renderQueue.
std::string openGLRendererName(Session& session) EXCLUDES(session.stateMutex);

// True when an OpenGL renderer of that name is a rasteriser on the CPU
// (llvmpipe, softpipe, swrast, "software rasterizer", lavapipe; any letter
// case), where the engine's software renderer draws the same frames for a
// fraction of the CPU. Any thread.
bool isSoftwareRasteriserName(const std::string& rendererName);

// The resolver given to the engine for OpenGL functions; `ctx` is not used.
// Any thread.
void* getOpenGLProcAddress(void* ctx, const char* name);

// The OpenGL branch of the render task. renderQueue.
void renderOpenGLBranch(const SessionRef& session) EXCLUDES(session->stateMutex);

// Releases the OpenGL render context (update callback cleared first) with its
// GL context current; does nothing when there is none. renderQueue.
void releaseOpenGLRenderContext(Session& session) EXCLUDES(session.stateMutex);

// The display link output callback; `ctx` is the session's callbackContext.
// Display link thread; only schedules.
void displayLinkCallback(DisplayLink* link, void* ctx);

}  // namespace hosted_mpv
