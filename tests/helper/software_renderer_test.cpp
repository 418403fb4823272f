#include "software_renderer.h"

#include <gtest/gtest.h>
#include <mpv/client.h>

#include <string>

#include "../support/test_engine.h"

using namespace frame_helper;

TEST(SoftwareRenderer, DetectsSoftwareRasterisersByName) {
  EXPECT_TRUE(isSoftwareGlRenderer("llvmpipe (LLVM 15.0.7, 256 bits)"));
  EXPECT_TRUE(isSoftwareGlRenderer("Gallium 0.4 on SWRAST"));
  EXPECT_TRUE(isSoftwareGlRenderer("Software Rasterizer"));
  EXPECT_TRUE(isSoftwareGlRenderer("Gallium 0.4 on softpipe"));
  EXPECT_TRUE(isSoftwareGlRenderer("LAVAPIPE"));
  EXPECT_TRUE(isSoftwareGlRenderer("SOFTWARE RASTERIZER"));

  EXPECT_FALSE(isSoftwareGlRenderer("Apple Software Renderer"));
  EXPECT_FALSE(isSoftwareGlRenderer("Apple M1"));
  EXPECT_FALSE(isSoftwareGlRenderer("AMD Radeon Pro 560X OpenGL Engine"));
  EXPECT_FALSE(isSoftwareGlRenderer("Mesa Intel(R) UHD Graphics 620 (KBL GT2)"));
  EXPECT_FALSE(isSoftwareGlRenderer(""));
}

namespace {

// Software output and no audio, not idle.
struct Engine : TestEngine {
  Engine() : TestEngine({{"vo", "null"}, {"audio", "no"}}) {}
};

std::string applyCapturingStderr(mpv_handle* mpv, const std::set<std::string>& applied) {
  ::testing::internal::CaptureStderr();
  applySoftwareRendererOptions(mpv, applied);
  return ::testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(SoftwareRenderer, SetsTheCheapScalersAndReportsThem) {
  Engine engine;
  ASSERT_NE(engine.mpv, nullptr);
  EXPECT_EQ(applyCapturingStderr(engine.mpv, {}),
            "software renderer: applied [scale=bilinear, cscale=bilinear, dscale=bilinear, "
            "sigmoid-upscaling=no]; failed []\n");
  EXPECT_EQ(engine.getString("scale"), "bilinear");
  EXPECT_EQ(engine.getString("cscale"), "bilinear");
  EXPECT_EQ(engine.getString("dscale"), "bilinear");
  EXPECT_EQ(engine.getString("sigmoid-upscaling"), "no");
}

TEST(SoftwareRenderer, LeavesOptionsThePreambleAppliedAlone) {
  Engine engine;
  ASSERT_NE(engine.mpv, nullptr);
  ASSERT_GE(mpv_set_property_string(engine.mpv, "scale", "spline36"), 0);
  EXPECT_EQ(applyCapturingStderr(engine.mpv, {"scale", "hwdec"}),
            "software renderer: applied [cscale=bilinear, dscale=bilinear, "
            "sigmoid-upscaling=no]; failed []\n");
  EXPECT_EQ(engine.getString("scale"), "spline36");
  EXPECT_EQ(engine.getString("cscale"), "bilinear");

  EXPECT_EQ(applyCapturingStderr(engine.mpv, {"cscale", "dscale", "scale", "sigmoid-upscaling"}),
            "software renderer: applied []; failed []\n");
}
