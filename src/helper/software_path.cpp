#include "software_path.h"

#include <cstdint>

#include "software_frame.h"

namespace frame_helper {
namespace {

// The software renderer's output: BGR (RGB for rgbaTopDown) and a fourth
// byte it leaves undefined, which the slot writer sets to 255.
char kSoftwareFormat[] = "bgr0";
char kSoftwareFormatRgb[] = "rgb0";
// The renderer's fast paths want rows on 64-byte boundaries.
constexpr size_t kSoftwareRowAlignment = 64;

bool topDown(const RenderPipeline& p) {
  return p.config.pixelLayout == frame_ring::PixelLayout::rgbaTopDown;
}

bool renderInto(RenderPipeline& p, uint8_t* pointer, int32_t w, int32_t h, size_t stride)
    REQUIRES(p.renderThread) {
  int size[2] = {w, h};
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_SW_SIZE, size},
      {MPV_RENDER_PARAM_SW_FORMAT, topDown(p) ? kSoftwareFormatRgb : kSoftwareFormat},
      {MPV_RENDER_PARAM_SW_STRIDE, &stride},
      {MPV_RENDER_PARAM_SW_POINTER, pointer},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  return mpv_render_context_render(p.renderContext, params) >= 0;
}

}  // namespace

bool setUpSoftwarePath(RenderPipeline& p, std::string& error) REQUIRES(p.renderThread) {
  if (!engine::startTurnWatch(p.turnWatch, p.config.mpv, error)) return false;
  if (p.config.onSoftwarePath) p.config.onSoftwarePath();

  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  const int result = mpv_render_context_create(&p.renderContext, p.config.mpv, params);
  if (result < 0 || !p.renderContext) {
    p.renderContext = nullptr;
    error = result < 0 ? mpv_error_string(result) : "render context unavailable";
    return false;
  }
  mpv_render_context_set_update_callback(p.renderContext, &RenderPipeline::onRenderUpdate, &p);
  return true;
}

void renderSoftwareFrame(RenderPipeline& p) REQUIRES(p.renderThread) {
  if (!p.ring.isMapped()) return;
  const size_t frameStride = static_cast<size_t>(p.width) * 4;
  // The number is taken only by a frame that is published: a failed render
  // leaves its slot empty (seq 0) and the next frame goes to the same slot.
  const uint64_t seq = p.nextSequence;
  uint8_t* slot = p.ring.beginFrame(seq);

  bool rendered = false;
  // libswscale writes rows in whole SIMD blocks, past a row's end when its
  // bytes are not a multiple of 64; the slot's last row (the picture's top
  // upward, its bottom top-down) would then spill past the slot (past the
  // mapping, for the last slot). Such widths go through the padded scratch
  // picture.
  if (p.directSoftwareTarget && frameStride % kSoftwareRowAlignment == 0) {
    // Bottom row first without a copy: the engine starts at the slot's last
    // row and steps upward, a stride of minus one row (as size_t, which the
    // engine adds with wrap-around). Top-down is the engine's own order. An
    // engine that refuses it gets the scratch picture from then on.
    rendered = topDown(p) ? renderInto(p, slot, p.width, p.height, frameStride)
                          : renderInto(p, slot + frameStride * static_cast<size_t>(p.height - 1),
                                       p.width, p.height, size_t{0} - frameStride);
    if (rendered) {
      setOpaque(slot, static_cast<size_t>(p.width) * static_cast<size_t>(p.height));
    } else {
      p.directSoftwareTarget = false;
    }
  }
  if (!rendered) {
    const size_t stride = (static_cast<size_t>(p.width) * 4 + kSoftwareRowAlignment - 1) /
                          kSoftwareRowAlignment * kSoftwareRowAlignment;
    const size_t bytes = stride * static_cast<size_t>(p.height) + kSoftwareRowAlignment;
    if (p.scratch.size() < bytes) p.scratch.assign(bytes, 0);
    // Aligned inside the vector: its own alignment is only that of new.
    const size_t misalignment =
        reinterpret_cast<uintptr_t>(p.scratch.data()) % kSoftwareRowAlignment;
    uint8_t* source = p.scratch.data() + (misalignment ? kSoftwareRowAlignment - misalignment : 0);
    rendered = renderInto(p, source, p.width, p.height, stride);
    if (rendered) {
      writeFrame(source, stride, slot, p.width, p.height, topDown(p));
    }
  }
  mpv_render_context_report_swap(p.renderContext);
  if (!rendered) return;
  ++p.nextSequence;
  p.ring.finishFrame(seq);
}

}  // namespace frame_helper
