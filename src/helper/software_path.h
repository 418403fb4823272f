// The render thread's software path: the engine's software renderer draws
// each frame straight into its ring slot (a rotated picture already turned
// in the engine's filter chain), and publishes it in the same pass. Its pair: the set-up, and
// a pass that renders one frame; a pass without a new frame has nothing to
// publish.
//
// Threads: render thread only.
#pragma once

#include <string>

#include "render_pipeline.h"

namespace frame_helper {

// Takes over the engine's rotation (engine/turn_watch.h), runs onSoftwarePath
// and creates the software render context. On failure false, with the
// reason in `error`.
bool setUpSoftwarePath(RenderPipeline& p, std::string& error) REQUIRES(p.renderThread);

// Renders the next frame into the next slot and publishes it; a failed
// render publishes nothing and takes no number.
void renderSoftwareFrame(RenderPipeline& p) REQUIRES(p.renderThread);

}  // namespace frame_helper
