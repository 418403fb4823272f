#include "software_renderer.h"

#include <cstdio>

namespace frame_helper {
namespace {

struct SoftwareOption {
  const char* name;
  const char* value;
};

// Bilinear scaling instead of the default spline/ewa scalers, which a
// rasteriser on the CPU cannot afford at video rate.
constexpr SoftwareOption kOptions[] = {
    {"scale", "bilinear"},
    {"cscale", "bilinear"},
    {"dscale", "bilinear"},
    {"sigmoid-upscaling", "no"},
};

// The engine's software renderer converts and scales with zimg by default,
// which costs several times libswscale's unscaled converters; without
// accurate rounding and full chroma interpolation (sws-fast) swscale takes
// them, and a bilinear scaler where the picture is scaled, as the OpenGL
// path does on a rasteriser.
constexpr SoftwareOption kSoftwarePathOptions[] = {
    {"sws-allow-zimg", "no"},
    {"sws-fast", "yes"},
    {"sws-scaler", "bilinear"},
};

constexpr const char* kSoftwarePatterns[] = {"llvmpipe", "softpipe", "swrast",
                                             "software rasterizer", "lavapipe"};

// tolower of the "C" locale, whatever the process locale is.
char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void appendEntry(std::string& list, const std::string& entry) {
  if (!list.empty()) list += ", ";
  list += entry;
}

}  // namespace

bool isSoftwareGlRenderer(std::string_view rendererName) {
  std::string lower(rendererName);
  for (char& c : lower) c = asciiLower(c);
  for (const char* pattern : kSoftwarePatterns) {
    if (lower.find(pattern) != std::string::npos) return true;
  }
  return false;
}

namespace {

template <size_t N>
void applyOptions(mpv_handle* mpv, const SoftwareOption (&options)[N],
                  const std::set<std::string>& appliedSessionOptions, const char* report) {
  std::string applied;
  std::string failed;
  for (const SoftwareOption& option : options) {
    if (appliedSessionOptions.count(option.name)) continue;
    const int result = mpv_set_property_string(mpv, option.name, option.value);
    const std::string entry = std::string(option.name) + "=" + option.value;
    if (result >= 0) {
      appendEntry(applied, entry);
    } else {
      appendEntry(failed, entry + " (" + mpv_error_string(result) + ")");
    }
  }
  std::fprintf(stderr, "%s: applied [%s]; failed [%s]\n", report, applied.c_str(), failed.c_str());
}

}  // namespace

void applySoftwareRendererOptions(mpv_handle* mpv,
                                  const std::set<std::string>& appliedSessionOptions) {
  applyOptions(mpv, kOptions, appliedSessionOptions, "software renderer");
}

void applySoftwarePathOptions(mpv_handle* mpv, const std::set<std::string>& appliedSessionOptions) {
  applyOptions(mpv, kSoftwarePathOptions, appliedSessionOptions, "software render path");
}

}  // namespace frame_helper
