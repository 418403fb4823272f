/*
 * A top-level test window on the default root, `background` 0xRRGGBB, that
 * is mapped when this returns (its MapNotify has come). Header-only: the C
 * window tool and the C++ test fixtures both use it.
 */
#pragma once

#include <X11/Xlib.h>

static inline Window createMappedWindow(Display* display, unsigned width, unsigned height,
                                        unsigned long background) {
  Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, width, height, 0,
                                      0, background);
  XSelectInput(display, window, StructureNotifyMask);
  XMapWindow(display, window);
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MapNotify) break;
  }
  return window;
}
