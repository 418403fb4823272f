// The render target size: the application's box, fitted to the video's
// aspect ratio once the video size is known.
#pragma once

#include <cstdint>
#include <optional>

#include "helper_state.h"

namespace frame_helper {

struct RenderSize {
  int32_t width = 0;
  int32_t height = 0;
};

// The largest side of a render target and frame ring (a 256 MiB frame at
// most): GL textures and shared memory of any size cannot be had.
constexpr int32_t kMaxRenderSide = 8192;

// With a known video size (box and video all at least 16) the video is scaled
// to fit the box, each side rounded, raised to 16 and made even; otherwise the
// box is used as it is, odd sizes included. A result with a side above
// kMaxRenderSide is scaled down to fit kMaxRenderSide x kMaxRenderSide the same
// way (aspect kept, rounded, at least 16, even). Nothing when a side ends up
// below 16.
std::optional<RenderSize> fitRenderSize(int64_t boxWidth, int64_t boxHeight, int64_t videoWidth,
                                        int64_t videoHeight);

// Fits the state's renderWidth x renderHeight box to its video size and hands
// the result to its pipeline's render thread.
void applyRenderSizeLocked(HelperState& state) REQUIRES(state.stateMutex);

}  // namespace frame_helper
