// The engine alone: how fast libmpv renders a clip into an off-screen
// framebuffer on this machine, with no read-back and no publication. It is
// the ceiling for the helper's render pipeline, measured the same way: the
// same engine options as the helper, the same headless context, the same
// software-renderer scalers, the same wait-for-update loop.
//
//   engine_fbo_fps FILE WIDTH HEIGHT [untimed|timed [LAST [READBACK]]]
//
// Prints one JSON line: frames rendered from the 10th rendered frame to frame
// LAST (0 or absent: the last one), the wall time and the process CPU time
// between them.
//
// READBACK adds a read-back of each frame into process memory, to measure
// what the ways of getting pixels out cost on this machine's OpenGL:
//   none      the engine alone (default)
//   pbo       the helper's way: glReadPixels into one of three pixel-pack
//             buffers right after the render, mapped and copied out in the
//             next pass
//   deferred  glReadPixels of the previous frame at the start of the next
//             pass, before the engine renders over it, after a glFlush that
//             started its rasterisation at the end of its own pass
//   direct    as deferred, but glReadPixels straight into process memory
//             (no pixel-pack buffer, no second copy); the helper's way on a
//             software rasteriser
//   pipelined two framebuffers in turn: the engine draws the new frame into
//             one, then the previous frame is read back straight into
//             process memory from the other, so the engine's work for the new
//             frame overlaps the rasterisation of the previous one (publishes
//             a frame after the next one's render, which at real time waits
//             for that frame's display time)
//   software  no OpenGL at all: the engine's software renderer ("bgr0")
//             draws each frame into process memory with the helper's
//             software path options (libswscale's fast converters): the
//             limit of the helper's software render path
//
// Threads: main (engine events, end detection) and render (everything GL and
// every mpv_render_* call). `mutex` guards the flags below it; the counters
// are atomics read by main.
#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/render_gl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_engine.h"
#include "gl_context.h"
#include "gl_functions.h"
#include "software_renderer.h"

using namespace frame_helper;

namespace {

constexpr uint64_t kSkipFrames = 10;  // start-up frames left out of the figures
uint64_t gLastCounted = UINT64_MAX;   // frames after this one are left out too
enum class Readback { none, pbo, deferred, direct, pipelined, software };
Readback gReadback = Readback::none;

std::mutex mutex;
std::condition_variable wake;
bool updatePending = false;
bool stopRequested = false;

// Written by the render thread after each frame, read by main.
std::atomic<uint64_t> framesRendered{0};
std::atomic<int64_t> firstNs{0}, firstCpuNs{0}, lastNs{0}, lastCpuNs{0};

int64_t clockNs(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void onUpdate(void*) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    updatePending = true;
  }
  wake.notify_all();
}

// Render thread: waits up to 100 ms for the engine's update callback; false
// once a stop is requested.
bool waitForUpdate() {
  std::unique_lock<std::mutex> lock(mutex);
  wake.wait_for(lock, std::chrono::milliseconds(100), [] { return updatePending || stopRequested; });
  if (stopRequested) return false;
  updatePending = false;
  return true;
}

// Render thread, after each frame.
void countFrame() {
  const uint64_t count = framesRendered.load() + 1;
  const int64_t now = clockNs(CLOCK_MONOTONIC);
  const int64_t cpu = clockNs(CLOCK_PROCESS_CPUTIME_ID);
  if (count == kSkipFrames) {
    firstNs = now;
    firstCpuNs = cpu;
  }
  if (count <= gLastCounted) {
    lastNs = now;
    lastCpuNs = cpu;
  }
  framesRendered = count;
}

// Render thread: the engine's render context with `params`, reporting to
// onUpdate; `ready` becomes 1, or -1 (and null is returned) when the engine
// refuses it.
mpv_render_context* createRenderContext(mpv_handle* mpv, mpv_render_param* params,
                                        std::atomic<int>& ready) {
  mpv_render_context* renderContext = nullptr;
  if (mpv_render_context_create(&renderContext, mpv, params) < 0) {
    ready = -1;
    return nullptr;
  }
  mpv_render_context_set_update_callback(renderContext, onUpdate, nullptr);
  ready = 1;
  return renderContext;
}

