// The OpenGL view on Linux: a click-through child window of the host window
// with an EGL window surface and an OpenGL 3.2 core context on it.
//
// EGL works through an X connection of its own, opened on first use and kept,
// with its EGL display, for the life of the process. Render queues draw and
// swap through it while the UI thread uses the module's connection for the
// views, so a frame upload never holds up view work, a render thread never
// reads the UI connection's events, and X errors of one connection never show
// up in the other's checks. X window ids belong to the server, so a surface on
// this connection draws into a window made on the other.
//
// Threads: createOpenGLView runs on the UI thread (it also opens the
// connection); the context operations run on the session's render queue with
// the context lock held; the UI thread takes the lock to destroy the window
// surface right before the view's window goes; a context is destroyed on the
// thread that drops it last, never while it is current. The context lock is a
// leaf lock.
#include "platform/opengl_view.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <atomic>
#include <vector>

#include "mutex.h"
#include "platform/linux/child_view.h"
#include "platform/linux/opengl_context.h"
#include "platform/linux/test_failures.h"
#include "platform/linux/x_connection.h"

namespace hosted_mpv {

struct GlPixelFormat {
  EGLConfig config = nullptr;  // immutable
};

struct GlContextObject {
  threads::Mutex lock;
};

struct GlContext {
  // Immutable once made.
  EGLContext context = EGL_NO_CONTEXT;
  double refreshRate = 60;
  GlContextObject object;
  // Set when made, and destroyed (EGL_NO_SURFACE) right before the view's
  // window goes.
  EGLSurface surface GUARDED_BY(object.lock) = EGL_NO_SURFACE;

