/*
 * Preloaded (LD_PRELOAD) into a test's Node process: keeps count of the EGL
 * contexts and window surfaces alive in the process, and of the X windows
 * destroyed while an EGL surface still drew into them. After every change it
 * writes "<contexts> <surfaces> <windows destroyed under a surface>" as one
 * fixed-width line at the start of the file named by ORVANEL_EGL_COUNT_FILE.
 * Each wrapper calls the real function and counts only what succeeded.
 */
#define _GNU_SOURCE
#include <EGL/egl.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#define MAX_SURFACES 1024

static pthread_mutex_t gLock = PTHREAD_MUTEX_INITIALIZER;
/* Guarded by gLock. */
static int gContexts, gSurfaces, gWindowsUnderSurface;
static int gFd = -1;
static struct {
  EGLSurface surface;
  Window window;
} gLive[MAX_SURFACES];

/* The module that uses them loads EGL and Xlib privately (RTLD_LOCAL), out of
   RTLD_NEXT's reach: look in the libraries themselves. */
static void* realFunction(const char* library, const char* name) {
  void* handle = dlopen(library, RTLD_LAZY | RTLD_LOCAL);
  void* function = handle ? dlsym(handle, name) : NULL;
  if (!function) {
    fprintf(stderr, "egl_counter: no %s\n", name);
    abort();
  }
  return function;
}

static void writeCountsLocked(void) {
  if (gFd < 0) {
    const char* path = getenv("ORVANEL_EGL_COUNT_FILE");
    if (!path) return;
    gFd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (gFd < 0) return;
  }
  char line[40];
  int length =
      snprintf(line, sizeof line, "%10d %10d %10d\n", gContexts, gSurfaces, gWindowsUnderSurface);
  if (pwrite(gFd, line, (size_t)length, 0) != length) perror("egl_counter");
}

static void countContexts(int change) {
  pthread_mutex_lock(&gLock);
  gContexts += change;
  writeCountsLocked();
  pthread_mutex_unlock(&gLock);
}

EGLContext eglCreateContext(EGLDisplay display, EGLConfig config, EGLContext share,
                            const EGLint* attributes) {
  static EGLContext (*real)(EGLDisplay, EGLConfig, EGLContext, const EGLint*);
  if (!real) real = realFunction("libEGL.so.1", "eglCreateContext");
  EGLContext context = real(display, config, share, attributes);
  if (context != EGL_NO_CONTEXT) countContexts(1);
  return context;
}

EGLBoolean eglDestroyContext(EGLDisplay display, EGLContext context) {
  static EGLBoolean (*real)(EGLDisplay, EGLContext);
  if (!real) real = realFunction("libEGL.so.1", "eglDestroyContext");
  EGLBoolean done = real(display, context);
  if (done) countContexts(-1);
  return done;
}

static void addSurface(EGLSurface surface, Window window) {
  pthread_mutex_lock(&gLock);
  ++gSurfaces;
  for (int i = 0; i < MAX_SURFACES; ++i) {
    if (!gLive[i].surface) {
      gLive[i].surface = surface;
      gLive[i].window = window;
      break;
    }
  }
  writeCountsLocked();
  pthread_mutex_unlock(&gLock);
}

EGLSurface eglCreatePlatformWindowSurface(EGLDisplay display, EGLConfig config, void* window,
                                          const EGLAttrib* attributes) {
  static EGLSurface (*real)(EGLDisplay, EGLConfig, void*, const EGLAttrib*);
  if (!real) real = realFunction("libEGL.so.1", "eglCreatePlatformWindowSurface");
  EGLSurface surface = real(display, config, window, attributes);
  if (surface != EGL_NO_SURFACE) addSurface(surface, window ? *(Window*)window : 0);
  return surface;
}

EGLSurface eglCreateWindowSurface(EGLDisplay display, EGLConfig config, EGLNativeWindowType window,
                                  const EGLint* attributes) {
  static EGLSurface (*real)(EGLDisplay, EGLConfig, EGLNativeWindowType, const EGLint*);
  if (!real) real = realFunction("libEGL.so.1", "eglCreateWindowSurface");
  EGLSurface surface = real(display, config, window, attributes);
  if (surface != EGL_NO_SURFACE) addSurface(surface, (Window)window);
  return surface;
}

EGLBoolean eglDestroySurface(EGLDisplay display, EGLSurface surface) {
  static EGLBoolean (*real)(EGLDisplay, EGLSurface);
  if (!real) real = realFunction("libEGL.so.1", "eglDestroySurface");
  EGLBoolean done = real(display, surface);
  if (done) {
    pthread_mutex_lock(&gLock);
    --gSurfaces;
    for (int i = 0; i < MAX_SURFACES; ++i) {
      if (gLive[i].surface == surface) gLive[i].surface = 0;
    }
    writeCountsLocked();
    pthread_mutex_unlock(&gLock);
  }
  return done;
}

int XDestroyWindow(Display* display, Window window) {
  static int (*real)(Display*, Window);
  if (!real) real = realFunction("libX11.so.6", "XDestroyWindow");
  pthread_mutex_lock(&gLock);
  for (int i = 0; i < MAX_SURFACES; ++i) {
    if (gLive[i].surface && gLive[i].window == window) {
      ++gWindowsUnderSurface;
      writeCountsLocked();
      break;
    }
  }
  pthread_mutex_unlock(&gLock);
  return real(display, window);
}
