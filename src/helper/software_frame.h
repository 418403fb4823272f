// Turning what the engine's software renderer drew into a ring frame: BGRA,
// alpha 255, bottom row first, the picture upright. Plain loops over memory
// the caller owns; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace frame_helper {

// Sets the alpha byte of `count` BGRA pixels to 255 (the renderer's "bgr0"
// leaves it undefined, and its letterbox bars have alpha 0).
void setOpaque(uint8_t* pixels, size_t count);

// Writes `source` (top row first, sourceWidth x sourceHeight pixels,
// `sourceStride` bytes per row, BGRA or BGR0) turned clockwise by
// quarterTurns x 90 degrees into `frame`: width x height pixels, packed, bottom
// row first, alpha 255. quarterTurns is 0 to 3; for 1 and 3, width is
// sourceHeight and height is sourceWidth, else they are equal. One pass over
// each pixel; the quarter turns walk the source in tiles so that both sides
// stay in cache.
void writeTurnedFrame(const uint8_t* source, size_t sourceStride, int32_t sourceWidth,
                      int32_t sourceHeight, int quarterTurns, uint8_t* frame, int32_t width,
                      int32_t height);

// The number of clockwise quarter turns for a rotation in degrees (any
// integer, the engine's convention: clockwise), to the nearest quarter.
int quarterTurnsFor(int64_t degrees);

}  // namespace frame_helper
