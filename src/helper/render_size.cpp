#include "render_size.h"

#include <algorithm>
#include <cmath>

#include "helper_state.h"

namespace frame_helper {

namespace {

constexpr int64_t kMinimumSide = 16;
constexpr int64_t kMaximumSide = kMaxRenderSide;

// Rounded half away from zero, at least 16, lowest bit cleared.
int64_t scaledSide(int64_t videoSide, double scale) {
  int64_t side = std::llround(static_cast<double>(videoSide) * scale);
  if (side <= kMinimumSide) side = kMinimumSide;
  return side & ~int64_t{1};
}

}  // namespace

std::optional<RenderSize> fitRenderSize(int64_t boxWidth, int64_t boxHeight, int64_t videoWidth,
                                        int64_t videoHeight) {
  int64_t width = boxWidth;
  int64_t height = boxHeight;
  if (videoWidth >= kMinimumSide && videoHeight >= kMinimumSide && boxWidth >= kMinimumSide &&
      boxHeight >= kMinimumSide) {
    const double scale =
        std::min(static_cast<double>(boxWidth) / static_cast<double>(videoWidth),
                 static_cast<double>(boxHeight) / static_cast<double>(videoHeight));
    width = scaledSide(videoWidth, scale);
    height = scaledSide(videoHeight, scale);
  }
  if (width < kMinimumSide || height < kMinimumSide) return std::nullopt;
  if (width > kMaximumSide || height > kMaximumSide) {
    // What is allocated is bounded, not the box: a huge box that fits the
    // video to a sane size is fine; a ring bigger than this is scaled down
    // (aspect kept) instead of failing its rebuild, which ends rendering.
    const double scale = std::min(static_cast<double>(kMaximumSide) / static_cast<double>(width),
                                  static_cast<double>(kMaximumSide) / static_cast<double>(height));
    width = std::min(scaledSide(width, scale), kMaximumSide);
    height = std::min(scaledSide(height, scale), kMaximumSide);
  }
  return RenderSize{static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

void applyRenderSizeLocked(HelperState& state) {
  const std::optional<RenderSize> size =
      fitRenderSize(state.renderWidth, state.renderHeight, state.videoWidth, state.videoHeight);
  if (size) state.pipeline.requestSize(size->width, size->height);
}

}  // namespace frame_helper
