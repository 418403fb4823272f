#include "gl_read_back.h"

#include <mpv/render_gl.h>

namespace frame_helper {
namespace {

bool topDown(const RenderPipeline& p) {
  return p.config.pixelLayout == frame_ring::PixelLayout::rgbaTopDown;
}

// The engine draws the next frame into the framebuffer. The read-back starts
// at framebuffer row 0: drawn flipped, that is the picture's bottom row
// (bgraBottomUp); drawn as the engine draws into a framebuffer object, its
// top row (rgbaTopDown). Either costs the engine the same.
void renderIntoFramebuffer(RenderPipeline& p) REQUIRES(p.renderThread) {
  mpv_opengl_fbo fbo{static_cast<int>(p.framebuffer), p.width, p.height, 0};
  int flipY = topDown(p) ? 0 : 1;
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
      {MPV_RENDER_PARAM_FLIP_Y, &flipY},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  // A failed render still reads back and publishes what the target holds.
  mpv_render_context_render(p.renderContext, params);
}

// glReadPixels then reads the framebuffer's colour, rows packed.
void bindForReading(const RenderPipeline& p) REQUIRES(p.renderThread) {
  const GlFunctions& f = p.glFunctions;
  f.bindFramebuffer(GL_READ_FRAMEBUFFER, p.framebuffer);
  f.readBuffer(GL_COLOR_ATTACHMENT0);
  f.pixelStorei(GL_PACK_ALIGNMENT, 1);
  f.pixelStorei(GL_PACK_ROW_LENGTH, 0);
}

// glReadPixels of the whole target in the ring's byte order. RGBA bytes are
// the texture's own format, so that read-back converts nothing either.
void readTarget(const RenderPipeline& p, void* destination) REQUIRES(p.renderThread) {
  if (topDown(p)) {
    p.glFunctions.readPixels(0, 0, p.width, p.height, GL_RGBA, GL_UNSIGNED_BYTE, destination);
  } else {
    p.glFunctions.readPixels(0, 0, p.width, p.height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                             destination);
  }
}

}  // namespace

bool setUpGlPath(RenderPipeline& p, std::string& error) REQUIRES(p.renderThread) {
  mpv_opengl_init_params glInit{glDlsymGetProcAddress, p.gl.library};
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
      {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  const int result = mpv_render_context_create(&p.renderContext, p.config.mpv, params);
  if (result < 0) {
    p.renderContext = nullptr;
    error = mpv_error_string(result);
    return false;
  }
  if (!p.renderContext) {
    error = "render context unavailable";
    return false;
  }
  // Registered here rather than by main: every mpv_render_* call then comes
  // from this thread, as libmpv requires.
  mpv_render_context_set_update_callback(p.renderContext, &RenderPipeline::onRenderUpdate, &p);
  return true;
}

bool buildGlTargets(RenderPipeline& p) REQUIRES(p.renderThread) {
  // A plain alias: clang's analysis loses the pipeline behind a const one
  // of a non-const pipeline, and would not see the render thread's role.
  GlFunctions& f = p.glFunctions;
  f.genTextures(1, &p.texture);
  f.bindTexture(GL_TEXTURE_2D, p.texture);
  f.texImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, p.width, p.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               nullptr);
  f.texParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  f.bindTexture(GL_TEXTURE_2D, 0);

  f.genFramebuffers(1, &p.framebuffer);
  f.bindFramebuffer(GL_FRAMEBUFFER, p.framebuffer);
  f.framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, p.texture, 0);
  // Checked before the pixel buffers exist: a size the texture refused would
  // otherwise still allocate three frames' worth of buffer memory for nothing.
  if (f.checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;

  if (p.readBack != ReadBack::direct) {
    const auto frameBytes = static_cast<GLsizeiptr>(p.width) * p.height * 4;
    f.genBuffers(3, p.pixelBuffers.data());
    for (uint32_t buffer : p.pixelBuffers) {
      f.bindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
      f.bufferData(GL_PIXEL_PACK_BUFFER, frameBytes, nullptr, GL_STREAM_READ);
    }
    f.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  }
  return true;
}

void deleteGlTargets(RenderPipeline& p) REQUIRES(p.renderThread) {
  // Objects exist only when the context was current and the functions
  // loaded, so this calls nothing after a failed bind.
  GlFunctions& f = p.glFunctions;
  if (p.texture != 0) f.deleteTextures(1, &p.texture);
  if (p.framebuffer != 0) f.deleteFramebuffers(1, &p.framebuffer);
  if (p.pixelBuffers[0] != 0) f.deleteBuffers(3, p.pixelBuffers.data());
  p.texture = 0;
  p.framebuffer = 0;
  p.pixelBuffers = {};
}

void renderIntoPixelBuffer(RenderPipeline& p) REQUIRES(p.renderThread) {
  GlFunctions& f = p.glFunctions;
  renderIntoFramebuffer(p);
  bindForReading(p);

  // The previous read-back has had a whole frame's time to finish.
  publishPixelBuffer(p);

  f.bindBuffer(GL_PIXEL_PACK_BUFFER, p.pixelBuffers[p.nextPixelBuffer]);
  readTarget(p, nullptr);
  f.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  p.pendingPixelBuffer = p.nextPixelBuffer;
  p.nextPixelBuffer = (p.nextPixelBuffer + 1) % 3;

  mpv_render_context_report_swap(p.renderContext);
}

void publishPixelBuffer(RenderPipeline& p) REQUIRES(p.renderThread) {
  if (p.pendingPixelBuffer < 0 || !p.ring.isMapped()) return;
  GlFunctions& f = p.glFunctions;
  f.bindBuffer(GL_PIXEL_PACK_BUFFER, p.pixelBuffers[p.pendingPixelBuffer]);
  const void* pixels = f.mapBufferRange(
      GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(p.ring.header->frameBytes), GL_MAP_READ_BIT);
  if (pixels) {
    const uint64_t seq = p.nextSequence++;
    p.ring.publish(pixels, seq);
    f.unmapBuffer(GL_PIXEL_PACK_BUFFER);
  }
  // A buffer that cannot be mapped loses its frame, which takes no number.
  f.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  p.pendingPixelBuffer = -1;
}

void renderForDirectRead(RenderPipeline& p) REQUIRES(p.renderThread) {
  // The previous frame leaves the framebuffer before the engine draws over it.
  publishDirectRead(p);
  renderIntoFramebuffer(p);
  // Hands the frame to the rasteriser now, so it is drawn while this thread
  // waits for the next pass rather than when the read-back asks for it.
  p.glFunctions.flush();
  p.framePending = true;
  mpv_render_context_report_swap(p.renderContext);
}

void publishDirectRead(RenderPipeline& p) REQUIRES(p.renderThread) {
  if (!p.framePending || !p.ring.isMapped()) return;
  GlFunctions& f = p.glFunctions;
  bindForReading(p);
  f.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);  // pixels go to client memory: the slot
  const uint64_t seq = p.nextSequence++;
  readTarget(p, p.ring.beginFrame(seq));
  p.ring.finishFrame(seq);
  p.framePending = false;
}

}  // namespace frame_helper
