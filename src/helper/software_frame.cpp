#include "software_frame.h"

#include <cstring>

namespace frame_helper {
namespace {

constexpr uint32_t kOpaque = 0xff000000u;  // alpha of a little-endian BGRA word
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

void writeFrame(const uint8_t* source, size_t sourceStride, uint8_t* frame, int32_t width,
                int32_t height, bool topDown) {
  const size_t frameStride = static_cast<size_t>(width) * 4;
  for (int32_t y = 0; y < height; ++y) {
    // Picture row y (top first) is frame row y top-down, else height - 1 - y.
    const int32_t frameRow = topDown ? y : height - 1 - y;
    auto* out = reinterpret_cast<uint32_t*>(frame + static_cast<size_t>(frameRow) * frameStride);
    const uint8_t* in = source + static_cast<size_t>(y) * sourceStride;
    for (int32_t x = 0; x < width; ++x) {
      uint32_t value;
      std::memcpy(&value, in + static_cast<size_t>(x) * 4, 4);
      out[x] = value | kOpaque;
    }
  }
}

}  // namespace frame_helper
