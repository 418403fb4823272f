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
#include "thread_check.h"

namespace hosted_mpv {

size_t softwareStride(int width) { return (size_t(width) * 4 + 63) / 64 * 64; }

void renderSoftwareBranch(const SessionRef& session) {
  if (!session->renderContext) return;  // released by teardown
  auto t0 = std::chrono::steady_clock::now();
  int width, height;
  double scale;
  {
    threads::MutexLock lock(session->stateMutex);
    // A frame is never larger than what the screen shows: a huge view gets
    // one of that size, shown in its middle, not gigabytes of buffers.
    width = std::min(session->surfaceWidth, session->maxFrameWidth);
    height = std::min(session->surfaceHeight, session->maxFrameHeight);
    scale = session->backingScale;
  }
  if (width < 1 || height < 1) return;

  // 64-byte aligned rows and start let the engine take its fast paths. A
  // rotated picture comes already turned by the engine's filter chain
  // (turn_watch.h).
  size_t stride = softwareStride(width);
  size_t size = stride * size_t(height);
  auto buffer = std::unique_ptr<uint8_t, decltype(&std::free)>(
      static_cast<uint8_t*>(std::aligned_alloc(64, size)), &std::free);
  // A buffer that cannot be had ends the render like an image that cannot be made.
  if (!buffer) return;
  std::memset(buffer.get(), 0, size);

  int surfaceSize[2] = {width, height};
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
  PixelImageRef image = createPixelImage(width, height, stride, buffer.get());
  if (!image) return;
  dispatchMainAsync([session, image, scale] { renderSoftwareFrame(session, image, scale); });
  recordRenderedFrame(session, std::chrono::steady_clock::now() - t0);
}

void renderSoftwareFrame(const SessionRef& session, const PixelImageRef& image, double scale) {
  threads::assertRole(gMainThread);  // a main queue task
  if (!session->renderView || !viewHasLayer(session->renderView)) return;
  setLayerContents(session->renderView, image, scale);
}

}  // namespace hosted_mpv
