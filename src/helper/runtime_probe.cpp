#include "runtime_probe.h"

#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/render_gl.h>
#include <unistd.h>

#include <GL/glcorearb.h>

#include "gl_context.h"
#include "json_writer.h"
#include "output_lines.h"
#include "render_choice.h"
#include "shm_ring.h"

namespace frame_helper {
namespace {

constexpr uint32_t kProbeRingSide = 16;

// Per process, so that probes started side by side never share a segment.
std::string probeRingName() { return "/ompv-fc-runtime-probe-" + std::to_string(getpid()); }

bool probeRingHeaderValid(const ShmRing& ring) {
  if (!ring.base || !ring.header) return false;
  const frame_ring::RingHeader& h = *ring.header;
  return h.magic == frame_ring::kRingMagic && h.version == frame_ring::kRingVersion && h.width == kProbeRingSide &&
         h.height == kProbeRingSide && h.generation == 1;
}

}  // namespace

void runtimeProbeFailure(const std::string& reason, const std::string& detail) {
  emitLine(probeUnusableLine(reason, detail));
}

std::string clientApiVersionText(unsigned long value) {
  return std::to_string(value >> 16) + "." + std::to_string(value & 0xffff);
}

std::string libmpvClientApiVersion() { return clientApiVersionText(mpv_client_api_version()); }

int runRuntimeProbe() {
  mpv_handle* mpv = mpv_create();
  if (!mpv) {
    runtimeProbeFailure("mpv-create-failed", "");
    return 1;
  }
  mpv_set_option_string(mpv, "vo", "libmpv");
  mpv_set_option_string(mpv, "idle", "yes");
  mpv_set_option_string(mpv, "input-default-bindings", "no");
  mpv_set_option_string(mpv, "osc", "no");
  if (const int result = mpv_initialize(mpv); result < 0) {
    mpv_destroy(mpv);
    runtimeProbeFailure("mpv-initialize-failed", mpv_error_string(result));
    return 1;
  }

  GlContext gl;
  std::string error;
  if (!gl.create(error)) {
    gl.destroy();
    mpv_terminate_destroy(mpv);
    runtimeProbeFailure("gl-context-create-failed", error);
    return 1;
  }
  if (!gl.makeCurrent()) {
    gl.destroy();
    mpv_terminate_destroy(mpv);
    runtimeProbeFailure("gl-context-bind-failed", "failed to bind the CGL render context");
    return 1;
  }

  // The render context the helper would create here: the engine's
  // software renderer where the helper's render thread takes it.
  std::string rendererName;
  const auto getString = reinterpret_cast<PFNGLGETSTRINGPROC>(
      glDlsymGetProcAddress(gl.library, "glGetString"));
  if (getString) {
    if (const GLubyte* name = getString(GL_RENDERER)) {
      rendererName = reinterpret_cast<const char*>(name);
    }
  }
  std::string reason;
  const RenderPath path = chooseRenderPath(rendererChoiceFromEnvironment(), rendererName, reason);
  mpv_opengl_init_params glInit{glDlsymGetProcAddress, gl.library};
  mpv_render_param glParams[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
      {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  mpv_render_param softwareParams[] = {
      {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
      {MPV_RENDER_PARAM_INVALID, nullptr},
  };
  mpv_render_param* params = path == RenderPath::software ? softwareParams : glParams;
  mpv_render_context* renderContext = nullptr;
  const int renderResult = mpv_render_context_create(&renderContext, mpv, params);
  if (renderResult < 0 || !renderContext) {
    if (renderContext) mpv_render_context_free(renderContext);
    gl.destroy();
    mpv_terminate_destroy(mpv);
    runtimeProbeFailure("mpv-render-context-failed", renderResult < 0
                                                         ? mpv_error_string(renderResult)
                                                         : "render context unavailable");
    return 1;
  }

  // Release order on every path from here: render context, GL context, engine.
  const auto releaseAll = [&] {
    mpv_render_context_free(renderContext);
    gl.destroy();
    mpv_terminate_destroy(mpv);
  };

  ShmRing ring;
  if (!ring.create(probeRingName(), kProbeRingSide, kProbeRingSide, 1)) {
    releaseAll();
    runtimeProbeFailure("shared-memory-create-failed", "");
    return 1;
  }
  const bool ringValid = probeRingHeaderValid(ring);
  ring.close();  // unmaps and unlinks: no segment outlives the probe
  if (!ringValid) {
    releaseAll();
    runtimeProbeFailure("shared-memory-initialize-failed", "");
    return 1;
  }

  const std::string version = libmpvClientApiVersion();
  releaseAll();
  emitLine(probeUsableLine(version, kHeadlessGlApi));
  return 0;
}

}  // namespace frame_helper
