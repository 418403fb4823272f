// What the display link needs to know of an OpenGL context on Linux.
#pragma once

#include "platform/opengl_view.h"

namespace hosted_mpv {

// Refresh rate in Hz of the screen that shows the context's view, measured
// when the view was made: what XRandR reports, or 60 where it reports none.
// Any thread (immutable).
double glContextRefreshRate(const GlContext& context);

}  // namespace hosted_mpv
