// Rotation on the software path. libmpv 0.35's software renderer ignores a
// frame's rotation, and on a quarter turn it aborts the whole process (an
// assertion in mp_image_crop), while its video output tells the engine that
// it rotates. So a software session never lets the engine rotate
// (video-rotate=no) and turns the picture itself when it hands the frame over.
#pragma once

#include <cstddef>
#include <cstdint>

#include "session.h"

namespace hosted_mpv {

// Takes rotation over from the engine on a software session: keeps the
// engine's video-rotate (the default or the caller's extra option) as
// requestedRotation and sets the engine's to "no". Calling thread, after
// mpv_initialize and before anything is loaded.
void takeOverRotation(Session& session);

// The clockwise quarter turn (0, 90, 180 or 270) that the engine would give a
// stream with rotation metadata `streamRotation` under video-rotate
// `requested` (-1 for "no"): their sum, rounded to the nearest quarter turn
// (the engine turns other angles with a filter the software path does not have).
int effectiveRotation(int streamRotation, int requested);

// Writes `source` (sourceWidth × sourceHeight "bgr0" pixels) turned clockwise
// by `rotation` (90, 180 or 270) into `target`, whose size is the turned one.
// Any thread.
void rotatePixels(const uint8_t* source, size_t sourceStride, int sourceWidth, int sourceHeight,
                  int rotation, uint8_t* target, size_t targetStride);

}  // namespace hosted_mpv
