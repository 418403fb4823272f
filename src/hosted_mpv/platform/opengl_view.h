// The OpenGL view of the OpenGL render path and its display link (stand in
// for NSOpenGLView, NSOpenGLContext and CVDisplayLink).
//
// Not yet available on the Linux layer: createOpenGLView reports failure and
// displayLinkCreateWithActiveDisplays gives no link, so every session takes the
// software path through the fallbacks of session creation. The EGL window
// surface view and the refresh ticker thread fill these in.
#pragma once

#include <memory>

#include "platform/native_view.h"

namespace hosted_mpv {

struct GlPixelFormat;
struct GlContext;
struct DisplayLink;

struct OpenGLViewParts {
  NativeViewRef view;
  std::shared_ptr<GlPixelFormat> pixelFormat;
  std::shared_ptr<GlContext> glContext;
};

// Makes the OpenGL view (pixel format, view, context with swap interval 1,
// attached to the view) and adds it above every other subview of `hostView`.
// False, with `parts` untouched, when any of them cannot be made. Main thread.
bool createOpenGLView(const NativeViewRef& hostView, OpenGLViewParts& parts);

// Tells the context that its view moved or changed size. Main thread.
void updateGlContext(GlContext& context);

// The display link output callback: called once per display refresh on the
// link's own thread.
using DisplayLinkOutputCallback = void (*)(DisplayLink* link, void* context);

// A link for the displays in use; null when there is none. Calling thread.
DisplayLink* displayLinkCreateWithActiveDisplays();
// Ties the link to the display that shows the context.
bool displayLinkSetCurrentDisplayFromGlContext(DisplayLink* link, GlContext& context,
                                               GlPixelFormat& pixelFormat);
void displayLinkSetOutputCallback(DisplayLink* link, DisplayLinkOutputCallback callback,
                                  void* context);
bool displayLinkStart(DisplayLink* link);
// Returns once no callback runs any more.
void displayLinkStop(DisplayLink* link);
void displayLinkRelease(DisplayLink* link);

}  // namespace hosted_mpv
