// The software path's own rotation: which quarter turn a stream gets, and
// that a turned frame puts every pixel where the engine's rotation would.
#include "rotation.h"

#include <gtest/gtest.h>

#include <vector>

using namespace hosted_mpv;

TEST(EffectiveRotation, AddsTheCallersRotationAndRoundsToAQuarterTurn) {
  EXPECT_EQ(effectiveRotation(0, 0), 0);
  EXPECT_EQ(effectiveRotation(90, 0), 90);
  EXPECT_EQ(effectiveRotation(270, 90), 0);
  EXPECT_EQ(effectiveRotation(180, 270), 90);
  EXPECT_EQ(effectiveRotation(270, -1), 0);  // video-rotate=no
  EXPECT_EQ(effectiveRotation(44, 0), 0);
  EXPECT_EQ(effectiveRotation(45, 0), 90);
  EXPECT_EQ(effectiveRotation(99, 0), 90);
  EXPECT_EQ(effectiveRotation(359, 0), 0);
  EXPECT_EQ(effectiveRotation(314, 0), 270);
  EXPECT_EQ(effectiveRotation(-90, 0), 270);
}

namespace {

// A 3 × 2 frame whose pixels number themselves, in rows padded to 16 bytes.
//   1 2 3
//   4 5 6
std::vector<uint32_t> turn(int rotation, int& width, int& height) {
  const size_t sourceStride = 16;
  std::vector<uint32_t> source(sourceStride / 4 * 2, 0xdeadbeef);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) source[y * 4 + x] = uint32_t(y * 3 + x + 1);
  }
  bool sideways = rotation % 180 != 0;
  width = sideways ? 2 : 3;
  height = sideways ? 3 : 2;
  const size_t targetStride = 16;
  std::vector<uint32_t> target(targetStride / 4 * size_t(height), 0);
  rotatePixels(reinterpret_cast<const uint8_t*>(source.data()), sourceStride, 3, 2, rotation,
               reinterpret_cast<uint8_t*>(target.data()), targetStride);
  std::vector<uint32_t> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pixels.push_back(target[size_t(y) * 4 + size_t(x)]);
  }
  return pixels;
}

}  // namespace

TEST(RotatePixels, TurnsClockwise) {
  int width, height;
  // A clockwise quarter turn moves the top row to the right column.
  EXPECT_EQ(turn(90, width, height), (std::vector<uint32_t>{4, 1, 5, 2, 6, 3}));
  EXPECT_EQ(width, 2);
  EXPECT_EQ(turn(270, width, height), (std::vector<uint32_t>{3, 6, 2, 5, 1, 4}));
  EXPECT_EQ(turn(180, width, height), (std::vector<uint32_t>{6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(width, 3);
}

TEST(RotatePixels, CoversFramesLargerThanATile) {
  const int w = 37, h = 70;  // neither a multiple of the tile
  std::vector<uint32_t> source(size_t(w) * h);
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint32_t(i);
  std::vector<uint32_t> target(source.size(), 0xffffffff);
  rotatePixels(reinterpret_cast<const uint8_t*>(source.data()), w * 4, w, h, 90,
               reinterpret_cast<uint8_t*>(target.data()), h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      ASSERT_EQ(target[size_t(x) * h + size_t(h - 1 - y)], source[size_t(y) * w + size_t(x)])
          << x << "," << y;
    }
  }
}
