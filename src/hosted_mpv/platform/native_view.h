// Native views over the application window (stand in for NSView and its
// Core Animation layer). On Linux a view is an X11 window: the native view and
// the host view are the application's window, a render view is a child
// window of it (platform/linux/native_view.cpp).
//
// Every function here runs on the main thread (platform/main_thread.h) unless
// it says otherwise: they require its role.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/main_thread.h"

namespace hosted_mpv {

struct NativeView;
using NativeViewRef = std::shared_ptr<NativeView>;

struct ViewRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

struct ViewSize {
  double width = 0;
  double height = 0;
};

// An immutable picture of a software frame: 4 bytes per pixel, in memory
// blue, green, red and one ignored byte ("bgr0").
struct PixelImage {
  int width = 0;
  int height = 0;
  size_t stride = 0;
  std::unique_ptr<uint8_t[]> pixels;
};
using PixelImageRef = std::shared_ptr<const PixelImage>;

// Makes an image over a copy of `data` (stride × height bytes); null when the
// memory cannot be had. Any thread.
PixelImageRef createPixelImage(int width, int height, size_t stride, const uint8_t* data);

enum class NativeHandleStatus { ok, tooSmall, null };

// Reads the window handle that the host's window object gives as its native
// handle. Any thread.
NativeHandleStatus readNativeWindowHandle(const uint8_t* data, size_t length, uint64_t& handle);

// The view that the handle names, or null when it names none.
NativeViewRef viewForNativeHandle(uint64_t handle) REQUIRES(gMainThread);

// The content view of the view's window, or the view itself when it has no
// window.
NativeViewRef hostViewFor(const NativeViewRef& nativeView) REQUIRES(gMainThread);

// A layer-backed, click-through container view with a zero frame and a black
// layer whose contents are resized to the view. Null when it cannot be made.
NativeViewRef createContainerView(const NativeViewRef& hostView) REQUIRES(gMainThread);

// Adds `view` to `hostView` above every other subview.
void addSubviewAbove(const NativeViewRef& hostView, const NativeViewRef& view)
    REQUIRES(gMainThread);
void removeFromSuperview(const NativeViewRef& view) REQUIRES(gMainThread);

bool viewIsFlipped(const NativeViewRef& view) REQUIRES(gMainThread);
ViewRect viewBounds(const NativeViewRef& view) REQUIRES(gMainThread);
// Converts `rect` from the coordinates of `from` into those of `to`.
ViewRect convertRectFromView(const NativeViewRef& to, const ViewRect& rect,
                             const NativeViewRef& from) REQUIRES(gMainThread);
void setViewFrame(const NativeViewRef& view, const ViewRect& frame) REQUIRES(gMainThread);
void setViewNeedsDisplay(const NativeViewRef& view) REQUIRES(gMainThread);
ViewSize convertSizeToBacking(const NativeViewRef& view, const ViewSize& size)
    REQUIRES(gMainThread);
// The backing scale of the view's window, or of the main screen when the view
// has no window.
double backingScaleFactor(const NativeViewRef& view) REQUIRES(gMainThread);

// Layer contents are never made larger than this a side, whatever the screen.
constexpr int kMaxLayerContentsSide = 8192;

// The largest layer contents worth making for the view, in device pixels:
// the size of the screen it is on, and never more than kMaxLayerContentsSide
// a side. Contents smaller than the view are shown in its middle.
ViewSize maxLayerContentsSize(const NativeViewRef& view) REQUIRES(gMainThread);

bool viewHasLayer(const NativeViewRef& view) REQUIRES(gMainThread);
void setLayerContentsScale(const NativeViewRef& view, double scale) REQUIRES(gMainThread);
// Shows `image` as the layer's contents: 1:1, in the middle of the view when
// it is smaller than the view.
void setLayerContents(const NativeViewRef& view, const PixelImageRef& image, double scale)
    REQUIRES(gMainThread);

}  // namespace hosted_mpv
