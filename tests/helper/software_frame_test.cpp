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

// Every source pixel lands in its place, rows in the ring's order (bottom
// row first, or top row first), alpha 255; the source rows carry padding the
// frame does not.
TEST(SoftwareFrame, PlacesRowsInEitherOrderAndMakesOpaqueInOnePass) {
  const int32_t width = 37;
  const int32_t height = 45;
  const size_t stride = 40 * 4;
  const std::vector<uint8_t> source = namedPicture(width, height, stride);
  for (const bool topDown : {false, true}) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 4, 0);
    writeFrame(source.data(), stride, frame.data(), width, height, topDown);
    int wrong = 0;
    for (int32_t y = 0; y < height; ++y) {  // picture rows, top first
      const size_t frameRow = static_cast<size_t>(topDown ? y : height - 1 - y);
      for (int32_t x = 0; x < width; ++x) {
        const uint8_t* p = frame.data() + (frameRow * width + x) * 4;
        const uint8_t expected[4] = {static_cast<uint8_t>(x), static_cast<uint8_t>(y), 7, 255};
        if (std::memcmp(p, expected, 4) != 0) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << (topDown ? "top-down" : "bottom-up");
  }
}
