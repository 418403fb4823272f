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

void applySoftwareRendererOptions(mpv_handle* mpv,
                                  const std::set<std::string>& appliedSessionOptions) {
  std::string applied;
  std::string failed;
  for (const SoftwareOption& option : kOptions) {
    if (appliedSessionOptions.count(option.name)) continue;
    const int result = mpv_set_property_string(mpv, option.name, option.value);
    const std::string entry = std::string(option.name) + "=" + option.value;
    if (result >= 0) {
      appendEntry(applied, entry);
    } else {
      appendEntry(failed, entry + " (" + mpv_error_string(result) + ")");
    }
  }
  std::fprintf(stderr, "software renderer: applied [%s]; failed [%s]\n", applied.c_str(),
               failed.c_str());
}

}  // namespace frame_helper
