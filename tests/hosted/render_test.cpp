#include <gtest/gtest.h>

#include "render.h"
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
  setenv("ORVANEL_TRACE_HOSTED_MPV", "1", 1);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 239; ++i) recordRenderedFrame(session, std::chrono::milliseconds(2));
  std::string first = testing::internal::GetCapturedStderr();
  testing::internal::CaptureStderr();
  recordRenderedFrame(session, std::chrono::milliseconds(2));
  std::string second = testing::internal::GetCapturedStderr();
  unsetenv("ORVANEL_TRACE_HOSTED_MPV");
  EXPECT_EQ(first,
            "[hosted-mpv][hosted-mpv-7][trace] renderer=sw frames=120 avgRenderMs=2.00 skipped=0\n");
  EXPECT_EQ(second,
            "[hosted-mpv][hosted-mpv-7][trace] renderer=sw frames=240 avgRenderMs=2.00 skipped=0\n");
  EXPECT_EQ(session->renderedFrameCount.load(), 240u);
  EXPECT_EQ(session->totalRenderNanos.load(), 480000000u);
}

TEST(RenderTask, WithoutRenderContextDrawsNothingAndClearsTheFlag) {
  auto session = std::make_shared<Session>();
  session->softwareRenderer = true;
  session->surfaceWidth = 64;
  session->surfaceHeight = 64;
  session->renderScheduled.store(true);
  runRenderTask(session);
  EXPECT_FALSE(session->renderScheduled.load());
  EXPECT_EQ(session->renderedFrameCount.load(), 0u);
  scheduleRender(session);  // no queue, no context: nothing is queued
  EXPECT_FALSE(session->renderScheduled.load());
}

TEST(RenderCallbacks, DoNothingOnceTheSessionIsGone) {
  auto* context = new std::weak_ptr<Session>();
  {
    auto session = std::make_shared<Session>();
    *context = session;
  }
  onRenderContextUpdate(context);  // must not crash
  onRenderContextUpdate(nullptr);
  delete context;
}
