#include "render.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "platform/serial_queue.h"
#include "render_opengl.h"
#include "render_software.h"

using namespace hosted_mpv;

TEST(SoftwareStride, RoundsRowsUpTo64Bytes) {
  EXPECT_EQ(softwareStride(1), 64u);
  EXPECT_EQ(softwareStride(16), 64u);
  EXPECT_EQ(softwareStride(17), 128u);
  EXPECT_EQ(softwareStride(1920), 7680u);
  EXPECT_EQ(softwareStride(1280) * 720, 3686400u);
}

TEST(RecordRenderedFrame, TracesEvery120thFrame) {
  auto session = std::make_shared<Session>();
  session->id = "hosted-mpv-7";
  session->softwareRenderer = true;
  session->traceEnabled = true;
  unsetenv("ORVANEL_TRACE_HOSTED_MPV");  // the session's switch counts, not the environment
  testing::internal::CaptureStderr();
  for (int i = 0; i < 239; ++i) recordRenderedFrame(session, std::chrono::milliseconds(2));
  std::string first = testing::internal::GetCapturedStderr();
  testing::internal::CaptureStderr();
  recordRenderedFrame(session, std::chrono::milliseconds(2));
  std::string second = testing::internal::GetCapturedStderr();
  EXPECT_EQ(
      first,
      "[hosted-mpv][hosted-mpv-7][trace] renderer=sw frames=120 avgRenderMs=2.00 skipped=0\n");
  EXPECT_EQ(
      second,
      "[hosted-mpv][hosted-mpv-7][trace] renderer=sw frames=240 avgRenderMs=2.00 skipped=0\n");
  EXPECT_EQ(session->renderedFrameCount.load(), 240u);
  EXPECT_EQ(session->totalRenderNanos.load(), 480000000u);
}

TEST(RenderTask, WithoutRenderContextDrawsNothingAndClearsTheFlag) {
  auto session = std::make_shared<Session>();
  session->softwareRenderer = true;
  {
    threads::MutexLock lock(session->stateMutex);
    session->surfaceWidth = 64;
    session->surfaceHeight = 64;
  }
  scheduleRender(session);  // no queue: nothing is queued
  EXPECT_FALSE(session->renderScheduled.load());
  // The task runs on the queue, which holds the render context (none here).
  session->renderQueue = createSerialQueue("test.render");
  session->renderScheduled.store(true);
  dispatchSync(*session->renderQueue, [&] { runRenderTask(session); });
  EXPECT_FALSE(session->renderScheduled.load());
  EXPECT_EQ(session->renderedFrameCount.load(), 0u);
}

TEST(RenderCallbacks, DoNothingOnceTheSessionIsGone) {
  auto* context = new std::weak_ptr<Session>();
  {
    auto session = std::make_shared<Session>();
    *context = session;
  }
  onRenderContextUpdate(context);  // must not crash
  onRenderContextUpdate(nullptr);
  displayLinkCallback(nullptr, context);
  displayLinkCallback(nullptr, nullptr);
  delete context;
}

TEST(GetOpenGLProcAddress, FindsOpenGLFunctionsAndNothingForNoName) {
  EXPECT_EQ(getOpenGLProcAddress(nullptr, nullptr), nullptr);
  EXPECT_NE(getOpenGLProcAddress(nullptr, "glClear"), nullptr);
  // The platform's own lookup, for names no loaded library exports.
  EXPECT_NE(lookupOpenGLFrameworkFunction("glClear"), nullptr);
  EXPECT_EQ(lookupOpenGLFrameworkFunction(nullptr), nullptr);
}

