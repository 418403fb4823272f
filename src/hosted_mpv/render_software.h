// The software render path: the engine's software renderer draws into memory,
// the frame becomes an image and the main thread shows it in the render view.
#pragma once

#include <cstddef>

#include "platform/native_view.h"
#include "session.h"

namespace hosted_mpv {

// Bytes per row of a "bgr0" frame: width × 4 rounded up to a multiple of 64.
size_t softwareStride(int width);

// The software branch of the render task. renderQueue.
void renderSoftwareBranch(const SessionRef& session) REQUIRES(session->renderQueue->worker)
    EXCLUDES(session->stateMutex);

// Hands one image to the render view's layer. Main thread.
void renderSoftwareFrame(const SessionRef& session, const PixelImageRef& image, double scale)
    EXCLUDES(session->stateMutex);

}  // namespace hosted_mpv
