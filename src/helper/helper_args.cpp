#include "helper_args.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace frame_helper {

namespace {

// atoi without its undefined behaviour on overflow: out-of-range values
// saturate instead.
int32_t toInt32(const char* text) {
  const long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

HelperArgs parseHelperArgs(int argc, const char* const* argv) {
  HelperArgs args;
  int i = 1;
  // The value of an option at position i: the next argument, or empty text
  // when the option is the last one.
  const auto takeValue = [&]() -> const char* {
    if (i + 1 < argc) return argv[++i];
    return "";
  };
  for (; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--shm-base") == 0) {
      args.shmBase = takeValue();
    } else if (std::strcmp(arg, "--width") == 0) {
      args.width = toInt32(takeValue());
    } else if (std::strcmp(arg, "--height") == 0) {
      args.height = toInt32(takeValue());
    } else if (std::strcmp(arg, "--volume") == 0) {
      args.volume = std::atof(takeValue());
    } else if (std::strcmp(arg, "--hwdec") == 0) {
      args.hwdec = takeValue();
    } else if (std::strcmp(arg, "--audio-delay") == 0) {
      args.audioDelay = takeValue();
    } else if (std::strcmp(arg, "--mpv-options-stdin") == 0) {
      args.mpvOptionsStdin = true;
    } else if (std::strcmp(arg, "--allowed-schemes") == 0) {
      args.allowedSchemes = takeValue();
    } else if (std::strcmp(arg, "--pixel-layout") == 0) {
      args.pixelLayout = std::strcmp(takeValue(), "rgba-top-down") == 0
                             ? frame_ring::PixelLayout::rgbaTopDown
                             : frame_ring::PixelLayout::bgraBottomUp;
    } else if (std::strcmp(arg, "--runtime-probe") == 0) {
      args.runtimeProbe = true;
    }
  }
  if (args.width < 16) args.width = 16;
  if (args.height < 16) args.height = 16;
  return args;
}

}  // namespace frame_helper
