#include "render_pipeline.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "json_writer.h"
#include "software_frame.h"
#include "software_renderer.h"

namespace frame_helper {
namespace {

constexpr auto kWakeInterval = std::chrono::milliseconds(100);

// The software renderer's output: BGR and a fourth byte it leaves undefined,
// which the slot writer sets to 255.
char kSoftwareFormat[] = "bgr0";
// The renderer's fast paths want rows on 64-byte boundaries.
constexpr size_t kSoftwareRowAlignment = 64;
constexpr uint64_t kRotationReply = 1;
constexpr uint64_t kLoadHookReply = 2;

// video-rotate's value as the turn adds it: degrees, or -1 for "no".
int64_t rotationOption(mpv_handle* mpv, const char* name) {
  char* value = mpv_get_property_string(mpv, name);
  if (!value) return 0;
  const std::string text = value;
  mpv_free(value);
  return text == "no" ? -1 : std::strtoll(text.c_str(), nullptr, 10);
}

bool isSetLocally(mpv_handle* mpv, const char* name) {
  int flag = 0;
  return mpv_get_property(mpv, name, MPV_FORMAT_FLAG, &flag) >= 0 && flag != 0;
}

void emitFatal(const std::string& error) {
  emitLine(JsonWriter().str("event", "fatal").str("error", error).finish());
}

// Deletes the render targets. Objects exist only when the context was current
// and the functions loaded, so this is a no-op after a failed bind.
void deleteTargets(RenderPipeline& p) {
  const GlFunctions& f = p.glFunctions;
  if (p.texture != 0) f.deleteTextures(1, &p.texture);
  if (p.framebuffer != 0) f.deleteFramebuffers(1, &p.framebuffer);
  if (p.pixelBuffers[0] != 0) f.deleteBuffers(3, p.pixelBuffers.data());
  p.texture = 0;
  p.framebuffer = 0;
  p.pixelBuffers = {};
}

// The end of the thread, on every path: render context (while the GL context
// is still current, as the engine needs), GL objects, GL context, ring.
void releaseAll(RenderPipeline& p) {
  if (p.renderContext) {
    mpv_render_context_set_update_callback(p.renderContext, nullptr, nullptr);
    mpv_render_context_free(p.renderContext);
    p.renderContext = nullptr;
  }
  if (p.rotationWatch) {
    mpv_set_wakeup_callback(p.rotationWatch, nullptr, nullptr);
    mpv_destroy(p.rotationWatch);
    p.rotationWatch = nullptr;
  }
  deleteTargets(p);
  p.gl.destroy();
  p.ring.close();
}

}  // namespace

void RenderPipeline::runLoop() {
  std::string error;
  if (!setupGl(error)) {
    emitFatal("render init failed: " + error);
    readyState.store(-1, std::memory_order_release);
    releaseAll(*this);
    return;
  }
  readyState.store(1, std::memory_order_release);

  for (;;) {
    int32_t requestedWidth = 0;
    int32_t requestedHeight = 0;
    {
      std::unique_lock<std::mutex> lock(mutex);
      // The timeout keeps the heartbeat fresh and bounds how long a finished
      // read-back waits for its publication.
      const auto deadline = std::chrono::steady_clock::now() + kWakeInterval;
      wake.wait_until(lock, deadline, [this] { return updatePending || stopRequested; });
      if (stopRequested) break;
      updatePending = false;
      requestedWidth = pendingWidth;
      requestedHeight = pendingHeight;
      pendingWidth = 0;
      pendingHeight = 0;
    }

    bool resized = false;
    if (requestedWidth >= 1 && requestedHeight >= 1 &&
        (requestedWidth != width || requestedHeight != height)) {
      if (!rebuildTargets(requestedWidth, requestedHeight)) {
        emitFatal("resize target rebuild failed");
        break;
      }
      resized = true;
    }

    // Drained every pass, rendering or not: the handle gets every broadcast
    // event of the engine too.
    if (rotationWatch) readRotationEvents();
    const uint64_t flags = mpv_render_context_update(renderContext);
    if ((flags & MPV_RENDER_UPDATE_FRAME) || resized) {
      renderFrame();
    } else {
      publishPending();
    }
    if (ring.isMapped()) ring.storeHeartbeat(monotonicNowNs());
  }
  releaseAll(*this);
}

bool RenderPipeline::setupGl(std::string& error) {
  if (!gl.makeCurrent()) {
    error = "failed to bind the CGL render context";
    return false;
  }
  if (!loadGlFunctions(glFunctions, gl.library)) {
    error = "framebuffer setup failed";
    return false;
  }

  bool softwareRenderer = false;
  std::string rendererName;
  if (const GLubyte* renderer = glFunctions.getString(GL_RENDERER)) {
    rendererName = reinterpret_cast<const char*>(renderer);
    std::fprintf(stderr, "gl renderer: %s\n", rendererName.c_str());
    softwareRenderer = isSoftwareGlRenderer(rendererName);
    if (onSoftwareRenderer && softwareRenderer) onSoftwareRenderer();
  }
  if (readBack == ReadBack::automatic) {
    readBack = softwareRenderer ? ReadBack::direct : ReadBack::pixelBuffers;
  }
  std::string reason;
  renderPath = chooseRenderPath(rendererChoice, rendererName, reason);
  std::fprintf(stderr, "%s\n", renderPathLine(renderPath, reason).c_str());
  if (renderPath == RenderPath::software) {
    GLint maxSide = 0;
    glFunctions.getIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    maxSoftwareSide = maxSide;
    // OpenGL only told us what it is; a rasteriser's threads and memory
    // are not kept for nothing.
    gl.destroy();
    return setupSoftware(error);
  }

  // The first ring and its "shm" event exist before the render context does.
  if (!rebuildTargets(width, height)) {
    error = "framebuffer setup failed";
    return false;
  }

  mpv_opengl_init_params glInit{glDlsymGetProcAddress, gl.library};
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
      {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  const int result = mpv_render_context_create(&renderContext, mpv, params);
  if (result < 0) {
    renderContext = nullptr;
    error = mpv_error_string(result);
    return false;
  }
  if (!renderContext) {
    error = "render context unavailable";
    return false;
  }
  // Registered here rather than by main: every mpv_render_* call then comes
  // from this thread, as libmpv requires.
  mpv_render_context_set_update_callback(renderContext, &RenderPipeline::onRenderUpdate, this);
  return true;
}

bool RenderPipeline::setupSoftware(std::string& error) {
  // The first ring and its "shm" event exist before the render context does.
  if (!rebuildTargets(width, height)) {
    error = "framebuffer setup failed";
    return false;
  }
  // Read before it is overridden: the caller's own video-rotate (a number of
  // degrees added to the stream's, or "no") still applies, made by the
  // slot writer.
  callerRotation = rotationOption(mpv, "video-rotate");
  fileRotation = callerRotation;
  publishedFileRotation.store(fileRotation, std::memory_order_release);
  if (const int result = mpv_set_property_string(mpv, "video-rotate", "no"); result < 0) {
    error = std::string("video-rotate: ") + mpv_error_string(result);
    return false;
  }
  if (onSoftwarePath) onSoftwarePath();
  rotationWatch = mpv_create_client(mpv, "orvanel-render-rotation");
  if (!rotationWatch) {
    error = "render context unavailable";
    return false;
  }
  mpv_set_wakeup_callback(rotationWatch, &RenderPipeline::onRenderUpdate, this);
  mpv_observe_property(rotationWatch, kRotationReply, "current-tracks/video/demux-rotation",
                       MPV_FORMAT_INT64);
  // A load's own video-rotate would reach the renderer: it is taken over
  // in the hook that runs after per-file options are applied.
  mpv_hook_add(rotationWatch, kLoadHookReply, "on_load", 0);

  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  const int result = mpv_render_context_create(&renderContext, mpv, params);
  if (result < 0 || !renderContext) {
    renderContext = nullptr;
    error = result < 0 ? mpv_error_string(result) : "render context unavailable";
    return false;
  }
  mpv_render_context_set_update_callback(renderContext, &RenderPipeline::onRenderUpdate, this);
  return true;
}

void RenderPipeline::readRotationEvents() {
  for (;;) {
    const mpv_event* event = mpv_wait_event(rotationWatch, 0);
    if (event->event_id == MPV_EVENT_NONE) return;
    if (event->event_id == MPV_EVENT_HOOK && event->reply_userdata == kLoadHookReply) {
      // The engine waits for this answer, and serves our calls meanwhile.
      fileRotation = callerRotation;
      if (isSetLocally(rotationWatch, "option-info/video-rotate/set-locally")) {
        fileRotation = rotationOption(rotationWatch, "video-rotate");
        mpv_set_property_string(rotationWatch, "file-local-options/video-rotate", "no");
      }
      publishedFileRotation.store(fileRotation, std::memory_order_release);
      mpv_hook_continue(rotationWatch, static_cast<const mpv_event_hook*>(event->data)->id);
      continue;
    }
    if (event->event_id != MPV_EVENT_PROPERTY_CHANGE || event->reply_userdata != kRotationReply) {
      continue;
    }
    const auto* property = static_cast<const mpv_event_property*>(event->data);
    // No video track, or one without the metadata: no turn.
    streamRotation = property->format == MPV_FORMAT_INT64 ? *static_cast<int64_t*>(property->data)
                                                          : 0;
  }
}

bool RenderPipeline::rebuildTargets(int32_t w, int32_t h) {
  const GlFunctions& f = glFunctions;
  deleteTargets(*this);
  nextPixelBuffer = 0;
  pendingPixelBuffer = -1;  // an unpublished read-back of the old size is dropped
  framePending = false;     // likewise a frame not yet read back
  width = w;
  height = h;
  if (renderPath == RenderPath::software) {
    if (w > maxSoftwareSide || h > maxSoftwareSide) return false;
    return createRing();
  }

  f.genTextures(1, &texture);
  f.bindTexture(GL_TEXTURE_2D, texture);
  f.texImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  f.texParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  f.bindTexture(GL_TEXTURE_2D, 0);

  f.genFramebuffers(1, &framebuffer);
  f.bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  f.framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
  // Checked before the pixel buffers exist: a size the texture refused would
  // otherwise still allocate three frames' worth of buffer memory for nothing.
  if (f.checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;

  if (readBack != ReadBack::direct) {
    const auto frameBytes = static_cast<GLsizeiptr>(w) * h * 4;
    f.genBuffers(3, pixelBuffers.data());
    for (uint32_t buffer : pixelBuffers) {
      f.bindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
      f.bufferData(GL_PIXEL_PACK_BUFFER, frameBytes, nullptr, GL_STREAM_READ);
    }
    f.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  }

  return createRing();
}

bool RenderPipeline::createRing() {
  ++generation;
  const std::string name = shmBase + "-g" + std::to_string(generation);
  if (!ring.create(name, static_cast<uint32_t>(width), static_cast<uint32_t>(height), generation)) {
    return false;
  }
  if (onRingCreated) onRingCreated(name, width, height, generation);
  return true;
}

void RenderPipeline::renderSoftwareFrame() {
  if (!ring.isMapped()) return;
  const int turns = fileRotation < 0 ? 0 : quarterTurnsFor(streamRotation + fileRotation);
  const size_t frameStride = static_cast<size_t>(width) * 4;
  // The number is taken only by a frame that is published: a failed render
  // leaves its slot empty (seq 0) and the next frame goes to the same slot.
  const uint64_t seq = nextSequence;
  uint8_t* slot = ring.beginFrame(seq);

  const auto render = [&](uint8_t* pointer, int32_t w, int32_t h, size_t stride) {
    int size[2] = {w, h};
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_SW_SIZE, size},
        {MPV_RENDER_PARAM_SW_FORMAT, kSoftwareFormat},
        {MPV_RENDER_PARAM_SW_STRIDE, &stride},
        {MPV_RENDER_PARAM_SW_POINTER, pointer},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    return mpv_render_context_render(renderContext, params) >= 0;
  };

  bool rendered = false;
  if (turns == 0 && directSoftwareTarget) {
    // Bottom row first without a copy: the engine starts at the slot's last
    // row and steps upward, a stride of minus one row (as size_t, which the
    // engine adds with wrap-around). An engine that refuses it gets the
    // scratch picture from then on.
    rendered = render(slot + frameStride * static_cast<size_t>(height - 1), width, height,
                      size_t{0} - frameStride);
    if (rendered) {
      setOpaque(slot, static_cast<size_t>(width) * static_cast<size_t>(height));
    } else {
      directSoftwareTarget = false;
    }
  }
  if (!rendered) {
    const bool sideways = turns % 2 == 1;
    const int32_t sourceWidth = sideways ? height : width;
    const int32_t sourceHeight = sideways ? width : height;
    const size_t stride = (static_cast<size_t>(sourceWidth) * 4 + kSoftwareRowAlignment - 1) /
                          kSoftwareRowAlignment * kSoftwareRowAlignment;
    const size_t bytes = stride * static_cast<size_t>(sourceHeight) + kSoftwareRowAlignment;
    if (scratch.size() < bytes) scratch.assign(bytes, 0);
    // Aligned inside the vector: its own alignment is only that of new.
    const size_t misalignment = reinterpret_cast<uintptr_t>(scratch.data()) % kSoftwareRowAlignment;
    uint8_t* source =
        scratch.data() + (misalignment ? kSoftwareRowAlignment - misalignment : 0);
    rendered = render(source, sourceWidth, sourceHeight, stride);
    if (rendered) {
      writeTurnedFrame(source, stride, sourceWidth, sourceHeight, turns, slot, width, height);
    }
  }
  mpv_render_context_report_swap(renderContext);
  if (!rendered) return;
  ++nextSequence;
  ring.finishFrame(seq);
}

void RenderPipeline::renderFrame() {
  if (renderPath == RenderPath::software) {
    renderSoftwareFrame();
    return;
  }
  const GlFunctions& f = glFunctions;
  mpv_opengl_fbo fbo{static_cast<int>(framebuffer), width, height, 0};
  int flipY = 1;
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
      {MPV_RENDER_PARAM_FLIP_Y, &flipY},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  if (readBack == ReadBack::direct) {
    // The previous frame leaves the framebuffer before the engine draws over it.
    publishPending();
    mpv_render_context_render(renderContext, params);
    // Hands the frame to the rasteriser now, so it is drawn while this thread
    // waits for the next pass rather than when the read-back asks for it.
    f.flush();
    framePending = true;
    mpv_render_context_report_swap(renderContext);
    return;
  }

  // A failed render still reads back and publishes what the target holds.
  mpv_render_context_render(renderContext, params);

  f.bindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
  f.readBuffer(GL_COLOR_ATTACHMENT0);
  f.pixelStorei(GL_PACK_ALIGNMENT, 1);
  f.pixelStorei(GL_PACK_ROW_LENGTH, 0);

  // The previous read-back has had a whole frame's time to finish.
  publishPending();

  f.bindBuffer(GL_PIXEL_PACK_BUFFER, pixelBuffers[nextPixelBuffer]);
  f.readPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
  f.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  pendingPixelBuffer = nextPixelBuffer;
  nextPixelBuffer = (nextPixelBuffer + 1) % 3;

  mpv_render_context_report_swap(renderContext);
}

void RenderPipeline::publishPending() {
  // The software path publishes in the pass that renders.
  if (renderPath == RenderPath::software) return;
  const GlFunctions& f = glFunctions;
  if (readBack == ReadBack::direct) {
    if (!framePending || !ring.isMapped()) return;
    f.bindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    f.readBuffer(GL_COLOR_ATTACHMENT0);
    f.pixelStorei(GL_PACK_ALIGNMENT, 1);
    f.pixelStorei(GL_PACK_ROW_LENGTH, 0);
    f.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);  // pixels go to client memory: the slot
    const uint64_t seq = nextSequence++;
    f.readPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, ring.beginFrame(seq));
    ring.finishFrame(seq);
    framePending = false;
    return;
  }
  if (pendingPixelBuffer < 0 || !ring.isMapped()) return;
  f.bindBuffer(GL_PIXEL_PACK_BUFFER, pixelBuffers[pendingPixelBuffer]);
  const void* pixels = f.mapBufferRange(
      GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(ring.header->frameBytes), GL_MAP_READ_BIT);
  if (pixels) {
    const uint64_t seq = nextSequence++;
    ring.publish(pixels, seq);
    f.unmapBuffer(GL_PIXEL_PACK_BUFFER);
  }
  // A buffer that cannot be mapped loses its frame, which takes no number.
  f.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  pendingPixelBuffer = -1;
}

void RenderPipeline::requestSize(int32_t w, int32_t h) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    pendingWidth = w;
    pendingHeight = h;
    updatePending = true;
  }
  wake.notify_all();
}

void RenderPipeline::requestStop() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopRequested = true;
  }
  wake.notify_all();
}

void RenderPipeline::onRenderUpdate(void* context) {
  auto* pipeline = static_cast<RenderPipeline*>(context);
  {
    std::lock_guard<std::mutex> lock(pipeline->mutex);
    pipeline->updatePending = true;
  }
  pipeline->wake.notify_all();
}

}  // namespace frame_helper
