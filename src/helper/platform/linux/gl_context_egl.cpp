// GlContext on Linux: a surfaceless EGL context on a device display (a GPU,
// or Mesa's software device), else on Mesa's surfaceless platform. No X
// server is needed.
//
// libEGL and the OpenGL library are opened once per process and never closed;
// EGL displays are shared process-wide and never terminated, because
// terminating one would pull it from under any other context on it.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <dlfcn.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "gl_context.h"

namespace frame_helper {
namespace {

struct EglApi {
  PFNEGLGETPROCADDRESSPROC getProcAddress = nullptr;
  PFNEGLGETPLATFORMDISPLAYPROC getPlatformDisplay = nullptr;
  PFNEGLINITIALIZEPROC initialize = nullptr;
  PFNEGLQUERYSTRINGPROC queryString = nullptr;
  PFNEGLBINDAPIPROC bindApi = nullptr;
  PFNEGLCHOOSECONFIGPROC chooseConfig = nullptr;
  PFNEGLCREATECONTEXTPROC createContext = nullptr;
  PFNEGLDESTROYCONTEXTPROC destroyContext = nullptr;
  PFNEGLMAKECURRENTPROC makeCurrent = nullptr;
  PFNEGLRELEASETHREADPROC releaseThread = nullptr;
  PFNEGLQUERYDEVICESEXTPROC queryDevices = nullptr;  // null without device enumeration
};

// Written once under gLoadOnce, read-only afterwards.
std::once_flag gLoadOnce;
EglApi gEgl;
bool gEglLoaded = false;
void* gGlLibrary = nullptr;

template <typename T>
bool loadSymbol(void* handle, const char* name, T& out) {
  out = reinterpret_cast<T>(dlsym(handle, name));
  return out != nullptr;
}

void loadLibraries() {
  void* egl = dlopen("libEGL.so.1", RTLD_LAZY | RTLD_LOCAL);
  if (egl) {
    gEglLoaded = loadSymbol(egl, "eglGetProcAddress", gEgl.getProcAddress) &&
                 loadSymbol(egl, "eglGetPlatformDisplay", gEgl.getPlatformDisplay) &&
                 loadSymbol(egl, "eglInitialize", gEgl.initialize) &&
                 loadSymbol(egl, "eglQueryString", gEgl.queryString) &&
                 loadSymbol(egl, "eglBindAPI", gEgl.bindApi) &&
                 loadSymbol(egl, "eglChooseConfig", gEgl.chooseConfig) &&
                 loadSymbol(egl, "eglCreateContext", gEgl.createContext) &&
                 loadSymbol(egl, "eglDestroyContext", gEgl.destroyContext) &&
                 loadSymbol(egl, "eglMakeCurrent", gEgl.makeCurrent) &&
                 loadSymbol(egl, "eglReleaseThread", gEgl.releaseThread);
    if (gEglLoaded) {
      gEgl.queryDevices =
          reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(gEgl.getProcAddress("eglQueryDevicesEXT"));
    }
  }
  gGlLibrary = dlopen("libOpenGL.so.0", RTLD_LAZY | RTLD_LOCAL);
  if (!gGlLibrary) gGlLibrary = dlopen("libGL.so.1", RTLD_LAZY | RTLD_LOCAL);
}

bool hasExtension(const char* list, const char* name) {
  if (!list) return false;
  const size_t length = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
    const bool startsWord = p == list || p[-1] == ' ';
    const bool endsWord = p[length] == ' ' || p[length] == '\0';
    if (startsWord && endsWord) return true;
  }
  return false;
}

// 8 bits of red, green, blue and alpha, desktop OpenGL, any surface type
// (the context never gets a surface).
// clang-format off
constexpr EGLint kConfigAttributes[] = {
    EGL_RED_SIZE, 8,
    EGL_GREEN_SIZE, 8,
    EGL_BLUE_SIZE, 8,
    EGL_ALPHA_SIZE, 8,
    EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
    EGL_SURFACE_TYPE, 0,
    EGL_NONE};

constexpr EGLint kContextAttributes[] = {
    EGL_CONTEXT_MAJOR_VERSION, 3,
    EGL_CONTEXT_MINOR_VERSION, 2,
    EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
    EGL_NONE};
// clang-format on

// Initialises `display` and picks its first matching config; false when the
// display cannot run a surfaceless desktop OpenGL context.
bool usableDisplay(EGLDisplay display, EGLConfig& config) {
  if (display == EGL_NO_DISPLAY) return false;
  EGLint major = 0;
  EGLint minor = 0;
  if (!gEgl.initialize(display, &major, &minor)) return false;
  if (!hasExtension(gEgl.queryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context")) {
    return false;
  }
  if (!hasExtension(gEgl.queryString(display, EGL_CLIENT_APIS), "OpenGL")) return false;
  EGLint count = 0;
  return gEgl.chooseConfig(display, kConfigAttributes, &config, 1, &count) && count > 0;
}

// The first device display that works, else Mesa's surfaceless display.
EGLDisplay chooseDisplay(EGLConfig& config) {
  if (gEgl.queryDevices) {
    EGLint count = 0;
    if (gEgl.queryDevices(0, nullptr, &count) && count > 0) {
      std::vector<EGLDeviceEXT> devices(static_cast<size_t>(count));
      if (gEgl.queryDevices(count, devices.data(), &count)) {
        for (EGLint i = 0; i < count; ++i) {
          EGLDisplay display =
              gEgl.getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
          if (usableDisplay(display, config)) return display;
        }
      }
    }
  }
  EGLDisplay display =
      gEgl.getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  return usableDisplay(display, config) ? display : EGL_NO_DISPLAY;
}

}  // namespace

const char* const kHeadlessGlApi = "egl";

bool GlContext::create(std::string& error) {
  std::call_once(gLoadOnce, loadLibraries);
  if (!gEglLoaded || !gGlLibrary) {
    error = kGlOpenFailed;
    return false;
  }
  library = gGlLibrary;

  EGLConfig config = nullptr;
  EGLDisplay chosen = chooseDisplay(config);
  // The API binding is per thread: makeCurrent and clearCurrent repeat it.
  if (chosen == EGL_NO_DISPLAY || !gEgl.bindApi(EGL_OPENGL_API)) {
    error = kGlNoPixelFormat;
    return false;
  }
  EGLContext created = gEgl.createContext(chosen, config, EGL_NO_CONTEXT, kContextAttributes);
  if (created == EGL_NO_CONTEXT) {
    error = kGlCreateFailed;
    return false;
  }
  display = chosen;
  context = created;
  return true;
}

void GlContext::destroy() {
  clearCurrent();
  if (context) {
    gEgl.destroyContext(display, context);
    context = nullptr;
  }
  // Frees this thread's EGL state; a later makeCurrent builds it again.
  if (gEglLoaded) gEgl.releaseThread();
}

bool GlContext::makeCurrent() {
  if (!context) return false;
  return gEgl.bindApi(EGL_OPENGL_API) &&
         gEgl.makeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context);
}

void GlContext::clearCurrent() {
  if (!display) return;
  gEgl.bindApi(EGL_OPENGL_API);
  gEgl.makeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

void* glDlsymGetProcAddress(void* ctx, const char* name) {
  if (ctx) {
    if (void* symbol = dlsym(ctx, name)) return symbol;
  }
  std::call_once(gLoadOnce, loadLibraries);
  if (!gEglLoaded) return nullptr;
  return reinterpret_cast<void*>(gEgl.getProcAddress(name));
}

}  // namespace frame_helper