  GlContext() = default;
  GlContext(const GlContext&) = delete;
  GlContext& operator=(const GlContext&) = delete;
  ~GlContext();
};

namespace {

constexpr double kDefaultRefreshRate = 60;

// Set once on the UI thread under gEglOnce, read-only afterwards.
std::once_flag gEglOnce;
Display* gEglX = nullptr;
EGLDisplay gEglDisplay = EGL_NO_DISPLAY;
// Read by the error handler on whichever thread reads an error.
std::atomic<Display*> gEglXForErrors{nullptr};
XErrorHandler gPreviousErrorHandler = nullptr;

// Errors of EGL's connection come from requests that EGL made for a surface
// and reports through its own results; they must not reach the default
// handler, which ends the process.
int onXError(Display* display, XErrorEvent* event) {
  if (display == gEglXForErrors.load()) return 0;
  return gPreviousErrorHandler ? gPreviousErrorHandler(display, event) : 0;
}

// A lost X server must not end the application.
void onEglConnectionLost(Display*, void*) {}

Bool anyEvent(Display*, XEvent*, XPointer) { return True; }

void openEglDisplay() {
  gEglX = XOpenDisplay(nullptr);
  if (!gEglX) return;
  gEglXForErrors.store(gEglX);
  gPreviousErrorHandler = XSetErrorHandler(onXError);
  XSetIOErrorExitHandler(gEglX, onEglConnectionLost, nullptr);
  EGLDisplay display = eglGetPlatformDisplay(EGL_PLATFORM_X11_KHR, gEglX, nullptr);
  if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) return;
  gEglDisplay = display;
}

// The process's EGL display; EGL_NO_DISPLAY when EGL cannot be had. UI thread
// on first use; any thread once a context exists.
EGLDisplay eglDisplay() {
  std::call_once(gEglOnce, openEglDisplay);
  return gEglDisplay;
}

// A config for window surfaces of `visual`, with 24 bits of colour and 8 of
// alpha, that renders desktop OpenGL; null when there is none.
EGLConfig chooseConfig(EGLDisplay display, VisualID visual) {
  // clang-format off
  const EGLint attributes[] = {
      EGL_SURFACE_TYPE, EGL_WINDOW_BIT,
      EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
      EGL_RED_SIZE, 8,
      EGL_GREEN_SIZE, 8,
      EGL_BLUE_SIZE, 8,
      EGL_ALPHA_SIZE, 8,
      EGL_NONE,
  };
  // clang-format on
  EGLint count = 0;
  if (!eglChooseConfig(display, attributes, nullptr, 0, &count) || count < 1) return nullptr;
  std::vector<EGLConfig> configs(size_t(count), nullptr);
  if (!eglChooseConfig(display, attributes, configs.data(), count, &count)) return nullptr;
  for (EGLint i = 0; i < count; ++i) {
    EGLint id = 0;
    if (eglGetConfigAttrib(display, configs[size_t(i)], EGL_NATIVE_VISUAL_ID, &id) &&
        VisualID(id) == visual) {
      return configs[size_t(i)];
    }
  }
  return nullptr;
}

double modeRefreshRate(const XRRModeInfo& mode) {
  if (!mode.dotClock || !mode.hTotal || !mode.vTotal) return 0;
  double rate = double(mode.dotClock) / (double(mode.hTotal) * double(mode.vTotal));
  if (mode.modeFlags & RR_Interlace) rate *= 2;
  if (mode.modeFlags & RR_DoubleScan) rate /= 2;
  return rate;
}

// The refresh rate of the CRTC that shows the window's top left corner (else
// of the first CRTC that shows anything); 0 when XRandR reports none.
double screenRefreshRate(Display* display, Window window) REQUIRES(gMainThread) {
  int eventBase, errorBase, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase) ||
      !XRRQueryVersion(display, &major, &minor) || major * 100 + minor < 103) {
    return 0;
  }
  XErrorTrap trap(display);
  XWindowAttributes attributes;
  int x = 0, y = 0;
  Window child;
  if (!XGetWindowAttributes(display, window, &attributes) ||
      !XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &child)) {
    return 0;
  }
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, attributes.root);
  if (!resources) return 0;
  double containing = 0, first = 0;
  for (int i = 0; i < resources->ncrtc && !containing; ++i) {
    XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
    if (!crtc) continue;
    for (int m = 0; crtc->mode != None && m < resources->nmode; ++m) {
      if (resources->modes[m].id != crtc->mode) continue;
      double rate = modeRefreshRate(resources->modes[m]);
      if (!first) first = rate;
      bool inside = x >= crtc->x && y >= crtc->y && x < crtc->x + int(crtc->width) &&
                    y < crtc->y + int(crtc->height);
      if (inside) containing = rate;
    }
    XRRFreeCrtcInfo(crtc);
  }
  XRRFreeScreenResources(resources);
  if (trap.failed()) return 0;
  return containing > 0 ? containing : first;
}

// The context of `config`: OpenGL 3.2, core profile.
EGLContext createContext(EGLDisplay display, EGLConfig config) {
  // clang-format off
  const EGLint attributes[] = {
      EGL_CONTEXT_MAJOR_VERSION, 3,
      EGL_CONTEXT_MINOR_VERSION, 2,
      EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
      EGL_NONE,
  };
  // clang-format on
  if (!eglBindAPI(EGL_OPENGL_API)) return EGL_NO_CONTEXT;
  return eglCreateContext(display, config, EGL_NO_CONTEXT, attributes);
}

// Destroys the window surface, unless done already. The window it draws into
// must still exist: the surface's last requests name it. Any thread.
void destroySurface(GlContext& context) EXCLUDES(context.object.lock) {
  threads::MutexLock lock(context.object.lock);
  if (context.surface == EGL_NO_SURFACE) return;
  eglDestroySurface(gEglDisplay, context.surface);
  context.surface = EGL_NO_SURFACE;
}

}  // namespace

GlContext::~GlContext() {
  // EGL defers the destruction of a context or surface that is still current
  // somewhere until it is released there.
  if (surface != EGL_NO_SURFACE) eglDestroySurface(gEglDisplay, surface);
  if (context != EGL_NO_CONTEXT) eglDestroyContext(gEglDisplay, context);
}

