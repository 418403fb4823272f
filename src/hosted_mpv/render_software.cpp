// The software render branch.
// Threads: renderQueue renders; the main thread shows the image. stateMutex is
// taken only to copy the surface size and scale.
#include "render_software.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/main_thread.h"
#include "render.h"
#include "rotation.h"

namespace hosted_mpv {

size_t softwareStride(int width) { return (size_t(width) * 4 + 63) / 64 * 64; }

void renderSoftwareBranch(const SessionRef& session) {
  if (!session->renderContext) return;  // released by teardown
  auto t0 = std::chrono::steady_clock::now();
  int width, height, rotation;
  double scale;
  {
    std::lock_guard lock(session->stateMutex);
    // A frame is never larger than what the screen shows: a huge view gets
    // one of that size, shown in its middle, not gigabytes of buffers.
    width = std::min(session->surfaceWidth, session->maxFrameWidth);
    height = std::min(session->surfaceHeight, session->maxFrameHeight);
    scale = session->backingScale;
    rotation = effectiveRotation(session->streamRotation, session->requestedRotation);
  }
  if (width < 1 || height < 1) return;

  // The engine draws the picture as stored (it never rotates on this path),
  // into a surface turned back by the rotation, so that turning its frame
  // fills the real surface exactly as the engine's own rotation would.
  bool sideways = rotation == 90 || rotation == 270;
  int drawWidth = sideways ? height : width;
  int drawHeight = sideways ? width : height;
  auto allocate = [](size_t size) {
    // 64-byte aligned rows and start let the engine take its fast paths.
    return std::unique_ptr<uint8_t, decltype(&std::free)>(
        static_cast<uint8_t*>(std::aligned_alloc(64, size)), &std::free);
  };
  size_t stride = softwareStride(drawWidth);
  size_t size = stride * size_t(drawHeight);
  // A buffer that cannot be had ends the render like an image that cannot be made.
  auto buffer = allocate(size);
  if (!buffer) return;
  std::memset(buffer.get(), 0, size);

  int surfaceSize[2] = {drawWidth, drawHeight};
  char format[] = "bgr0";
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_SW_SIZE, surfaceSize}, {MPV_RENDER_PARAM_SW_FORMAT, format},
      {MPV_RENDER_PARAM_SW_STRIDE, &stride},   {MPV_RENDER_PARAM_SW_POINTER, buffer.get()},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  int result = mpv_render_context_render(session->renderContext, params);
  if (result < 0) {
    updateSessionError(*session, std::string("Failed to render frame: ") + mpv_error_string(result),
                       true);
    return;
  }
  if (rotation != 0) {
    size_t turnedStride = softwareStride(width);
    auto turned = allocate(turnedStride * size_t(height));
    if (!turned) return;
    size_t rowBytes = size_t(width) * 4;
    for (int y = 0; y < height; ++y) {  // the row padding, which the turn does not write
      std::memset(turned.get() + size_t(y) * turnedStride + rowBytes, 0, turnedStride - rowBytes);
    }
    rotatePixels(buffer.get(), stride, drawWidth, drawHeight, rotation, turned.get(), turnedStride);
    buffer = std::move(turned);
    stride = turnedStride;
  }
  PixelImageRef image = createPixelImage(width, height, stride, buffer.get());
  if (!image) return;
  dispatchMainAsync([session, image, scale] { renderSoftwareFrame(session, image, scale); });
  recordRenderedFrame(session, std::chrono::steady_clock::now() - t0);
}

void renderSoftwareFrame(const SessionRef& session, const PixelImageRef& image, double scale) {
  if (!session->renderView || !viewHasLayer(session->renderView)) return;
  setLayerContents(session->renderView, image, scale);
}

}  // namespace hosted_mpv
