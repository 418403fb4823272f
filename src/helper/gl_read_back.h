// The render thread's OpenGL path: the engine draws into a framebuffer, and
// the frame leaves it by one of the two read-backs (see ReadBack). Each
// read-back is a pair: a pass that renders a new frame, and a pass that
// publishes a frame read back earlier (run on every pass that renders
// nothing, and by the next render).
//
// Threads: render thread only, with the GL context current.
#pragma once

#include <string>

#include "render_pipeline.h"

namespace frame_helper {

// Creates the engine's OpenGL render context on the pipeline's context and
// registers onRenderUpdate. On failure false, with the reason in `error`.
bool setUpGlPath(RenderPipeline& p, std::string& error) REQUIRES(p.renderThread);

// The targets for the pipeline's width x height: a texture in a framebuffer,
// and for pixelBuffers three buffers of a frame each. False when the
// framebuffer is incomplete (a size the texture refused).
bool buildGlTargets(RenderPipeline& p) REQUIRES(p.renderThread);
// Deletes what buildGlTargets made; nothing when there is none.
void deleteGlTargets(RenderPipeline& p) REQUIRES(p.renderThread);

// pixelBuffers: renders, publishes the previous read-back, and starts this
// frame's into the next buffer.
void renderIntoPixelBuffer(RenderPipeline& p) REQUIRES(p.renderThread);
// pixelBuffers: maps the pending buffer and publishes it into the ring.
void publishPixelBuffer(RenderPipeline& p) REQUIRES(p.renderThread);

// direct: publishes the previous frame, renders and hands the frame to the
// rasteriser, to be read back in the next pass.
void renderForDirectRead(RenderPipeline& p) REQUIRES(p.renderThread);
// direct: reads the pending frame straight into its ring slot.
void publishDirectRead(RenderPipeline& p) REQUIRES(p.renderThread);

}  // namespace frame_helper