// Render thread of the software mode: the same loop, the engine's software
// renderer drawing into memory.
void softwareLoop(mpv_handle* mpv, int width, int height, std::atomic<int>& ready) {
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  mpv_render_context* renderContext = createRenderContext(mpv, params, ready);
  if (!renderContext) return;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
  int size[2] = {width, height};
  size_t stride = static_cast<size_t>(width) * 4;
  char format[] = "bgr0";
  for (;;) {
    if (!waitForUpdate()) break;
    if (!(mpv_render_context_update(renderContext) & MPV_RENDER_UPDATE_FRAME)) continue;
    mpv_render_param renderParams[] = {
        {MPV_RENDER_PARAM_SW_SIZE, size},      {MPV_RENDER_PARAM_SW_FORMAT, format},
        {MPV_RENDER_PARAM_SW_STRIDE, &stride}, {MPV_RENDER_PARAM_SW_POINTER, pixels.data()},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(renderContext, renderParams);
    mpv_render_context_report_swap(renderContext);
    countFrame();
  }
  mpv_render_context_set_update_callback(renderContext, nullptr, nullptr);
  mpv_render_context_free(renderContext);
}

// Render thread: a colour texture of width × height and a framebuffer drawing into it.
void makeTarget(const GlFunctions& f, int width, int height, GLuint& texture, GLuint& framebuffer) {
  f.genTextures(1, &texture);
  f.bindTexture(GL_TEXTURE_2D, texture);
  f.texImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  f.texParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  f.bindTexture(GL_TEXTURE_2D, 0);
  f.genFramebuffers(1, &framebuffer);
  f.bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  f.framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
}

// Render thread: glReadPixels of `framebuffer` as BGRA into `pixels`, or into
// the bound pixel-pack buffer when `pixels` is null.
void readFramebuffer(const GlFunctions& f, GLuint framebuffer, int width, int height,
                     void* pixels) {
  f.bindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
  f.readBuffer(GL_COLOR_ATTACHMENT0);
  f.pixelStorei(GL_PACK_ALIGNMENT, 1);
  f.pixelStorei(GL_PACK_ROW_LENGTH, 0);
  f.readPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels);
}

