// The module's one X connection, owned by the UI thread (ui_thread.cpp).
// Everything here runs on the UI thread, which holds gMainThread.
#pragma once

#include <X11/Xlib.h>

#include "platform/main_thread.h"

namespace hosted_mpv {

// The connection, opened on first use from DISPLAY; null when there is no X
// server or the connection was lost.
Display* uiDisplay() REQUIRES(gMainThread);

// Counts the X errors of our connection from its construction on. Errors of
// our connection never end the process; errors of other connections in the
// process go to the handler that was installed before ours.
class XErrorTrap {
 public:
  explicit XErrorTrap(Display* display) REQUIRES(gMainThread);
  // Waits for the server to process what was sent, then tells whether any of
  // it failed.
  bool failed() REQUIRES(gMainThread);

 private:
  Display* display;
  unsigned long errorsAtStart;
};

// Handles an event of our connection (views repaint on exposure); defined by
// native_view.cpp.
void handleViewEvent(const XEvent& event) REQUIRES(gMainThread);

}  // namespace hosted_mpv
