// The OpenGL view and the display link on Linux: not available yet.
//
// The OpenGL path needs an EGL window surface on the render view's child
// window and a refresh ticker thread; until this layer has them, no OpenGL
// view, context or display link can be made here, and session creation takes
// its view fallback to the software renderer. Nothing below pretends
// otherwise: the calls that make things report that nothing was made, and the
// calls on things that cannot exist yet do nothing.
#include "platform/opengl_view.h"

namespace hosted_mpv {

struct GlPixelFormat {};
struct GlContext {};
struct DisplayLink {};

bool createOpenGLView(const NativeViewRef&, OpenGLViewParts&) { return false; }

void updateGlContext(GlContext&) {}

DisplayLink* displayLinkCreateWithActiveDisplays() { return nullptr; }

bool displayLinkSetCurrentDisplayFromGlContext(DisplayLink*, GlContext&, GlPixelFormat&) {
  return false;
}

void displayLinkSetOutputCallback(DisplayLink*, DisplayLinkOutputCallback, void*) {}

bool displayLinkStart(DisplayLink*) { return false; }

void displayLinkStop(DisplayLink*) {}

void displayLinkRelease(DisplayLink* link) { delete link; }

}  // namespace hosted_mpv
