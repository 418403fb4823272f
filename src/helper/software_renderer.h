// Recognising a software OpenGL rasteriser and turning the engine's expensive
// scalers down when the helper runs on one.
#pragma once

#include <mpv/client.h>

#include <set>
#include <string>
#include <string_view>

namespace frame_helper {

// True when the lower-cased renderer name (GL_RENDERER) contains "llvmpipe",
// "softpipe", "swrast", "software rasterizer" or "lavapipe". Any thread.
bool isSoftwareGlRenderer(std::string_view rendererName);

// Sets the cheap scaler options of kOptions on the initialised engine, except
// those whose names the preamble applied (the application chose them), and
// writes "software renderer: applied [...]; failed [...]" to stderr.
// Any thread; the engine's property calls are thread-safe.
void applySoftwareRendererOptions(mpv_handle* mpv,
                                  const std::set<std::string>& appliedSessionOptions);

// The same for the engine's software renderer when the helper draws with it
// (kSoftwarePathOptions: libswscale's fast converters instead of zimg);
// writes "software render path: applied [...]; failed [...]" to stderr.
// Any thread.
void applySoftwarePathOptions(mpv_handle* mpv, const std::set<std::string>& appliedSessionOptions);

}  // namespace frame_helper
