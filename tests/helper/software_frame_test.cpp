#include "software_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace frame_helper;

namespace {

// A picture whose every pixel names its own position: blue = x, green = y,
// red = 7, alpha 0 (as the software renderer's bars have it).
std::vector<uint8_t> namedPicture(int32_t width, int32_t height, size_t stride) {
  std::vector<uint8_t> picture(stride * height, 0xee);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = picture.data() + y * stride + x * 4;
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = 7;
      p[3] = 0;
    }
  }
  return picture;
}

}  // namespace

// Each turn puts every source pixel where the engine's clockwise rotation
// would, in a frame with the bottom row first and alpha 255. The sizes are
// larger than one tile and not multiples of it, and the source rows carry
// padding, so tile edges and strides both show.
TEST(SoftwareFrame, TurnsFlipsAndMakesOpaqueInOnePass) {
  const int32_t sourceWidth = 37;
  const int32_t sourceHeight = 45;
  const size_t stride = 40 * 4;
  const std::vector<uint8_t> source = namedPicture(sourceWidth, sourceHeight, stride);
  for (int turns = 0; turns < 4; ++turns) {
    SCOPED_TRACE(turns);
    const bool sideways = turns % 2 == 1;
    const int32_t width = sideways ? sourceHeight : sourceWidth;
    const int32_t height = sideways ? sourceWidth : sourceHeight;
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 4, 0);
    writeTurnedFrame(source.data(), stride, sourceWidth, sourceHeight, turns, frame.data(), width,
                     height);
    int wrong = 0;
    for (int32_t y = 0; y < height; ++y) {  // picture rows, top first
      for (int32_t x = 0; x < width; ++x) {
        int32_t sx = x, sy = y;
        if (turns == 1) sx = y, sy = sourceHeight - 1 - x;
        if (turns == 2) sx = sourceWidth - 1 - x, sy = sourceHeight - 1 - y;
        if (turns == 3) sx = sourceWidth - 1 - y, sy = x;
        const uint8_t* p = frame.data() + (static_cast<size_t>(height - 1 - y) * width + x) * 4;
        const uint8_t expected[4] = {static_cast<uint8_t>(sx), static_cast<uint8_t>(sy), 7, 255};
        if (std::memcmp(p, expected, 4) != 0) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(SoftwareFrame, QuarterTurnsOfAnyAngle) {
  EXPECT_EQ(quarterTurnsFor(0), 0);
  EXPECT_EQ(quarterTurnsFor(90), 1);
  EXPECT_EQ(quarterTurnsFor(270 + 90), 0);
  EXPECT_EQ(quarterTurnsFor(-90), 3);
  EXPECT_EQ(quarterTurnsFor(359), 0);
  EXPECT_EQ(quarterTurnsFor(134), 1);
  EXPECT_EQ(quarterTurnsFor(136), 2);
  EXPECT_EQ(quarterTurnsFor(270 + 270), 2);
}
