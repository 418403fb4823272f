// Child windows of the host window as render views, and what the OpenGL view
// needs to know of a view. UI thread, except the two readers (any thread:
// what they read is immutable once the view is made).
#pragma once

#include <X11/Xlib.h>

#include <functional>

#include "platform/native_view.h"

namespace hosted_mpv {

// A click-through child window of `hostView` with its visual and depth, a
// black background and a zero frame, not yet in its superview. With
// `withLayer` it is the software path's container view, whose layer contents
// are painted into it. Null when the server refuses it; otherwise the window
// exists on the server when this returns.
NativeViewRef createChildView(const NativeViewRef& hostView, bool withLayer)
    REQUIRES(gMainThread);

Window viewWindow(const NativeView& view);
VisualID viewVisualId(const NativeView& view);

// Runs `task` on the UI thread right before the view's window is destroyed
// (removed from its superview, or dropped): an EGL surface on the window is
// destroyed there, before the window it draws into. UI thread.
void setViewBeforeDestroy(NativeView& view, std::function<void()> task) REQUIRES(gMainThread);

}  // namespace hosted_mpv
