// What the engine's software renderer drew, as a ring frame: alpha 255, rows
// in the ring's order (the renderer was asked for the ring's byte order).
// Plain loops over memory the caller owns; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace frame_helper {

// Sets the alpha byte of `count` BGRA pixels to 255 (the renderer's "bgr0"
// leaves it undefined, and its letterbox bars have alpha 0).
void setOpaque(uint8_t* pixels, size_t count);

// Writes `source` (top row first, width x height pixels, `sourceStride`
// bytes per row, 4 bytes a pixel with alpha last) into `frame`: packed,
// bottom row first (top row first when `topDown`), alpha 255.
void writeFrame(const uint8_t* source, size_t sourceStride, uint8_t* frame, int32_t width,
                int32_t height, bool topDown = false);

}  // namespace frame_helper
