#include "helper_args.h"

#include <gtest/gtest.h>

#include <vector>

using namespace frame_helper;

namespace {

HelperArgs parse(std::vector<const char*> args) {
  args.insert(args.begin(), "orvanel_mpv_helper");
  return parseHelperArgs(static_cast<int>(args.size()), args.data());
}

}  // namespace

TEST(HelperArgs, DefaultsWithoutArguments) {
  const HelperArgs a = parse({});
  EXPECT_EQ(a.shmBase, "/ompv");
  EXPECT_EQ(a.hwdec, "auto");
  EXPECT_EQ(a.audioDelay, "");
  EXPECT_FALSE(a.mpvOptionsStdin);
  EXPECT_EQ(a.width, 1280);
  EXPECT_EQ(a.height, 720);
  EXPECT_DOUBLE_EQ(a.volume, 1.0);
  EXPECT_FALSE(a.runtimeProbe);
  EXPECT_FALSE(a.allowedSchemes);
}

TEST(HelperArgs, EveryOption) {
  const HelperArgs a = parse({"--shm-base", "/x", "--width", "640", "--height", "360", "--volume",
                              "0.25", "--hwdec", "no", "--audio-delay", "-0.5",
                              "--mpv-options-stdin", "--runtime-probe", "--allowed-schemes",
                              "http,https"});
  EXPECT_EQ(a.shmBase, "/x");
  EXPECT_EQ(a.width, 640);
  EXPECT_EQ(a.height, 360);
  EXPECT_DOUBLE_EQ(a.volume, 0.25);
  EXPECT_EQ(a.hwdec, "no");
  EXPECT_EQ(a.audioDelay, "-0.5");
  EXPECT_TRUE(a.mpvOptionsStdin);
  EXPECT_TRUE(a.runtimeProbe);
  EXPECT_EQ(a.allowedSchemes, "http,https");
  // Given without a value it is a policy that allows nothing, never none.
  EXPECT_EQ(parse({"--allowed-schemes"}).allowedSchemes, "");
}

TEST(HelperArgs, SmallOrUnparsableSizesRaiseTo16) {
  const HelperArgs a = parse({"--width", "8", "--height", "abc"});
  EXPECT_EQ(a.width, 16);
  EXPECT_EQ(a.height, 16);
  EXPECT_EQ(parse({"--width", "-5"}).width, 16);
  EXPECT_EQ(parse({"--width", "16"}).width, 16);
  EXPECT_EQ(parse({"--width", "17"}).width, 17);
  EXPECT_EQ(parse({"--width", "640px"}).width, 640);  // atoi takes the prefix
  // No upper limit, but no overflow either: values saturate.
  EXPECT_EQ(parse({"--width", "99999"}).width, 99999);
  EXPECT_EQ(parse({"--width", "99999999999999999999"}).width, INT32_MAX);
}

TEST(HelperArgs, ValueConsumptionAndTrailingOption) {
  // A trailing value option takes the empty text.
  EXPECT_EQ(parse({"--width"}).width, 16);
  EXPECT_EQ(parse({"--shm-base"}).shmBase, "");
  EXPECT_EQ(parse({"--hwdec"}).hwdec, "");
  // A value option consumes the next argument whatever it looks like.
  const HelperArgs a = parse({"--shm-base", "--width"});
  EXPECT_EQ(a.shmBase, "--width");
  EXPECT_EQ(a.width, 1280);
  EXPECT_FALSE(parse({"--hwdec", "--runtime-probe"}).runtimeProbe);
}

TEST(HelperArgs, ExactMatchingLastWinsAndStraysIgnored) {
  EXPECT_EQ(parse({"--width", "100", "--width", "200"}).width, 200);
  EXPECT_EQ(parse({"--shm-base", "/a", "--shm-base", "/b"}).shmBase, "/b");
  const HelperArgs a = parse({"--WIDTH", "50", "--width=300", "stray", "-w", "7", "--unknown"});
  EXPECT_EQ(a.width, 1280);
  EXPECT_EQ(a.height, 720);
  EXPECT_EQ(a.shmBase, "/ompv");
}

TEST(HelperArgs, PixelLayoutTakesOnlyItsOneOtherName) {
  using frame_ring::PixelLayout;
  EXPECT_EQ(parse({}).pixelLayout, PixelLayout::bgraBottomUp);
  EXPECT_EQ(parse({"--pixel-layout", "rgba-top-down"}).pixelLayout, PixelLayout::rgbaTopDown);
  EXPECT_EQ(
      parse({"--pixel-layout", "rgba-top-down", "--pixel-layout", "bgra-bottom-up"}).pixelLayout,
      PixelLayout::bgraBottomUp);
  EXPECT_EQ(parse({"--pixel-layout", "RGBA-top-down"}).pixelLayout, PixelLayout::bgraBottomUp);
  EXPECT_EQ(parse({"--pixel-layout"}).pixelLayout, PixelLayout::bgraBottomUp);
}
