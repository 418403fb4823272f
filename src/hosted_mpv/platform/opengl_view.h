// The OpenGL view of the OpenGL render path and its context (stand in for
// NSOpenGLPixelFormat, NSOpenGLView, NSOpenGLContext and the CGL context
// object with its lock). On Linux the view is a child window with an EGL
// window surface (platform/linux/opengl_view.cpp).
#pragma once

#include <memory>

#include "platform/native_view.h"

namespace hosted_mpv {

struct GlPixelFormat;
struct GlContext;
// The context object behind a GlContext (CGLContextObj): what is locked.
struct GlContextObject;

struct OpenGLViewParts {
  NativeViewRef view;
  std::shared_ptr<GlPixelFormat> pixelFormat;
  std::shared_ptr<GlContext> glContext;
};

// Makes the OpenGL view (pixel format, view, context with swap interval 1,
// attached to the view) and adds it above every other subview of `hostView`.
// False, with `parts` untouched, when any of them cannot be made. Main thread.
bool createOpenGLView(const NativeViewRef& hostView, OpenGLViewParts& parts)
    REQUIRES(gMainThread);

// Tells the context that its view moved or changed size. Main thread.
void updateGlContext(GlContext& context) REQUIRES(gMainThread);

// The context's object, or null when it has none. Any thread.
GlContextObject* glContextObject(GlContext& context);

// The context lock (CGLLockContext / CGLUnlockContext). Held around every use
// of the context on the render queue; never held across a dispatch.
void lockGlContext(GlContextObject* object);
void unlockGlContext(GlContextObject* object);

// Scoped form of the context lock; unlock() ends it early.
class GlContextLock {
 public:
  explicit GlContextLock(GlContextObject* object) : object(object) { lockGlContext(object); }
  ~GlContextLock() { unlock(); }
  GlContextLock(const GlContextLock&) = delete;
  GlContextLock& operator=(const GlContextLock&) = delete;
  void unlock() {
    if (object) unlockGlContext(object);
    object = nullptr;
  }

 private:
  GlContextObject* object;
};

// Makes the context current on the calling thread (makeCurrentContext); false
// when the platform refuses (on Linux, EGL can). Clears the calling thread's
// current context (clearCurrentContext). Caller holds the context lock.
bool makeGlContextCurrent(GlContext& context);
void clearCurrentGlContext();

// Shows what was drawn into the default framebuffer (flushBuffer). Context
// current, caller holds the context lock.
void flushGlBuffer(GlContext& context);

// Looks an OpenGL function up in the platform's OpenGL library (the OpenGL
// framework bundle on macOS); null when it has none. Any thread.
void* lookupOpenGLFrameworkFunction(const char* name);

}  // namespace hosted_mpv
