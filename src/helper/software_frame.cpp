#include "software_frame.h"

#include <algorithm>
#include <cstring>

namespace frame_helper {
namespace {

constexpr uint32_t kOpaque = 0xff000000u;  // alpha of a little-endian BGRA word
constexpr int32_t kTile = 32;              // 32 x 32 x 4 bytes: 4 KiB a side

uint32_t pixelAt(const uint8_t* source, size_t stride, int32_t x, int32_t y) {
  uint32_t value;
  std::memcpy(&value, source + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, 4);
  return value;
}

}  // namespace

void setOpaque(uint8_t* pixels, size_t count) {
  // Word-wise through memcpy: the compiler turns this into vector ORs.
  for (size_t i = 0; i < count; ++i) {
    uint32_t value;
    std::memcpy(&value, pixels + i * 4, 4);
    value |= kOpaque;
    std::memcpy(pixels + i * 4, &value, 4);
  }
}

void writeTurnedFrame(const uint8_t* source, size_t sourceStride, int32_t sourceWidth,
                      int32_t sourceHeight, int quarterTurns, uint8_t* frame, int32_t width,
                      int32_t height) {
  const size_t frameStride = static_cast<size_t>(width) * 4;
  // Picture row y (top first) is frame row height - 1 - y.
  const auto frameRow = [&](int32_t y) {
    return reinterpret_cast<uint32_t*>(frame + static_cast<size_t>(height - 1 - y) * frameStride);
  };
  if (quarterTurns == 0 || quarterTurns == 2) {
    for (int32_t y = 0; y < height; ++y) {
      uint32_t* out = frameRow(y);
      if (quarterTurns == 0) {
        const uint8_t* in = source + static_cast<size_t>(y) * sourceStride;
        for (int32_t x = 0; x < width; ++x) {
          uint32_t value;
          std::memcpy(&value, in + static_cast<size_t>(x) * 4, 4);
          out[x] = value | kOpaque;
        }
      } else {
        // Half a turn: picture (x, y) is source (w-1-x, h-1-y).
        const int32_t sy = sourceHeight - 1 - y;
        for (int32_t x = 0; x < width; ++x) {
          out[x] = pixelAt(source, sourceStride, sourceWidth - 1 - x, sy) | kOpaque;
        }
      }
    }
    return;
  }
  // A quarter turn clockwise: picture (x, y) is source (y, h-1-x); three
  // quarters: source (w-1-y, x).
  for (int32_t y0 = 0; y0 < height; y0 += kTile) {
    const int32_t y1 = std::min(height, y0 + kTile);
    for (int32_t x0 = 0; x0 < width; x0 += kTile) {
      const int32_t x1 = std::min(width, x0 + kTile);
      for (int32_t y = y0; y < y1; ++y) {
        uint32_t* out = frameRow(y);
        for (int32_t x = x0; x < x1; ++x) {
          const uint32_t value = quarterTurns == 1
                                     ? pixelAt(source, sourceStride, y, sourceHeight - 1 - x)
                                     : pixelAt(source, sourceStride, sourceWidth - 1 - y, x);
          out[x] = value | kOpaque;
        }
      }
    }
  }
}

int quarterTurnsFor(int64_t degrees) {
  const int64_t normalised = ((degrees % 360) + 360) % 360;
  return static_cast<int>(((normalised + 45) / 90) % 4);
}

}  // namespace frame_helper
