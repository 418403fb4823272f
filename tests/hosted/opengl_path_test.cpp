// The OpenGL render path with a real EGL view on an Xvfb server: pacing by the
// display link, skipped frames, and teardown while frames are being drawn.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/display_link.h"
#include "platform/linux/opengl_context.h"
#include "platform/main_thread.h"
#include "render.h"
#include "render_opengl.h"
#include "teardown.h"
#include "views.h"
#include "x_test_server.h"

using namespace hosted_mpv;
using namespace std::chrono_literals;

namespace {

hosted_test::XTestServer gServer;

constexpr unsigned long kHostColour = 0x20c040;

// A session on the OpenGL path built as creation builds one, without the
// JavaScript side and the event thread. The display link is started only
// with `withDisplayLink`.
SessionRef openGLSession(int width, int height, bool withDisplayLink) {
  auto session = std::make_shared<Session>();
  session->id = "hosted-mpv-gl";
  session->renderQueue = createSerialQueue("test.render");
  bool hostViewFound = false;
  runOnMainThread([&] {
    threads::assertRole(gMainThread);
    session->nativeView = viewForNativeHandle(gServer.window);
    session->hostView = hostViewFor(session->nativeView);
    hostViewFound = session->hostView != nullptr;
  });
  EXPECT_TRUE(hostViewFound);
  if (!createOpenGLView(*session)) {
    ADD_FAILURE() << "no OpenGL view";
    return session;
  }
  session->mpv = mpv_create();
  mpv_set_option_string(session->mpv, "vo", "libmpv");
  mpv_set_option_string(session->mpv, "ao", "null");
  mpv_set_option_string(session->mpv, "terminal", "no");
  mpv_set_option_string(session->mpv, "idle", "yes");
  mpv_set_option_string(session->mpv, "keep-open", "yes");
  EXPECT_GE(mpv_initialize(session->mpv), 0);
  int result = MPV_ERROR_UNSUPPORTED;
  const OpenGLViewParts view = copyViewParts(*session);
  dispatchSync(*session->renderQueue, [&] {
    threads::assertRole(session->renderQueue->worker);
    result = createOpenGLRenderContext(*session, view.glContext);
  });
  EXPECT_GE(result, 0) << mpv_error_string(result);
  session->callbackContext = new std::weak_ptr<Session>(session);
  if (withDisplayLink) {
    DisplayLink* link = displayLinkCreateWithActiveDisplays();
    EXPECT_TRUE(
        displayLinkSetCurrentDisplayFromGlContext(link, *view.glContext, *view.pixelFormat));
    displayLinkSetOutputCallback(link, displayLinkCallback, session->callbackContext);
    EXPECT_TRUE(displayLinkStart(link));
    session->displayLink = link;
  }
  dispatchSync(*session->renderQueue, [&] {
    threads::assertRole(session->renderQueue->worker);
    mpv_render_context_set_update_callback(session->renderContext, onRenderContextUpdate,
                                           session->callbackContext);
  });
  session->running.store(true);
  setSessionFrame(session, 10, 20, width, height);
  return session;
}

void play(const SessionRef& session, const char* source) {
  const char* command[] = {"loadfile", source, nullptr};
  ASSERT_GE(mpv_command(session->mpv, command), 0);
}

// The window's pixel is within a few levels of `rgb` in every channel.
bool near(unsigned long pixel, unsigned long rgb) {
  for (int shift = 0; shift < 24; shift += 8) {
    int a = int((pixel >> shift) & 0xff), b = int((rgb >> shift) & 0xff);
    if (a - b > 8 || b - a > 8) return false;
  }
  return true;
}

// Whether the session still has its render context, asked on its render queue.
bool hasRenderContext(Session& session) {
  bool has = false;
  dispatchSync(*session.renderQueue, [&] {
    threads::assertRole(session.renderQueue->worker);
    has = session.renderContext != nullptr;
  });
  return has;
}

uint64_t renders(const Session& session) {
  return session.renderedFrameCount.load() + session.skippedFrameCount.load();
}

template <typename Probe>
bool waitUntil(Probe probe, std::chrono::milliseconds timeout = 10s) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!probe()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

}  // namespace

class OpenGLPathX11 : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gServer.start(320, 240, kHostColour)); }
  static void TearDownTestSuite() { gServer.stop(); }
};

