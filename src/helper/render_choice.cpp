#include "render_choice.h"

#include <cstdio>
#include <cstdlib>

#include "software_renderer.h"

namespace frame_helper {
namespace {

std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

}  // namespace

RendererChoice parseRendererChoice(const char* value, std::string& warning) {
  warning.clear();
  if (value == nullptr) return RendererChoice::automatic;
  const std::string lower = lowerAscii(value);
  if (lower.empty() || lower == "auto") return RendererChoice::automatic;
  if (lower == "gl") return RendererChoice::gl;
  if (lower == "sw") return RendererChoice::software;
  warning = "ORVANEL_HELPER_RENDERER: unknown value \"" + std::string(value) +
            "\" (expected gl, sw or auto); using auto";
  return RendererChoice::automatic;
}

RendererChoice rendererChoiceFromEnvironment() {
  std::string warning;
  const RendererChoice choice =
      parseRendererChoice(std::getenv("ORVANEL_HELPER_RENDERER"), warning);
  if (!warning.empty()) std::fprintf(stderr, "%s\n", warning.c_str());
  return choice;
}

RenderPath chooseRenderPath(RendererChoice choice, std::string_view rendererName,
                            std::string& reason) {
  switch (choice) {
    case RendererChoice::gl:
      reason = "ORVANEL_HELPER_RENDERER=gl";
      return RenderPath::gl;
    case RendererChoice::software:
      reason = "ORVANEL_HELPER_RENDERER=sw";
      return RenderPath::software;
    case RendererChoice::automatic:
      break;
  }
  const std::string name = rendererName.empty() ? "unknown" : std::string(rendererName);
  if (isSoftwareGlRenderer(rendererName)) {
    reason = "auto: the OpenGL renderer " + name + " is a software rasteriser";
    return RenderPath::software;
  }
  reason = "auto: the OpenGL renderer " + name + " is not a software rasteriser";
  return RenderPath::gl;
}

std::string renderPathLine(RenderPath path, const std::string& reason) {
  return std::string("render path: ") + (path == RenderPath::software ? "software" : "opengl") +
         " (" + reason + ")";
}

}  // namespace frame_helper