bool createOpenGLView(const NativeViewRef& hostView, OpenGLViewParts& parts) {
  if (!hostView) return false;
  EGLDisplay display = eglDisplay();
  if (display == EGL_NO_DISPLAY) return false;

  // The pixel format: a config that draws into windows of the host's visual,
  // which the view's window shares.
  auto pixelFormat = std::make_shared<GlPixelFormat>();
  pixelFormat->config = chooseConfig(display, viewVisualId(*hostView));
  if (!pixelFormat->config) return false;

  NativeViewRef view = createChildView(hostView, false);
  if (!view) return false;

  auto context = std::make_shared<GlContext>();
  context->context = createContext(display, pixelFormat->config);
  if (context->context == EGL_NO_CONTEXT) return false;  // the view goes with its last reference
  Window window = viewWindow(*view);
  EGLSurface surface =
      eglCreatePlatformWindowSurface(display, pixelFormat->config, &window, nullptr);
  if (surface == EGL_NO_SURFACE) return false;
  {
    threads::MutexLock lock(context->object.lock);
    context->surface = surface;
  }
  // The surface goes before the window, however the window goes: with the
  // view's removal at teardown, or with the view dropped on a failure below.
  std::weak_ptr<GlContext> surfaceOwner = context;
  setViewBeforeDestroy(*view, [surfaceOwner] {
    if (auto owner = surfaceOwner.lock()) destroySurface(*owner);
  });

  // Swap interval 1: a swap waits for the display's refresh where the driver
  // can wait for one.
  {
    threads::MutexLock lock(context->object.lock);
    if (!eglMakeCurrent(display, context->surface, context->surface, context->context)) {
      return false;
    }
    eglSwapInterval(display, 1);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }

  double rate = screenRefreshRate(uiDisplay(), window);
  context->refreshRate = rate > 0 ? rate : kDefaultRefreshRate;

  addSubviewAbove(hostView, view);
  parts.view = view;
  parts.pixelFormat = pixelFormat;
  parts.glContext = context;
  return true;
}

// An EGL window surface follows its window's size at every frame: nothing to
// tell it.
void updateGlContext(GlContext&) {}

GlContextObject* glContextObject(GlContext& context) {
  if (testFailureRequested("render-context")) return nullptr;
  return &context.object;
}

// The context lock as its callers see it: opaque, and no lock without an
// object (GlContextLock). Only the functions below, which say that they
// need it held, are checked against it.
void lockGlContext(GlContextObject* object) NO_THREAD_SAFETY_ANALYSIS {
  if (object) object->lock.lock();
}

void unlockGlContext(GlContextObject* object) NO_THREAD_SAFETY_ANALYSIS {
  if (object) object->lock.unlock();
}

bool makeGlContextCurrent(GlContext& context) REQUIRES(context.object.lock) {
  // No surface: the view's window is gone, and there is nothing to draw into.
  if (context.surface == EGL_NO_SURFACE) return false;
  // The bound API is per thread; the render queue's thread may not have
  // bound one yet.
  return eglBindAPI(EGL_OPENGL_API) &&
         eglMakeCurrent(gEglDisplay, context.surface, context.surface, context.context);
}

void clearCurrentGlContext() {
  if (gEglDisplay != EGL_NO_DISPLAY) {
    eglMakeCurrent(gEglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
}

void flushGlBuffer(GlContext& context) REQUIRES(context.object.lock) {
  eglSwapBuffers(gEglDisplay, context.surface);
  // Errors of requests EGL made (a window the host destroyed, say) and events
  // sent to every client wait in the connection's queue until someone reads
  // it; read them away here, without blocking (other render queues may be
  // reading too).
  XEvent event;
  while (XCheckIfEvent(gEglX, &event, anyEvent, nullptr)) {
  }
}

void* lookupOpenGLFrameworkFunction(const char* name) {
  return name ? reinterpret_cast<void*>(eglGetProcAddress(name)) : nullptr;
}

double glContextRefreshRate(const GlContext& context) { return context.refreshRate; }

}  // namespace hosted_mpv
