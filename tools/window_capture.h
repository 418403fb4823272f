/*
 * Writes an X11 window's pixels (children included) as a binary PPM: shared by
 * orvanel_window and the tests' x_window_tool, which answer "capture" alike.
 */
#pragma once

#include <X11/Xlib.h>

/* Returns 1 when the file was written; 0 (and no file) when the window could
 * not be read, or the file not opened. */
int captureWindowPpm(Display* display, Window window, const char* path);
