#include "render_pipeline.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "gl_read_back.h"
#include "software_path.h"
#include "software_renderer.h"

namespace frame_helper {
namespace {

constexpr auto kWakeInterval = std::chrono::milliseconds(100);

void reportFatal(RenderPipeline& p, const std::string& error) {
  RenderReport report;
  report.kind = RenderReport::Kind::fatal;
  report.error = error;
  if (p.config.report) p.config.report(report);
}

// Tells start() how the set-up ended: 1 ready, -1 failed.
void announceReady(RenderPipeline& p, int32_t state) {
  {
    threads::MutexLock lock(p.mutex);
    p.readyState.store(state, std::memory_order_release);
  }
  p.readyChanged.notify_all();
}

// Settles the path and the read-back from what the context says it is, and
// tells the owner when it is a software rasteriser. The context is current.
void choosePath(RenderPipeline& p) REQUIRES(p.renderThread) {
  bool softwareRenderer = false;
  std::string rendererName;
  if (const GLubyte* renderer = p.glFunctions.getString(GL_RENDERER)) {
    rendererName = reinterpret_cast<const char*>(renderer);
    std::fprintf(stderr, "gl renderer: %s\n", rendererName.c_str());
    softwareRenderer = isSoftwareGlRenderer(rendererName);
    if (p.config.onSoftwareRenderer && softwareRenderer) p.config.onSoftwareRenderer();
  }
  p.readBack = p.config.readBack;
  if (p.readBack == ReadBack::automatic) {
    p.readBack = softwareRenderer ? ReadBack::direct : ReadBack::pixelBuffers;
  }
  std::string reason;
  p.renderPath = chooseRenderPath(p.config.rendererChoice, rendererName, reason);
  std::fprintf(stderr, "%s\n", renderPathLine(p.renderPath, reason).c_str());
}

// Targets of w x h for the settled path, and their ring (reported). Any
// frame of the old size not yet published is dropped.
bool rebuildTargets(RenderPipeline& p, int32_t w, int32_t h) REQUIRES(p.renderThread) {
  deleteGlTargets(p);
  p.nextPixelBuffer = 0;
  p.pendingPixelBuffer = -1;
  p.framePending = false;
  p.width = w;
  p.height = h;
  if (p.renderPath == RenderPath::software) {
    if (w > p.maxSoftwareSide || h > p.maxSoftwareSide) return false;
  } else if (!buildGlTargets(p)) {
    return false;
  }
  return createRing(p);
}

// The thread's set-up, in order: bind the context, learn the renderer and
// settle the path, build the first targets (so the first ring and its
// report come before the render context), then the path's render context.
bool setUp(RenderPipeline& p, std::string& error) REQUIRES(p.renderThread) {
  if (!p.gl.makeCurrent()) {
    error = "failed to bind the CGL render context";
    return false;
  }
  if (!loadGlFunctions(p.glFunctions, p.gl.library)) {
    error = "framebuffer setup failed";
    return false;
  }
  choosePath(p);
  if (p.renderPath == RenderPath::software) {
    GLint maxSide = 0;
    p.glFunctions.getIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    p.maxSoftwareSide = maxSide;
    // OpenGL only told us what it is; a rasteriser's threads and memory
    // are not kept for nothing.
    p.gl.destroy();
  }
  if (!rebuildTargets(p, p.config.width, p.config.height)) {
    error = "framebuffer setup failed";
    return false;
  }
  return p.renderPath == RenderPath::software ? setUpSoftwarePath(p, error) : setUpGlPath(p, error);
}

// A pass with a new frame to draw, on the settled path and read-back.
void renderPass(RenderPipeline& p) REQUIRES(p.renderThread) {
  if (p.renderPath == RenderPath::software) {
    renderSoftwareFrame(p);
  } else if (p.readBack == ReadBack::direct) {
    renderForDirectRead(p);
  } else {
    renderIntoPixelBuffer(p);
  }
}

// A pass with nothing new: a frame read back earlier is published. The
// software path publishes in the pass that renders.
void publishPass(RenderPipeline& p) REQUIRES(p.renderThread) {
  if (p.renderPath == RenderPath::software) return;
  if (p.readBack == ReadBack::direct) {
    publishDirectRead(p);
  } else {
    publishPixelBuffer(p);
  }
}

// The end of the thread, on every path: render context (while the GL context
// is still current, as the engine needs), GL objects, GL context, ring.
void releaseAll(RenderPipeline& p) REQUIRES(p.renderThread) {
  if (p.renderContext) {
    mpv_render_context_set_update_callback(p.renderContext, nullptr, nullptr);
    mpv_render_context_free(p.renderContext);
    p.renderContext = nullptr;
  }
  engine::stopTurnWatch(p.turnWatch);
  deleteGlTargets(p);
  p.gl.destroy();
  p.ring.close();
}

// The thread body. Ends on requestStop or a failed resize; always frees the
// render context, the GL objects and context, and unlinks the ring.
void runRenderThread(RenderPipeline& p) {
  threads::RoleScope role(p.renderThread);
  std::string error;
  if (!setUp(p, error)) {
    reportFatal(p, "render init failed: " + error);
    announceReady(p, -1);
    releaseAll(p);
    return;
  }
  announceReady(p, 1);

  for (;;) {
    int32_t requestedWidth = 0;
    int32_t requestedHeight = 0;
    {
      threads::MutexLock lock(p.mutex);
      // The timeout keeps the heartbeat fresh and bounds how long a finished
      // read-back waits for its publication.
      const auto deadline = std::chrono::steady_clock::now() + kWakeInterval;
      while (!p.updatePending && !p.stopRequested) {
        if (p.wake.wait_until(p.mutex, deadline) == std::cv_status::timeout) break;
      }
      if (p.stopRequested) break;
      p.updatePending = false;
      requestedWidth = p.pendingWidth;
      requestedHeight = p.pendingHeight;
      p.pendingWidth = 0;
      p.pendingHeight = 0;
    }

    bool resized = false;
    if (requestedWidth >= 1 && requestedHeight >= 1 &&
        (requestedWidth != p.width || requestedHeight != p.height)) {
      if (!rebuildTargets(p, requestedWidth, requestedHeight)) {
        reportFatal(p, "resize target rebuild failed");
        break;
      }
      resized = true;
    }

    const uint64_t flags = mpv_render_context_update(p.renderContext);
    if ((flags & MPV_RENDER_UPDATE_FRAME) || resized) {
      renderPass(p);
    } else {
      publishPass(p);
    }
    if (p.ring.isMapped()) p.ring.storeHeartbeat(frame_ring::monotonicNowNs());
  }
  releaseAll(p);
}

}  // namespace

bool createRing(RenderPipeline& p) {
  ++p.generation;
  RenderReport report;
  report.ringName = p.config.shmBase + "-g" + std::to_string(p.generation);
  report.width = p.width;
  report.height = p.height;
  report.generation = p.generation;
  report.layout = p.config.pixelLayout;
  // Run by changeRing on this thread, inside its own call.
  const auto create = [&] {
    threads::assertRole(p.renderThread);
    return p.ring.create(report.ringName, static_cast<uint32_t>(p.width),
                         static_cast<uint32_t>(p.height), p.generation, report.layout);
  };
  if (!(p.config.changeRing ? p.config.changeRing(p.generation, create) : create())) return false;
  if (p.config.report) p.config.report(report);
  return true;
}

bool RenderPipeline::start() {
  thread = std::thread(runRenderThread, std::ref(*this));
  int32_t ready;
  {
    threads::MutexLock lock(mutex);
    while ((ready = readyState.load(std::memory_order_acquire)) == 0) readyChanged.wait(mutex);
  }
  if (ready > 0) return true;
  // The thread has made its fatal report and freed its resources.
  thread.join();
  return false;
}

void RenderPipeline::stop() {
  if (!thread.joinable()) return;
  requestStop();
  thread.join();
}

void RenderPipeline::requestSize(int32_t w, int32_t h) {
  {
    threads::MutexLock lock(mutex);
    pendingWidth = w;
    pendingHeight = h;
    updatePending = true;
  }
  wake.notify_all();
}

void RenderPipeline::requestStop() {
  {
    threads::MutexLock lock(mutex);
    stopRequested = true;
  }
  wake.notify_all();
}

void RenderPipeline::onRenderUpdate(void* context) {
  auto* pipeline = static_cast<RenderPipeline*>(context);
  {
    threads::MutexLock lock(pipeline->mutex);
    pipeline->updatePending = true;
  }
  pipeline->wake.notify_all();
}

}  // namespace frame_helper
