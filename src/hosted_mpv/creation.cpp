// Creation runs on the calling thread; the view work runs on the main thread
// and the render context's on the session's render queue (synchronously),
// each holding its thread's role. Creation keeps its own references of the
// view's OpenGL context and pixel format (copyViewParts).
#include "creation.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "buffering.h"
#include "deinterlacing.h"
#include "engine_text.h"
#include "event_thread.h"
#include "platform/main_thread.h"
#include "player_options.h"
#include "render.h"
#include "render_opengl.h"
#include "session_properties.h"
#include "teardown.h"
#include "trace.h"
#include "url_guard.h"
#include "views.h"
#include "volume.h"

namespace hosted_mpv {
namespace {

const char* const kRenderQueueLabel = "dev.orvanel.hosted-mpv.render";

int createSoftwareRenderContext(Session& session) REQUIRES(session.renderQueue->worker) {
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  return mpv_render_context_create(&session.renderContext, session.mpv, params);
}

// On the render queue, which owns the render context.
int createSoftwareRenderContextOnQueue(Session& session) {
  int result = MPV_ERROR_UNSUPPORTED;
  dispatchSync(*session.renderQueue, [&] {
    threads::assertRole(session.renderQueue->worker);
    result = createSoftwareRenderContext(session);
  });
  return result;
}

// Gives up the OpenGL view for the software one, for good; `view` then holds
// the software view's parts (no context, no pixel format).
bool switchToSoftwareView(Session& session, OpenGLViewParts& view) {
  removeRenderView(session);
  session.softwareRenderer = true;
  const bool created = createSoftwareView(session);
  view = copyViewParts(session);
  return created;
}

// The OpenGL path failed once the engine exists: the software view and its
// render context, for good. Throws with `contextFailure` and the engine's
// text when the context cannot be made.
void fallBackToSoftware(Session& session, OpenGLViewParts& view,
                        const std::string& contextFailure) {
  if (!switchToSoftwareView(session, view)) {
    throw std::runtime_error("Failed to create hosted MPV fallback view.");
  }
  const int result = createSoftwareRenderContextOnQueue(session);
  if (result < 0) throw std::runtime_error(contextFailure + engineText(result));
}

bool startDisplayLink(Session& session, const OpenGLViewParts& view) {
  if (!view.glContext || !view.pixelFormat) return false;
  DisplayLink* link = displayLinkCreateWithActiveDisplays();
  if (!link) return false;
  bool started = false;
  if (displayLinkSetCurrentDisplayFromGlContext(link, *view.glContext, *view.pixelFormat)) {
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
  engine::setEmbeddedPlayerOptions(mpv);
  // In the application's process: no terminal, no user configuration, no
  // keys taken from the application's window.
  mpv_set_option_string(mpv, "terminal", "no");
  mpv_set_option_string(mpv, "config", "no");
  mpv_set_option_string(mpv, "input-vo-keyboard", "no");
  // Several engines in one process probe their audio outputs at the same
  // time, and where no sound device opens the engine's own list goes on to
  // outputs whose libraries set themselves up process-wide without a lock:
  // two sessions starting at once crashed in SDL's and hung in JACK's. These
  // three are safe side by side (and PipeWire serves JACK applications). A
  // caller's "ao" extra option still replaces this list.
  mpv_set_option_string(mpv, "ao", "pipewire,pulse,alsa");
  if (!session.softwareRenderer) mpv_set_option_string(mpv, "hwdec", "auto-safe");
  double initialVolume;
  {
    threads::MutexLock lock(session.stateMutex);
    initialVolume = session.snapshot.volume;
  }
  char volume[64];
  std::snprintf(volume, sizeof volume, "%.6f", initialVolume);
  mpv_set_option_string(mpv, "volume", volume);
}

// Steps from the render view to the first placement. Throws on failure; the
// caller tears the half-built session down.
void buildSession(const SessionSettings& settings, const SessionRef& session) {
  auto fail = [](const std::string& message) { return std::runtime_error(message); };

  session->softwareRenderer = isSoftwareRendererRequested();
  if (!session->softwareRenderer && !createOpenGLView(*session)) {
    traceSession(session.get(), "OpenGL view creation failed; falling back to software renderer.");
    session->softwareRenderer = true;
  }
  // Creation's own references of the view's parts: the main thread's are its.
  OpenGLViewParts view = copyViewParts(*session);
  if (!session->softwareRenderer && !isOpenGLRendererRequested()) {
    std::string renderer;
    if (view.glContext) {
      dispatchSync(*session->renderQueue, [&] { renderer = openGLRendererName(*view.glContext); });
    }
    if (isSoftwareRasteriserName(renderer)) {
      traceSession(session.get(), "OpenGL renderer " + renderer +
                                      " is a software rasteriser; falling back to software renderer.");
      if (!switchToSoftwareView(*session, view)) {
        throw fail("Failed to create hosted MPV fallback view.");
      }
    }
  }
  if (session->softwareRenderer && !view.view) {
    if (!createSoftwareView(*session)) throw fail("Failed to create hosted MPV view.");
    view = copyViewParts(*session);
  }

  session->mpv = mpv_create();
  if (!session->mpv) throw fail("Failed to create libmpv handle.");
  setFixedOptions(*session);
  bool callerDecidesDeinterlacing = false;
  for (const std::string& text : settings.extraOptions) {
    const auto option = engine::splitOptionText(text);
    if (!option) continue;
    const auto& [key, value] = *option;
    // The stall bound is the module's own and never reaches the engine.
    std::string problem;
    int result = key == engine::kStallTimeoutOption
                     ? (engine::parseStallTimeout(value, session->stallTimeoutSeconds, problem)
                            ? 0
                            : MPV_ERROR_OPTION_FORMAT)
                     : mpv_set_option_string(session->mpv, key.c_str(), value.c_str());
    if (result < 0) {
      if (problem.empty()) problem = engineText(result);
      traceSession(session.get(), "rejected session option " + key + ": " + problem);
      threads::MutexLock lock(session->stateMutex);
      session->snapshot.rejectedOptionKeys.push_back(key);
    } else if (engine::decidesDeinterlacing(key)) {
      callerDecidesDeinterlacing = true;
    }
  }
  {
    // The event thread does not exist yet: creation plays its part.
    threads::RoleScope beforeEventThread(session->eventRole);
    session->deinterlacing.callerDecides = callerDecidesDeinterlacing;
  }
  mpv_request_log_messages(session->mpv, "warn");
  int result = mpv_initialize(session->mpv);
  if (result < 0) throw fail("Failed to initialize libmpv: " + engineText(result));
  // After the extra options, which cannot widen it; before the event thread.
  if (settings.urlPolicy) {
    session->urlPolicy = settings.urlPolicy;
    result = engine::startUrlGuard(session->mpv, *settings.urlPolicy);
    if (result < 0) throw fail("Failed to set up the URL policy: " + engineText(result));
  }

  if (session->softwareRenderer) {
    result = createSoftwareRenderContextOnQueue(*session);
    if (result < 0) throw fail("Failed to create libmpv render context: " + engineText(result));
  } else {
    result = MPV_ERROR_UNSUPPORTED;
    if (view.glContext) {
      dispatchSync(*session->renderQueue, [&] {
        threads::assertRole(session->renderQueue->worker);
        result = createOpenGLRenderContext(*session, view.glContext);
      });
    }
    if (result < 0) {
      traceSession(session.get(), "OpenGL render context failed: " + engineText(result) +
                                      "; falling back to software renderer.");
      fallBackToSoftware(*session, view, "Failed to create libmpv render context: ");
    }
  }

  session->callbackContext = new std::weak_ptr<Session>(session);

  if (!session->softwareRenderer && !startDisplayLink(*session, view)) {
    traceSession(session.get(), "CVDisplayLink startup failed; falling back to software renderer.");
    dispatchSync(*session->renderQueue, [&] {
      threads::assertRole(session->renderQueue->worker);
      releaseOpenGLRenderContext(*session);
    });
    fallBackToSoftware(*session, view, "Failed to create libmpv fallback render context: ");
  }

  if (session->softwareRenderer) {
    std::string error;
    if (!engine::startTurnWatch(session->turnWatch, session->mpv, error)) throw fail(error);
  }
  traceSession(session.get(),
               std::string("Using renderer backend: ") + (session->softwareRenderer ? "sw" : "gl"));
  dispatchSync(*session->renderQueue, [&] {
    threads::assertRole(session->renderQueue->worker);
    mpv_render_context_set_update_callback(session->renderContext, onRenderContextUpdate,
                                           session->callbackContext);
  });
  engine::observeProperties<Session>(session->mpv, kSessionProperties);

  session->running.store(true, std::memory_order_release);
  try {
    session->eventThread = std::thread(runEventLoop, session);
  } catch (const std::system_error&) {
    throw fail("Failed to start hosted MPV event thread.");
  }

  const ViewBounds& bounds = settings.bounds;
  setSessionFrame(session, bounds.x, bounds.y, bounds.width, bounds.height);
}

}  // namespace

SessionRef createSession(const SessionSettings& settings) {
  auto session = std::make_shared<Session>();
  session->id = takeSessionId();
  session->traceEnabled = isHostedMpvTraceEnabled();
  bool hostViewFound = false;
  runOnMainThread([&] {
    threads::assertRole(gMainThread);
    session->nativeView = viewForNativeHandle(settings.windowHandle);
    if (session->nativeView) session->hostView = hostViewFor(session->nativeView);
    hostViewFound = session->hostView != nullptr;
  });
  session->renderQueue = createSerialQueue(kRenderQueueLabel);
  {
    threads::MutexLock lock(session->stateMutex);
    // No volume given is full volume.
    session->snapshot.volume =
        std::isnan(settings.volume) ? 100 : engine::engineVolume(settings.volume);
  }
  if (!hostViewFound) throw std::runtime_error("Unable to resolve the Electron content view.");

  try {
    buildSession(settings, session);
  } catch (...) {
    destroySession(session);  // leaves no player, thread or view behind
    throw;
  }
  return session;
}

SessionRef openSession(SessionRegistry& registry, const SessionSettings& settings) {
  SessionRef session = createSession(settings);
  registerSession(registry, session);
  return session;
}

}  // namespace hosted_mpv
