// The display link of the OpenGL render path (stands in for CVDisplayLink):
// calls its output callback once per refresh of the display that shows an
// OpenGL context, on a thread of its own. On Linux a ticker thread at the
// screen's refresh rate (platform/linux/display_link.cpp).
#pragma once

#include "platform/opengl_view.h"

namespace hosted_mpv {

struct DisplayLink;

// The output callback; runs on the link's thread.
using DisplayLinkOutputCallback = void (*)(DisplayLink* link, void* context);

// A link for the displays in use; null when there is none. Any thread.
DisplayLink* displayLinkCreateWithActiveDisplays();
// Ties the link to the display that shows the context. Any thread.
bool displayLinkSetCurrentDisplayFromGlContext(DisplayLink* link, GlContext& context,
                                               GlPixelFormat& pixelFormat);
// Set before start. Any thread.
void displayLinkSetOutputCallback(DisplayLink* link, DisplayLinkOutputCallback callback,
                                  void* context);
// Starts the callbacks; false when the link cannot run. Any thread.
bool displayLinkStart(DisplayLink* link);
// Returns once no callback runs any more and none will (when called from the
// callback itself, once that call has returned). Any thread.
void displayLinkStop(DisplayLink* link);
// Stops the link if needed and frees it. Not from its own callback.
void displayLinkRelease(DisplayLink* link);

}  // namespace hosted_mpv