// Render thread: the helper's loop without read-back and publication.
void renderLoop(mpv_handle* mpv, GlContext& gl, int width, int height, std::atomic<int>& ready) {
  GlFunctions f;
  if (!gl.makeCurrent() || !loadGlFunctions(f, gl.library)) {
    ready = -1;
    return;
  }
  if (const GLubyte* renderer = f.getString(GL_RENDERER)) {
    if (isSoftwareGlRenderer(reinterpret_cast<const char*>(renderer))) {
      applySoftwareRendererOptions(mpv, {});
    }
  }
  auto flush = reinterpret_cast<void (*)()>(glDlsymGetProcAddress(gl.library, "glFlush"));
  const size_t frameBytes = static_cast<size_t>(width) * height * 4;
  std::vector<uint8_t> copy(frameBytes);  // stands in for a ring slot
  GLuint pixelBuffers[3] = {};
  int nextPixelBuffer = 0;
  int pendingPixelBuffer = -1;
  bool framePending = false;  // deferred: a rendered frame not read back yet
  GLuint texture = 0, framebuffer = 0;
  makeTarget(f, width, height, texture, framebuffer);
  // pipelined: a second target; frames go to targets[next], the previous one waits in the other.
  GLuint targets[2] = {framebuffer, 0};
  GLuint texture2 = 0;
  int nextTarget = 0;
  int pendingTarget = -1;
  if (gReadback == Readback::pipelined) makeTarget(f, width, height, texture2, targets[1]);
  const auto readTarget = [&](int index) {
    readFramebuffer(f, targets[index], width, height, copy.data());
  };
  f.genBuffers(3, pixelBuffers);
  for (GLuint buffer : pixelBuffers) {
    f.bindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
    f.bufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(frameBytes), nullptr,
                 GL_STREAM_READ);
  }
  f.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  const auto publishPending = [&] {
    if (pendingPixelBuffer < 0) return;
    f.bindBuffer(GL_PIXEL_PACK_BUFFER, pixelBuffers[pendingPixelBuffer]);
    if (const void* pixels = f.mapBufferRange(
            GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(frameBytes), GL_MAP_READ_BIT)) {
      std::memcpy(copy.data(), pixels, frameBytes);
      f.unmapBuffer(GL_PIXEL_PACK_BUFFER);
    }
    f.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    pendingPixelBuffer = -1;
  };
  const auto readBack = [&] {
    f.bindBuffer(GL_PIXEL_PACK_BUFFER, pixelBuffers[nextPixelBuffer]);
    readFramebuffer(f, framebuffer, width, height, nullptr);
    f.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    pendingPixelBuffer = nextPixelBuffer;
    nextPixelBuffer = (nextPixelBuffer + 1) % 3;
  };

  mpv_opengl_init_params glInit{glDlsymGetProcAddress, gl.library};
  mpv_render_param params[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
      {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  mpv_render_context* renderContext = createRenderContext(mpv, params, ready);
  if (!renderContext) return;

  for (;;) {
    if (!waitForUpdate()) break;
    const bool newFrame = mpv_render_context_update(renderContext) & MPV_RENDER_UPDATE_FRAME;
    if (framePending) {
      if (gReadback == Readback::direct) {
        readFramebuffer(f, framebuffer, width, height, copy.data());
      } else {
        readBack();
        publishPending();
      }
      framePending = false;
    }
    if (!newFrame) {
      if (gReadback == Readback::pbo) publishPending();
      if (gReadback == Readback::pipelined && pendingTarget >= 0) {
        readTarget(pendingTarget);
        pendingTarget = -1;
      }
      continue;
    }
    mpv_opengl_fbo fbo{static_cast<int>(targets[nextTarget]), width, height, 0};
    int flipY = 1;
    mpv_render_param renderParams[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
        {MPV_RENDER_PARAM_FLIP_Y, &flipY},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(renderContext, renderParams);
    if (gReadback == Readback::pbo) {
      f.bindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
      publishPending();
      readBack();
    } else if (gReadback == Readback::deferred || gReadback == Readback::direct) {
      flush();
      framePending = true;
    } else if (gReadback == Readback::pipelined) {
      flush();
      if (pendingTarget >= 0) readTarget(pendingTarget);
      pendingTarget = nextTarget;
      nextTarget ^= 1;
    }
    mpv_render_context_report_swap(renderContext);
    countFrame();
  }
  mpv_render_context_set_update_callback(renderContext, nullptr, nullptr);
  mpv_render_context_free(renderContext);
  f.deleteBuffers(3, pixelBuffers);
  f.deleteFramebuffers(1, &framebuffer);
  if (targets[1] != 0) f.deleteFramebuffers(1, &targets[1]);
  if (texture2 != 0) f.deleteTextures(1, &texture2);
  f.deleteTextures(1, &texture);
  gl.destroy();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: engine_fbo_fps FILE WIDTH HEIGHT [untimed|timed [LAST [READBACK]]]\n");
    return 2;
  }
  const char* file = argv[1];
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  const bool untimed = argc < 5 || std::strcmp(argv[4], "timed") != 0;
  if (argc > 5 && std::strtoull(argv[5], nullptr, 10) > 0) {
    gLastCounted = std::strtoull(argv[5], nullptr, 10);
  }
  if (argc > 6) {
    const std::string mode = argv[6];
    if (mode == "pbo") {
      gReadback = Readback::pbo;
    } else if (mode == "deferred") {
      gReadback = Readback::deferred;
    } else if (mode == "direct") {
      gReadback = Readback::direct;
    } else if (mode == "pipelined") {
      gReadback = Readback::pipelined;
    } else if (mode == "software") {
      gReadback = Readback::software;
    } else if (mode != "none") {
      std::fprintf(stderr, "unknown read-back %s\n", argv[6]);
      return 2;
    }
  }

  // The helper's fixed options, then what the benchmark asks of both sides.
  mpv_handle* mpv = createBenchEngine({{"vo", "libmpv"}, {"hwdec", "auto"}, {"keep-open", "yes"},
                                       {"idle", "yes"}, {"input-default-bindings", "no"},
                                       {"osc", "no"}, {"ytdl", "no"}, {"audio", "no"},
                                       {"untimed", untimed ? "yes" : "no"}});
  if (!mpv) return 1;
  if (gReadback == Readback::software) applySoftwarePathOptions(mpv, {});
  mpv_observe_property(mpv, 1, "eof-reached", MPV_FORMAT_FLAG);

  GlContext gl;
  std::string error;
  if (!gl.create(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::atomic<int> ready{0};
  std::thread render =
      gReadback == Readback::software
          ? std::thread(softwareLoop, mpv, width, height, std::ref(ready))
          : std::thread(renderLoop, mpv, std::ref(gl), width, height, std::ref(ready));
  while (ready == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (ready < 0) {
    render.join();
    std::fprintf(stderr, "render set-up failed\n");
    return 1;
  }

  const char* load[] = {"loadfile", file, nullptr};
  mpv_command(mpv, load);
  // The end: the engine reports the end of the file, or no frame comes for
  // two seconds after frames came.
  uint64_t seenFrames = 0;
  auto lastChange = std::chrono::steady_clock::now();
  bool eof = false;
  while (!eof) {
    mpv_event* event = mpv_wait_event(mpv, 0.1);
    if (event->event_id == MPV_EVENT_PROPERTY_CHANGE) {
      auto* property = static_cast<mpv_event_property*>(event->data);
      if (property->format == MPV_FORMAT_FLAG && *static_cast<int*>(property->data)) eof = true;
    }
    const uint64_t frames = framesRendered.load();
    if (frames != seenFrames) {
      seenFrames = frames;
      lastChange = std::chrono::steady_clock::now();
    } else if (frames > 0 &&
               std::chrono::steady_clock::now() - lastChange > std::chrono::seconds(2)) {
      break;
    }
  }
  // Let the last frame reach the render thread.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopRequested = true;
  }
  wake.notify_all();
  render.join();
  if (gReadback == Readback::software) gl.destroy();  // made, never used
  mpv_terminate_destroy(mpv);

  const uint64_t total = framesRendered.load();
  const uint64_t last = std::min(total, gLastCounted);
  const uint64_t counted = last > kSkipFrames ? last - kSkipFrames : 0;
  const double seconds = static_cast<double>(lastNs - firstNs) / 1e9;
  const double cpu = static_cast<double>(lastCpuNs - firstCpuNs) / 1e9;
  std::printf(
      "{\"framesRendered\":%llu,\"frames\":%llu,\"seconds\":%.4f,\"fps\":%.2f,"
      "\"cpuSeconds\":%.4f,\"cpuMsPerFrame\":%.3f}\n",
      static_cast<unsigned long long>(total), static_cast<unsigned long long>(counted), seconds,
      seconds > 0 ? static_cast<double>(counted) / seconds : 0.0, cpu,
      counted > 0 ? cpu * 1000 / static_cast<double>(counted) : 0.0);
  return 0;
}
