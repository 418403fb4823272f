// Which engine render API draws the helper's frames: OpenGL into a
// framebuffer, or the engine's software renderer straight into the ring.
// Chosen once per process by the render thread (and the runtime probe) from
// ORVANEL_HELPER_RENDERER and the OpenGL renderer's name.
#pragma once

#include <string>
#include <string_view>

namespace frame_helper {

// ORVANEL_HELPER_RENDERER: "gl", "sw" or "auto" in any letter case; unset or
// empty means auto.
enum class RendererChoice { automatic, gl, software };

enum class RenderPath { gl, software };

// Reads the variable's value (null when unset). An unknown value gives
// automatic and fills `warning` with the stderr line that says so; `warning`
// is left empty otherwise. Any thread.
RendererChoice parseRendererChoice(const char* value, std::string& warning);

// parseRendererChoice of the process's ORVANEL_HELPER_RENDERER; writes the
// warning line of an unknown value to stderr. Main thread, at start-up.
RendererChoice rendererChoiceFromEnvironment();

// The path for `choice` on a context whose renderer is `rendererName`
// (empty when the context gave none), and in `reason` why: on auto, the
// software renderer is taken exactly where OpenGL is itself a rasteriser on
// the CPU (isSoftwareGlRenderer), where it draws the same frame for a
// fraction of the CPU. Any thread.
RenderPath chooseRenderPath(RendererChoice choice, std::string_view rendererName,
                            std::string& reason);

// "render path: software (...)" / "render path: opengl (...)", no newline.
std::string renderPathLine(RenderPath path, const std::string& reason);

}  // namespace frame_helper
