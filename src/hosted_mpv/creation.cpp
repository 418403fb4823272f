// createSession: builds a complete session (views, player, render context,
// display link, observed properties, event thread), then registers it.
// Runs on the JavaScript thread; view work runs synchronously on the main
// thread and OpenGL render context work on the session's render queue. No
// other thread knows the session before its callback context exists, so the
// snapshot writes below take no lock until then.
#include <cmath>
#include <cstdio>
#include <system_error>

#include "call_conventions.h"
#include "event_thread.h"
#include "exports.h"
#include "extra_options.h"
#include "platform/main_thread.h"
#include "render.h"
#include "render_opengl.h"
#include "rotation.h"
#include "session_properties.h"
#include "teardown.h"
#include "trace.h"
#include "views.h"

namespace hosted_mpv {
namespace {

const char* const kRenderQueueLabel = "dev.orvanel.hosted-mpv.render";

double initialVolume(const Napi::CallbackInfo& info) {
  if (info.Length() <= 3 || !info[3].IsNumber()) return 100;
  double volume = info[3].As<Napi::Number>().DoubleValue();
  // NaN is no volume at all: full volume, as for a missing one.
  if (std::isnan(volume)) return 100;
  if (volume < 0) return 0;
  if (volume > 1) return 100;
  return volume * 100;
}

int createSoftwareRenderContext(Session& session) {
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  return mpv_render_context_create(&session.renderContext, session.mpv, params);
}

std::string engineText(int status) { return mpv_error_string(status); }

// Gives up the OpenGL view for the software one, for good.
bool switchToSoftwareView(Session& session) {
  removeRenderView(session);
  session.softwareRenderer = true;
  return createSoftwareView(session);
}

bool startDisplayLink(Session& session) {
  if (!session.glContext || !session.pixelFormat) return false;
  DisplayLink* link = displayLinkCreateWithActiveDisplays();
  if (!link) return false;
  bool started = false;
  if (displayLinkSetCurrentDisplayFromGlContext(link, *session.glContext, *session.pixelFormat)) {
    displayLinkSetOutputCallback(link, displayLinkCallback, session.callbackContext);
    started = displayLinkStart(link);
  }
  if (!started) {
    displayLinkRelease(link);
    return false;
  }
  session.displayLink = link;
  return true;
}

void setFixedOptions(Session& session) {
  mpv_handle* mpv = session.mpv;
  mpv_set_option_string(mpv, "terminal", "no");
  mpv_set_option_string(mpv, "config", "no");
  mpv_set_option_string(mpv, "osc", "no");
  mpv_set_option_string(mpv, "idle", "yes");
  mpv_set_option_string(mpv, "keep-open", "yes");
  // Without this the engine pauses itself at the end of a file, and that
  // pause would carry over to the next load: a pause is only ever the caller's.
  mpv_set_option_string(mpv, "keep-open-pause", "no");
  mpv_set_option_string(mpv, "input-default-bindings", "no");
  mpv_set_option_string(mpv, "input-vo-keyboard", "no");
  mpv_set_option_string(mpv, "ytdl", "no");
  mpv_set_option_string(mpv, "vo", "libmpv");
  // Several engines in one process probe their audio outputs at the same
  // time, and where no sound device opens the engine's own list goes on to
  // outputs whose libraries set themselves up process-wide without a lock:
  // two sessions starting at once crashed in SDL's and hung in JACK's. These
  // three are safe side by side (and PipeWire serves JACK applications). A
  // caller's "ao" extra option still replaces this list.
  mpv_set_option_string(mpv, "ao", "pipewire,pulse,alsa");
  if (!session.softwareRenderer) mpv_set_option_string(mpv, "hwdec", "auto-safe");
  char volume[64];
  std::snprintf(volume, sizeof volume, "%.6f", session.snapshot.volume);
  mpv_set_option_string(mpv, "volume", volume);
}

// Steps from the render view to the first placement. Throws on failure; the
// caller tears the half-built session down.
void buildSession(const Napi::CallbackInfo& info, const SessionRef& session) {
  Napi::Env env = info.Env();
  auto fail = [&](const std::string& message) { return Napi::Error::New(env, message); };

  session->softwareRenderer = isSoftwareRendererRequested();
  if (!session->softwareRenderer && !createOpenGLView(*session)) {
    traceSession(session.get(), "OpenGL view creation failed; falling back to software renderer.");
    session->softwareRenderer = true;
  }
  if (!session->softwareRenderer && !isOpenGLRendererRequested()) {
    std::string renderer;
    dispatchSync(*session->renderQueue, [&] { renderer = openGLRendererName(*session); });
    if (isSoftwareRasteriserName(renderer)) {
      traceSession(session.get(), "OpenGL renderer " + renderer +
                                      " is a software rasteriser; falling back to software renderer.");
      if (!switchToSoftwareView(*session)) throw fail("Failed to create hosted MPV fallback view.");
    }
  }
  if (session->softwareRenderer && !session->renderView && !createSoftwareView(*session)) {
    throw fail("Failed to create hosted MPV view.");
  }

  session->mpv = mpv_create();
  if (!session->mpv) throw fail("Failed to create libmpv handle.");
  setFixedOptions(*session);
  for (const auto& [key, value] : orvanel::readHostedMpvExtraOptions(info, 4)) {
    int result = mpv_set_option_string(session->mpv, key.c_str(), value.c_str());
    if (result < 0) {
      traceSession(session.get(), "rejected session option " + key + ": " + engineText(result));
      session->snapshot.rejectedOptionKeys.push_back(key);
    }
  }
  mpv_request_log_messages(session->mpv, "warn");
  int result = mpv_initialize(session->mpv);
  if (result < 0) throw fail("Failed to initialize libmpv: " + engineText(result));

  if (session->softwareRenderer) {
    result = createSoftwareRenderContext(*session);
    if (result < 0) throw fail("Failed to create libmpv render context: " + engineText(result));
  } else {
    result = MPV_ERROR_UNSUPPORTED;
    if (session->glContext && session->renderQueue) {
      dispatchSync(*session->renderQueue, [&] { result = createOpenGLRenderContext(*session); });
    }
    if (result < 0) {
      traceSession(session.get(), "OpenGL render context failed: " + engineText(result) +
                                      "; falling back to software renderer.");
      if (!switchToSoftwareView(*session)) throw fail("Failed to create hosted MPV fallback view.");
      result = createSoftwareRenderContext(*session);
      if (result < 0) throw fail("Failed to create libmpv render context: " + engineText(result));
    }
  }

  session->callbackContext = new std::weak_ptr<Session>(session);

  if (!session->softwareRenderer && !startDisplayLink(*session)) {
    traceSession(session.get(), "CVDisplayLink startup failed; falling back to software renderer.");
    dispatchSync(*session->renderQueue, [&] { releaseOpenGLRenderContext(*session); });
    if (!switchToSoftwareView(*session)) throw fail("Failed to create hosted MPV fallback view.");
    result = createSoftwareRenderContext(*session);
    if (result < 0) {
      throw fail("Failed to create libmpv fallback render context: " + engineText(result));
    }
  }

  if (session->softwareRenderer) takeOverRotation(*session);
  traceSession(session.get(),
               std::string("Using renderer backend: ") + (session->softwareRenderer ? "sw" : "gl"));
  mpv_render_context_set_update_callback(session->renderContext, onRenderContextUpdate,
                                         session->callbackContext);
  engine::observeProperties<Session>(session->mpv, kSessionProperties);

  session->running.store(true, std::memory_order_release);
  try {
    session->eventThread = std::thread(runEventLoop, session);
  } catch (const std::system_error&) {
    throw fail("Failed to start hosted MPV event thread.");
  }

  auto bounds = info[1].As<Napi::Object>();
  double x = readOptionalNumber(bounds, "x", 0);
  double y = readOptionalNumber(bounds, "y", 0);
  double width = readOptionalNumber(bounds, "width", 0);
  double height = readOptionalNumber(bounds, "height", 0);
  setSessionFrame(session, x, y, width, height);
}

}  // namespace

Napi::Value CreateSession(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 2 || !info[0].IsBuffer() || !info[1].IsObject()) {
    throw Napi::TypeError::New(env, "Expected window handle buffer and bounds object.");
  }
  auto buffer = info[0].As<Napi::Buffer<uint8_t>>();
  uint64_t handle = 0;
  switch (readNativeWindowHandle(buffer.Data(), buffer.Length(), handle)) {
    case NativeHandleStatus::tooSmall:
      throw Napi::Error::New(env, "Native window handle buffer is too small.");
    case NativeHandleStatus::null:
      throw Napi::Error::New(env, "Unable to resolve Electron native window handle.");
    case NativeHandleStatus::ok:
      break;
  }

  SessionRegistry& registry = sessionRegistry(env);  // before anything needs undoing
  auto session = std::make_shared<Session>();
  session->id = takeSessionId();
  runOnMainThread([&] {
    session->nativeView = viewForNativeHandle(handle);
    if (session->nativeView) session->hostView = hostViewFor(session->nativeView);
  });
  session->renderQueue = createSerialQueue(kRenderQueueLabel);
  session->snapshot.volume = initialVolume(info);
  if (!session->hostView)
    throw Napi::Error::New(env, "Unable to resolve the Electron content view.");

  try {
    buildSession(info, session);
  } catch (...) {
    destroySession(session);  // leaves no player, thread or view behind
    throw;
  }
  registerSession(registry, session);
  return Napi::String::New(env, session->id);
}

}  // namespace hosted_mpv
