// Render view hosting.
// Threads: view fields are touched only in main-thread tasks; the surface size
// and scale cross to the render queue under stateMutex.
#include "views.h"

#include <climits>
#include <cmath>

#include "platform/main_thread.h"
#include "platform/native_view.h"
#include "render.h"

namespace hosted_mpv {

bool createOpenGLView(Session& session) {
  bool created = false;
  runOnMainThread([&] {
    threads::assertRole(gMainThread);
    OpenGLViewParts parts;
    if (!hosted_mpv::createOpenGLView(session.hostView, parts)) return;
    session.pixelFormat = parts.pixelFormat;
    session.glContext = parts.glContext;
    session.renderView = parts.view;
    created = true;
  });
  return created;
}

bool createSoftwareView(Session& session) {
  bool created = false;
  runOnMainThread([&] {
    threads::assertRole(gMainThread);
    NativeViewRef view = createContainerView(session.hostView);
    if (!view) return;  // the window system refused the view
    session.renderView = view;
    addSubviewAbove(session.hostView, view);
    created = true;
  });
  return created;
}

void removeRenderView(Session& session) {
  runOnMainThread([&] {
    threads::assertRole(gMainThread);
    if (session.renderView) {
      removeFromSuperview(session.renderView);
      session.renderView.reset();
    }
    session.glContext.reset();
    session.pixelFormat.reset();
  });
}

OpenGLViewParts copyViewParts(Session& session) {
  OpenGLViewParts parts;
  runOnMainThread([&] {
    threads::assertRole(gMainThread);
    parts.view = session.renderView;
    parts.pixelFormat = session.pixelFormat;
    parts.glContext = session.glContext;
  });
  return parts;
}

namespace {

// Rounds halves away from zero; negative sizes become 0 and sizes beyond an
// int are capped there.
int32_t roundedSurfaceDimension(double value) {
  if (!(value > 0)) return 0;
  double rounded = std::round(value);
  return rounded >= double(INT32_MAX) ? INT32_MAX : int32_t(rounded);
}

}  // namespace

void updateRenderSurfaceMetrics(Session& session) {
  runOnMainThread([&] {
    threads::assertRole(gMainThread);
    if (!session.renderView) return;
    ViewRect bounds = viewBounds(session.renderView);
    ViewSize size = convertSizeToBacking(session.renderView, {bounds.width, bounds.height});
    double scale = backingScaleFactor(session.renderView);
    ViewSize maxFrame = maxLayerContentsSize(session.renderView);
    {
      threads::MutexLock lock(session.stateMutex);
      session.surfaceWidth = roundedSurfaceDimension(size.width);
      session.surfaceHeight = roundedSurfaceDimension(size.height);
      session.maxFrameWidth = roundedSurfaceDimension(maxFrame.width);
      session.maxFrameHeight = roundedSurfaceDimension(maxFrame.height);
      session.backingScale = scale > 0 ? scale : 1.0;
      ++session.surfaceGeneration;
    }
    if (viewHasLayer(session.renderView)) setLayerContentsScale(session.renderView, scale);
  });
}

void setSessionFrame(const SessionRef& session, double x, double y, double width, double height) {
  runOnMainThread([&] {
    threads::assertRole(gMainThread);
    if (!session->nativeView || !session->hostView || !session->renderView) return;
    double w = width < 0 ? 0 : width;
    double h = height < 0 ? 0 : height;
    ViewRect rect{x, y, w, h};
    if (!viewIsFlipped(session->nativeView)) {
      ViewRect b = viewBounds(session->nativeView);
      rect.y = b.y + b.height - y - h;
    }
    if (session->hostView != session->nativeView) {
      rect = convertRectFromView(session->hostView, rect, session->nativeView);
    }
    setViewFrame(session->renderView, rect);
    if (session->glContext) {
      updateGlContext(*session->glContext);
    } else {
      setViewNeedsDisplay(session->renderView);
    }
  });
  updateRenderSurfaceMetrics(*session);
  if (session->softwareRenderer) {
    scheduleRender(session);
  } else {
    session->renderRequested.store(true, std::memory_order_release);
  }
}

}  // namespace hosted_mpv
