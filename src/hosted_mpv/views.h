// The session's render view over the application window: creation, removal
// and placement, and the render surface size that placement derives.
#pragma once

#include "platform/opengl_view.h"
#include "session.h"

namespace hosted_mpv {

// A placement in the native view's coordinates (origin top left).
struct ViewBounds {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// Each runs its view work synchronously on the main thread. Any thread.
bool createOpenGLView(Session& session);
bool createSoftwareView(Session& session);
void removeRenderView(Session& session);

// The render view, pixel format and OpenGL context as the main thread holds
// them (null where there are none): creation keeps its own references of
// them for the render queue and the display link. Any thread.
OpenGLViewParts copyViewParts(Session& session);

// Places the render view at (x, y, width, height) in the native view's
// coordinates (origin top left), updates the surface size and asks for a
// frame of the new size. Calling thread.
void setSessionFrame(const SessionRef& session, double x, double y, double width, double height);

// Derives surfaceWidth, surfaceHeight and backingScale from the render view.
void updateRenderSurfaceMetrics(Session& session) EXCLUDES(session.stateMutex);

}  // namespace hosted_mpv
