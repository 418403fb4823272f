// No other thread knows the session before its callback context exists, so
// the snapshot writes below take no lock until then.
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

int createSoftwareRenderContext(Session& session) {
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  return mpv_render_context_create(&session.renderContext, session.mpv, params);
}

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
  session->deinterlacing.callerDecides = callerDecidesDeinterlacing;
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

  if (session->softwareRenderer) {
    std::string error;
    if (!engine::startTurnWatch(session->turnWatch, session->mpv, error)) throw fail(error);
  }
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

  const ViewBounds& bounds = settings.bounds;
  setSessionFrame(session, bounds.x, bounds.y, bounds.width, bounds.height);
}

}  // namespace

SessionRef createSession(const SessionSettings& settings) {
  auto session = std::make_shared<Session>();
  session->id = takeSessionId();
  session->traceEnabled = isHostedMpvTraceEnabled();
  runOnMainThread([&] {
    session->nativeView = viewForNativeHandle(settings.windowHandle);
    if (session->nativeView) session->hostView = hostViewFor(session->nativeView);
  });
  session->renderQueue = createSerialQueue(kRenderQueueLabel);
  {
    threads::MutexLock lock(session->stateMutex);
    // No volume given is full volume.
    session->snapshot.volume =
        std::isnan(settings.volume) ? 100 : engine::engineVolume(settings.volume);
  }
  if (!session->hostView) throw std::runtime_error("Unable to resolve the Electron content view.");

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