TEST_F(OpenGLPathX11, DrawsUprightFramesAtMostOncePerRefresh) {
  SessionRef session = openGLSession(200, 100, true);
  const std::shared_ptr<GlContext> glContext = copyViewParts(*session).glContext;
  ASSERT_TRUE(glContext);
  double rate = glContextRefreshRate(*glContext);
  EXPECT_EQ(rate, 60);  // Xvfb reports no refresh rate
  // A source well above the refresh rate, red above and blue below.
  play(
      session,
      "av://lavfi:color=c=red:size=200x100:rate=200,drawbox=x=0:y=50:w=200:h=50:color=blue:t=fill");
  ASSERT_TRUE(waitUntil([&] { return session->renderedFrameCount.load() >= 5; }));
  auto start = std::chrono::steady_clock::now();
  uint64_t first = renders(*session);
  std::this_thread::sleep_for(1500ms);
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  uint64_t drawn = renders(*session) - first;
  EXPECT_LE(double(drawn), elapsed * rate + 2) << "renders beyond one per refresh";
  EXPECT_GE(drawn, 10u);

  EXPECT_TRUE(near(gServer.pixel(110, 30), 0xff0000)) << std::hex << gServer.pixel(110, 30);
  EXPECT_TRUE(near(gServer.pixel(110, 110), 0x0000ff)) << std::hex << gServer.pixel(110, 110);
  EXPECT_EQ(gServer.pixel(5, 5), kHostColour);  // outside the rectangle
  EXPECT_EQ(gServer.pixel(215, 60), kHostColour);
  destroySession(session);
  EXPECT_TRUE(waitUntil([] { return gServer.pixel(110, 30) == kHostColour; }))
      << "the view is gone";
}

TEST_F(OpenGLPathX11, ZeroSurfaceSkipsEveryRenderAndDrawsNothing) {
  SessionRef session = openGLSession(64, 48, true);
  play(session, "av://lavfi:color=c=red:size=64x48:rate=100");
  ASSERT_TRUE(waitUntil([&] { return session->renderedFrameCount.load() >= 3; }));
  setSessionFrame(session, 10, 20, 0, 48);
  dispatchSync(*session->renderQueue, [] {});  // a render started before has ended
  uint64_t frames = session->renderedFrameCount.load();
  uint64_t skipped = session->skippedFrameCount.load();
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(session->renderedFrameCount.load(), frames);
  EXPECT_GT(session->skippedFrameCount.load(), skipped);
  setSessionFrame(session, 10, 20, 64, 48);
  EXPECT_TRUE(waitUntil([&] { return session->renderedFrameCount.load() > frames; }));
  destroySession(session);
}

TEST_F(OpenGLPathX11, RefreshesScheduleOnlyRequestedRendersOneAtATime) {
  // No display link and nothing playing: the test is the display. A render
  // with no frame due is counted as skipped, so every render shows.
  SessionRef session = openGLSession(64, 48, false);
  void* ctx = session->callbackContext;
  auto drain = [&] { dispatchSync(*session->renderQueue, [] {}); };
  drain();
  session->renderRequested.store(false);  // the placement's request
  uint64_t before = renders(*session);

  displayLinkCallback(nullptr, ctx);  // nothing requested
  drain();
  EXPECT_EQ(renders(*session), before);

  session->renderRequested.store(true);  // two engine updates between two refreshes
  session->renderRequested.store(true);
  displayLinkCallback(nullptr, ctx);
  displayLinkCallback(nullptr, ctx);
  drain();
  EXPECT_EQ(renders(*session), before + 1);

  // A refresh while a render is queued queues no second one; the request
  // waits for the first refresh after that render.
  std::mutex gate;
  std::unique_lock closed(gate);
  dispatchAsync(*session->renderQueue, [&] { std::lock_guard wait(gate); });
  session->renderRequested.store(true);
  displayLinkCallback(nullptr, ctx);
  EXPECT_TRUE(session->renderScheduled.load());
  session->renderRequested.store(true);
  displayLinkCallback(nullptr, ctx);
  displayLinkCallback(nullptr, ctx);
  closed.unlock();
  drain();
  EXPECT_EQ(renders(*session), before + 2);
  EXPECT_FALSE(session->renderScheduled.load());
  EXPECT_TRUE(session->renderRequested.load());
  displayLinkCallback(nullptr, ctx);
  drain();
  EXPECT_EQ(renders(*session), before + 3);

  session->running.store(false);  // a session being torn down schedules nothing
  session->renderRequested.store(true);
  displayLinkCallback(nullptr, ctx);
  drain();
  EXPECT_EQ(renders(*session), before + 3);
  destroySession(session);
}

TEST_F(OpenGLPathX11, TeardownWhileRenderingStopsEveryCallback) {
  for (int round = 0; round < 3; ++round) {
    SessionRef session = openGLSession(160, 120, true);
    play(session, "av://lavfi:testsrc2=size=160x120:rate=200");
    ASSERT_TRUE(waitUntil([&] { return session->renderedFrameCount.load() >= 2u + round * 5; }));
    std::weak_ptr<Session> late = session;
    destroySession(session);
    EXPECT_FALSE(hasRenderContext(*session));
    EXPECT_FALSE(session->displayLink);
    EXPECT_FALSE(session->callbackContext);
    uint64_t after = renders(*session);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(renders(*session), after);
    session.reset();
    EXPECT_TRUE(late.expired());          // no queued task or callback holds it
    displayLinkCallback(nullptr, &late);  // a callback that comes after the end does nothing
    onRenderContextUpdate(&late);
  }
}

