#include "render_size.h"

#include <gtest/gtest.h>

#include <mutex>

#include "helper_state.h"

using namespace frame_helper;

namespace {

::testing::AssertionResult fits(int64_t boxW, int64_t boxH, int64_t videoW, int64_t videoH,
                                int32_t wantW, int32_t wantH) {
  const auto size = fitRenderSize(boxW, boxH, videoW, videoH);
  if (!size) return ::testing::AssertionFailure() << "no size";
  if (size->width != wantW || size->height != wantH) {
    return ::testing::AssertionFailure() << size->width << "x" << size->height;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(RenderSize, FitsTheVideoIntoTheBox) {
  EXPECT_TRUE(fits(1280, 720, 1920, 1080, 1280, 720));
  EXPECT_TRUE(fits(1280, 720, 720, 576, 900, 720));
  EXPECT_TRUE(fits(1280, 720, 100, 1000, 72, 720));
  EXPECT_TRUE(fits(1000, 1000, 1920, 800, 1000, 416));  // 416.67 rounds to 417, made even
  EXPECT_TRUE(fits(1253, 2000, 1000, 600, 1252, 752));  // 751.8 rounds to 752; cut, 750
  EXPECT_TRUE(fits(1280, 720, 320, 240, 960, 720));     // scaled up as well
  // A side that rounds to 16 or less becomes 16.
  EXPECT_TRUE(fits(1280, 720, 16, 4000, 16, 720));
  EXPECT_TRUE(fits(1280, 720, 4000, 16, 1280, 16));
}

TEST(RenderSize, UsesTheBoxAsItIsWithoutAKnownVideoSize) {
  EXPECT_TRUE(fits(1281, 721, 0, 0, 1281, 721));
  EXPECT_TRUE(fits(1281, 721, 15, 1080, 1281, 721));  // a video side below 16 is unknown
  EXPECT_TRUE(fits(16, 16, 0, 0, 16, 16));
}

TEST(RenderSize, BoundsTheRingNotTheBox) {
  // A box far above the ring bound that fits the video to a sane ring is taken.
  EXPECT_TRUE(fits(20000, 100, 320, 240, 132, 100));
  EXPECT_TRUE(fits(INT32_MAX, 240, 320, 240, 320, 240));
  // The bound itself, from both sides: a ring of 8192 a side is made ...
  EXPECT_TRUE(fits(8192, 8192, 320, 320, 8192, 8192));
  EXPECT_TRUE(fits(8192, 6144, 320, 240, 8192, 6144));
  EXPECT_TRUE(fits(8192, 8192, 0, 0, 8192, 8192));
  // ... one side more is scaled down, the aspect kept.
  EXPECT_TRUE(fits(8194, 8194, 320, 320, 8192, 8192));
  EXPECT_TRUE(fits(8194, 6146, 320, 240, 8192, 6144));
  EXPECT_TRUE(fits(16385, 16385, 320, 240, 8192, 6144));
  EXPECT_TRUE(fits(20000, 20000, 1024, 16, 8192, 128));
  // Without a known video size the box is the ring, bounded the same way.
  EXPECT_TRUE(fits(8193, 721, 0, 0, 8192, 720));
  EXPECT_TRUE(fits(20000, 100, 0, 0, 8192, 40));
  EXPECT_TRUE(fits(INT32_MAX, INT32_MAX, 0, 0, 8192, 8192));
  EXPECT_TRUE(fits(INT32_MAX, 16, 0, 0, 8192, 16));
}

TEST(RenderSize, RequestsNothingBelowSixteen) {
  EXPECT_FALSE(fitRenderSize(15, 720, 0, 0));
  EXPECT_FALSE(fitRenderSize(1280, 0, 0, 0));
  EXPECT_FALSE(fitRenderSize(-1280, 720, 1920, 1080));
  EXPECT_FALSE(fitRenderSize(15, 720, 1920, 1080));  // box too small to fit into
}

TEST(RenderSize, ApplyHandsTheFittedSizeToTheRenderThread) {
  HelperState helper;
  RenderPipeline& pipeline = helper.pipeline;
  threads::MutexLock state(helper.stateMutex);
  helper.renderWidth = 1280;
  helper.renderHeight = 720;
  helper.videoWidth = 720;
  helper.videoHeight = 576;
  applyRenderSizeLocked(helper);
  {
    threads::MutexLock lock(pipeline.mutex);
    EXPECT_TRUE(pipeline.updatePending);
    EXPECT_EQ(pipeline.pendingWidth, 900);
    EXPECT_EQ(pipeline.pendingHeight, 720);
    pipeline.updatePending = false;
    pipeline.pendingWidth = 0;
    pipeline.pendingHeight = 0;
  }

  helper.renderWidth = 8;
  applyRenderSizeLocked(helper);
  {
    threads::MutexLock lock(pipeline.mutex);
    EXPECT_FALSE(pipeline.updatePending);
    EXPECT_EQ(pipeline.pendingWidth, 0);
    EXPECT_EQ(pipeline.pendingHeight, 0);
  }
}
