// The helper's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "frame_ring_layout.h"

namespace frame_helper {

struct HelperArgs {
  std::string shmBase = "/ompv";
  std::string hwdec = "auto";
  std::string audioDelay;
  bool mpvOptionsStdin = false;
  int32_t width = 1280;
  int32_t height = 720;
  double volume = 1.0;
  bool runtimeProbe = false;
  // --allowed-schemes: the URL policy's list (url_policy.h); absent, none.
  std::optional<std::string> allowedSchemes;
  // --pixel-layout: "rgba-top-down" asks for it, any other value keeps the
  // default (the client checks the names before it starts the helper).
  frame_ring::PixelLayout pixelLayout = frame_ring::PixelLayout::bgraBottomUp;
};

// Options match whole arguments exactly; a value option consumes the next
// argument whatever it is (empty when there is none); the last occurrence
// wins; anything else is ignored. Width and height are raised to 16.
HelperArgs parseHelperArgs(int argc, const char* const* argv);

}  // namespace frame_helper
