// The helper's headless OpenGL context: OpenGL 3.2 core profile, RGBA8, no
// window and no default framebuffer (all drawing goes to framebuffer objects).
// The platform file behind it is the only code that knows the window-system
// API (EGL on Linux).
//
// Threads: created on the main thread, then made current and used on one
// thread at a time (the render thread, or the main thread in probe mode).
#pragma once

#include <string>

namespace frame_helper {

// The three texts of a failed create.
inline constexpr const char* kGlOpenFailed = "failed to open the OpenGL framework";
inline constexpr const char* kGlNoPixelFormat = "no accelerated CGL pixel format";
inline constexpr const char* kGlCreateFailed = "failed to create a headless CGL context";

// The platform's headless GL API as the runtime probe reports it: "egl" on
// Linux, "cgl" on macOS.
extern const char* const kHeadlessGlApi;

struct GlContext {
  void* context = nullptr;  // the headless context; null when absent
  // OpenGL library handle for symbol lookup; stays open for the life of the
  // process (also after a failed create).
  void* library = nullptr;
  // The window-system display the context lives on (an EGLDisplay). Displays
  // are shared by every context of the process and stay initialised.
  void* display = nullptr;

  // Creates the context without making it current. On failure writes one of
  // the three texts above into `error` and returns false. Main thread.
  bool create(std::string& error);

  // Makes no context current on the calling thread, then destroys the
  // context. `library` stays open. Safe when nothing was created.
  void destroy();

  // Binds the context to the calling thread (surfaceless). False when that
  // fails or there is no context.
  bool makeCurrent();

  // Makes no context current on the calling thread.
  void clearCurrent();
};

// libmpv's get_proc_address callback: `ctx` is a GlContext's `library`.
// Looks `name` up there with dlsym, then through the window system's own
// lookup; null when neither knows it. (The EGL dispatcher of glvnd answers
// every name starting with "gl" with a stub that does nothing when the driver
// lacks the function; the engine checks extensions before it calls any.)
// Any thread.
void* glDlsymGetProcAddress(void* ctx, const char* name);

}  // namespace frame_helper