TEST_F(OpenGLPathX11, TeardownFreesTheRenderContextUnderTheContextLockBeforeTheEngine) {
  SessionRef session = openGLSession(64, 48, true);
  play(session, "av://lavfi:color=c=red:size=64x48:rate=100");
  ASSERT_TRUE(waitUntil([&] { return session->renderedFrameCount.load() >= 2; }));
  // A second client of the engine sees the engine's end as a shutdown event;
  // the engine waits for it to be destroyed.
  mpv_handle* probe = mpv_create_client(session->mpv, "probe");
  ASSERT_TRUE(probe);
  std::atomic<bool> engineEnded{false};
  std::thread watcher([&] {
    while (mpv_wait_event(probe, 10)->event_id != MPV_EVENT_SHUTDOWN) {
    }
    engineEnded.store(true);
    mpv_destroy(probe);
  });

  GlContextObject* object = glContextObject(*copyViewParts(*session).glContext);
  std::atomic<bool> tornDown{false};
  std::thread teardown;
  {
    GlContextLock lock(object);
    teardown = std::thread([&] {
      destroySession(session);
      tornDown.store(true);
    });
    std::this_thread::sleep_for(300ms);
    // Waiting for the context lock to free the render context, with the
    // engine still alive.
    EXPECT_FALSE(tornDown.load());
    EXPECT_FALSE(engineEnded.load());
  }
  teardown.join();
  watcher.join();
  EXPECT_TRUE(engineEnded.load());
  EXPECT_FALSE(hasRenderContext(*session));
  EXPECT_FALSE(session->mpv);
}

TEST_F(OpenGLPathX11, EveryPlacementIsDrawnWithoutANewFrame) {
  // Nothing plays, so the engine never has a frame due.
  SessionRef session = openGLSession(64, 48, false);
  auto render = [&] {
    session->renderScheduled.store(true);
    dispatchSync(*session->renderQueue, [&] { runRenderTask(session); });
  };
  render();  // the first placement
  EXPECT_EQ(session->renderedFrameCount.load(), 1u);
  render();  // nothing new: skipped
  EXPECT_EQ(session->renderedFrameCount.load(), 1u);
  EXPECT_EQ(session->skippedFrameCount.load(), 1u);
  setSessionFrame(session, 10, 20, 80, 60);  // resized
  render();
  EXPECT_EQ(session->renderedFrameCount.load(), 2u);
  // Hidden and shown at the same size before any render: the window lost
  // its picture all the same.
  setSessionFrame(session, 10, 20, 0, 60);
  setSessionFrame(session, 10, 20, 80, 60);
  render();
  EXPECT_EQ(session->renderedFrameCount.load(), 3u);
  setSessionFrame(session, 10, 20, 0, 60);  // hidden: skipped
  render();
  EXPECT_EQ(session->skippedFrameCount.load(), 2u);
  EXPECT_EQ(session->renderedFrameCount.load(), 3u);
  EXPECT_FALSE(session->renderScheduled.load());
  destroySession(session);
}

TEST_F(OpenGLPathX11, ViewsTheServerRefusesLeaveNothingBehind) {
  // An input-only window can have no visible children: both views fail
  // after the child window and its GC were asked for. The address sanitizer
  // build's leak check catches a GC that is not freed.
  Window inputOnly = XCreateWindow(gServer.connection, gServer.window, 0, 0, 50, 50, 0, 0,
                                   InputOnly, CopyFromParent, 0, nullptr);
  XSync(gServer.connection, False);
  auto session = std::make_shared<Session>();
  bool hostViewFound = false;
  runOnMainThread([&] {
    threads::assertRole(gMainThread);
    session->nativeView = viewForNativeHandle(inputOnly);
    session->hostView = hostViewFor(session->nativeView);
    hostViewFound = session->hostView != nullptr;
  });
  ASSERT_TRUE(hostViewFound);
  EXPECT_FALSE(createOpenGLView(*session));
  EXPECT_FALSE(createSoftwareView(*session));
  const OpenGLViewParts view = copyViewParts(*session);
  EXPECT_FALSE(view.view);
  EXPECT_FALSE(view.glContext);
  destroySession(session);
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  ASSERT_TRUE(XQueryTree(gServer.connection, inputOnly, &root, &parent, &children, &count));
  if (children) XFree(children);
  EXPECT_EQ(count, 0u);
  XDestroyWindow(gServer.connection, inputOnly);
  XSync(gServer.connection, False);
}