namespace {

// A session on the software path with a real render context and no view.
SessionRef softwareSession() {
  auto session = std::make_shared<Session>();
  session->id = "hosted-mpv-sw";
  session->softwareRenderer = true;
  {
    threads::MutexLock lock(session->stateMutex);
    session->surfaceWidth = 16;
    session->surfaceHeight = 16;
  }
  session->renderQueue = createSerialQueue("test.render");
  session->mpv = mpv_create();
  mpv_set_option_string(session->mpv, "vo", "libmpv");
  mpv_set_option_string(session->mpv, "ao", "null");
  mpv_initialize(session->mpv);
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  dispatchSync(*session->renderQueue, [&] {
    threads::assertRole(session->renderQueue->worker);
    EXPECT_GE(mpv_render_context_create(&session->renderContext, session->mpv, params), 0);
  });
  return session;
}

void release(const SessionRef& session) {
  dispatchSync(*session->renderQueue, [&] {
    threads::assertRole(session->renderQueue->worker);
    releaseRenderContext(*session);
  });
  mpv_terminate_destroy(session->mpv);
}

}  // namespace

TEST(ScheduleRender, SoftwareRequestsBeforeARenderStartsShareIt) {
  SessionRef session = softwareSession();
  std::mutex gate;
  std::unique_lock closed(gate);
  dispatchAsync(*session->renderQueue, [&] { std::lock_guard wait(gate); });  // holds the queue
  scheduleRender(session);
  scheduleRender(session);  // while one is queued: not queued twice
  scheduleRender(session);
  closed.unlock();
  dispatchSync(*session->renderQueue, [] {});
  dispatchSync(*session->renderQueue, [] {});
  EXPECT_EQ(session->renderedFrameCount.load(), 1u);
  EXPECT_FALSE(session->renderScheduled.load());
  EXPECT_FALSE(session->renderRequested.load());
  release(session);
}

TEST(ScheduleRender, SoftwareRequestsDuringARenderAreDrawnAfterIt) {
  SessionRef session = softwareSession();
  session->renderScheduled.store(true);  // a render task is running
  scheduleRender(session);               // the engine has a newer frame meanwhile
  scheduleRender(session);
  dispatchSync(*session->renderQueue, [] {});
  EXPECT_EQ(session->renderedFrameCount.load(), 0u);
  dispatchSync(*session->renderQueue, [&] { endRenderTask(session); });  // the running task ends
  dispatchSync(*session->renderQueue, [] {});
  EXPECT_EQ(session->renderedFrameCount.load(), 1u);
  EXPECT_FALSE(session->renderScheduled.load());
  release(session);
}

TEST(ScheduleRender, OpenGLRequestsDuringARenderAreDropped) {
  auto session = std::make_shared<Session>();
  session->renderQueue = createSerialQueue("test.render");
  session->renderScheduled.store(true);
  scheduleRender(session);
  endRenderTask(session);
  dispatchSync(*session->renderQueue, [] {});
  EXPECT_FALSE(session->renderScheduled.load());
  EXPECT_FALSE(session->renderRequested.load());
}

TEST(ScheduleRender, ZeroSurfaceRendersNothingAndCountsNothing) {
  SessionRef session = softwareSession();
  {
    threads::MutexLock lock(session->stateMutex);
    session->surfaceWidth = 0;
  }
  scheduleRender(session);
  dispatchSync(*session->renderQueue, [] {});
  EXPECT_EQ(session->renderedFrameCount.load(), 0u);
  EXPECT_EQ(session->skippedFrameCount.load(), 0u);
  release(session);
}

TEST(ScheduleRender, AfterReleaseQueuedRendersDrawNothing) {
  SessionRef session = softwareSession();
  std::mutex gate;
  std::unique_lock closed(gate);
  dispatchAsync(*session->renderQueue, [&] { std::lock_guard wait(gate); });
  scheduleRender(session);  // queued behind the gate
  dispatchAsync(*session->renderQueue, [&] {
    threads::assertRole(session->renderQueue->worker);
    releaseRenderContext(*session);
  });
  closed.unlock();
  dispatchSync(*session->renderQueue, [] {});
  // The render ran before the release; a render scheduled now finds no context.
  uint64_t rendered = session->renderedFrameCount.load();
  scheduleRender(session);
  dispatchSync(*session->renderQueue, [&] { runRenderTask(session); });
  EXPECT_EQ(session->renderedFrameCount.load(), rendered);
  mpv_terminate_destroy(session->mpv);
}
