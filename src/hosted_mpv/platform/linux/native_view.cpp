// Native views on Linux: X11 windows on the UI thread's connection.
// The native view and the host view are the application's window; a
// container view is a child window of it with a black background and an empty
// input shape (clicks go to the window below). Its "layer contents" are the
// newest software frame, put into the window 1:1 with MIT-SHM where the server
// allows it, else with XPutImage, and put again when the window is exposed; a
// frame smaller than its window (one bounded by the screen's size) is put in
// the middle of it.
// Threads: everything here runs on the UI thread, except createPixelImage and
// readNativeWindowHandle (any thread) and the destructor (any thread; it hands
// the X resources to the UI thread).
#include "platform/native_view.h"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/shape.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <unordered_map>

#include "platform/linux/child_view.h"
#include "platform/linux/x_connection.h"
#include "platform/main_thread.h"

namespace hosted_mpv {

// The X resources of a window we created.
struct OwnedWindow {
  Window window = 0;
  GC gc = nullptr;
  XImage* shmImage = nullptr;
  XShmSegmentInfo shmInfo{};
  // Runs right before the window is destroyed: what draws into it through
  // another connection (an EGL surface) goes first.
  std::function<void()> beforeDestroy;
};

struct NativeView {
  // Immutable once made.
  Window window = 0;
  bool ownsWindow = false;
  Visual* visual = nullptr;
  int depth = 0;
  // UI thread only (the destructor, run by the last reference anywhere,
  // hands the window to it).
  OwnedWindow owned GUARDED_BY(gMainThread);
  ViewRect frame GUARDED_BY(gMainThread);
  bool inSuperview GUARDED_BY(gMainThread) = false;
  bool mapped GUARDED_BY(gMainThread) = false;
  bool hasLayer GUARDED_BY(gMainThread) = false;
  double contentsScale GUARDED_BY(gMainThread) = 1.0;
  PixelImageRef contents GUARDED_BY(gMainThread);
  // Where the contents were last put: when that changes, the rest of the
  // window is cleared of the old picture.
  int paintedX GUARDED_BY(gMainThread) = 0;
  int paintedY GUARDED_BY(gMainThread) = 0;
  int paintedWidth GUARDED_BY(gMainThread) = 0;
  int paintedHeight GUARDED_BY(gMainThread) = 0;

  ~NativeView();
};

namespace {

// X11 coordinates are 16-bit; a view's frame is kept within them.
constexpr double kMaxCoordinate = 32767;

// UI thread only.
std::unordered_map<Window, std::weak_ptr<NativeView>> gContainerViews GUARDED_BY(gMainThread);
bool gShmUsable GUARDED_BY(gMainThread) = true;

double clampCoordinate(double value, double low) {
  if (std::isnan(value)) return 0;
  return std::clamp(value, low, kMaxCoordinate);
}

void releaseShmImage(Display* display, OwnedWindow& owned) REQUIRES(gMainThread) {
  if (!owned.shmImage) return;
  if (display) XShmDetach(display, &owned.shmInfo);
  XDestroyImage(owned.shmImage);  // frees the XImage, not the segment
  shmdt(owned.shmInfo.shmaddr);
  owned.shmImage = nullptr;
  owned.shmInfo = {};
}

void destroyOwnedWindow(OwnedWindow& owned) REQUIRES(gMainThread) {
  Display* display = uiDisplay();
  if (owned.beforeDestroy) owned.beforeDestroy();
  releaseShmImage(display, owned);
  if (display && owned.gc) XFreeGC(display, owned.gc);
  if (display && owned.window) {
    gContainerViews.erase(owned.window);
    XDestroyWindow(display, owned.window);
    // Gone for every client once this returns, not only for our connection.
    XSync(display, False);
  }
  owned = {};
}

// An image of the window's visual backed by a shared-memory segment; null when
// the server cannot read our memory (then XPutImage is used from now on).
XImage* shmImageFor(Display* display, NativeView& view, int width, int height)
    REQUIRES(gMainThread) {
  OwnedWindow& owned = view.owned;
  if (owned.shmImage && owned.shmImage->width == width && owned.shmImage->height == height) {
    return owned.shmImage;
  }
  releaseShmImage(display, owned);
  if (!gShmUsable || !XShmQueryExtension(display)) return nullptr;
  XImage* image = XShmCreateImage(display, view.visual, view.depth, ZPixmap, nullptr,
                                  &owned.shmInfo, width, height);
  if (!image) return nullptr;
  owned.shmInfo.shmid =
      shmget(IPC_PRIVATE, size_t(image->bytes_per_line) * height, IPC_CREAT | 0600);
  if (owned.shmInfo.shmid < 0) {
    XDestroyImage(image);
    return nullptr;
  }
  owned.shmInfo.shmaddr = image->data = static_cast<char*>(shmat(owned.shmInfo.shmid, nullptr, 0));
  owned.shmInfo.readOnly = False;
  XErrorTrap trap(display);
  bool attached = owned.shmInfo.shmaddr != reinterpret_cast<char*>(-1) &&
                  XShmAttach(display, &owned.shmInfo) && !trap.failed();
  // Marked for removal at once: the segment goes when both sides detach.
  shmctl(owned.shmInfo.shmid, IPC_RMID, nullptr);
  if (!attached) {
    gShmUsable = false;
    if (owned.shmInfo.shmaddr != reinterpret_cast<char*>(-1)) shmdt(owned.shmInfo.shmaddr);
    XDestroyImage(image);
    owned.shmInfo = {};
    return nullptr;
  }
  owned.shmImage = image;
  return image;
}

// Copies `width` × `height` pixels of a "bgr0" image into `target`.
void fillImage(XImage* target, const PixelImage& source, int width, int height, int depth) {
  bool sameLayout = target->bits_per_pixel == 32 && target->byte_order == LSBFirst &&
                    target->red_mask == 0xff0000 && target->green_mask == 0xff00 &&
                    target->blue_mask == 0xff;
  for (int y = 0; y < height; ++y) {
    const uint8_t* from = source.pixels.get() + size_t(y) * source.stride;
    auto* to = reinterpret_cast<uint8_t*>(target->data) + size_t(y) * target->bytes_per_line;
    if (sameLayout) {
      std::memcpy(to, from, size_t(width) * 4);
      if (depth == 32) {  // an alpha visual: the ignored byte would make it transparent
        for (int x = 0; x < width; ++x) to[x * 4 + 3] = 0xff;
      }
      continue;
    }
    for (int x = 0; x < width; ++x) {
      auto channel = [](unsigned long value, unsigned long mask) {
        if (!mask) return 0UL;
        int shift = __builtin_ctzl(mask);
        unsigned long max = mask >> shift;
        return ((value * max + 127) / 255) << shift;
      };
      const uint8_t* pixel = from + x * 4;
      unsigned long value = channel(pixel[2], target->red_mask) |
                            channel(pixel[1], target->green_mask) |
                            channel(pixel[0], target->blue_mask);
      XPutPixel(target, x, y, value);
    }
  }
}

void paint(NativeView& view) REQUIRES(gMainThread) {
  Display* display = uiDisplay();
  if (!display || !view.owned.window || !view.mapped || !view.contents) return;
  const PixelImage& image = *view.contents;
  int viewWidth = int(std::lround(view.frame.width));
  int viewHeight = int(std::lround(view.frame.height));
  int width = std::min(image.width, viewWidth);
  int height = std::min(image.height, viewHeight);
  if (width < 1 || height < 1) return;
  int x = (viewWidth - width) / 2;
  int y = (viewHeight - height) / 2;
  if (x != view.paintedX || y != view.paintedY || width != view.paintedWidth ||
      height != view.paintedHeight) {
    XClearArea(display, view.owned.window, 0, 0, 0, 0, False);  // the whole window
    view.paintedX = x;
    view.paintedY = y;
    view.paintedWidth = width;
    view.paintedHeight = height;
  }
  if (XImage* shared = shmImageFor(display, view, width, height)) {
    fillImage(shared, image, width, height, view.depth);
    XShmPutImage(display, view.owned.window, view.owned.gc, shared, 0, 0, x, y, width, height,
                 False);
    XSync(display, False);  // the server has read the segment before it is filled again
    return;
  }
  XImage* plain =
      XCreateImage(display, view.visual, view.depth, ZPixmap, 0, nullptr, width, height, 32, 0);
  if (!plain) return;
  plain->data = static_cast<char*>(std::malloc(size_t(plain->bytes_per_line) * height));
  if (plain->data) {
    fillImage(plain, image, width, height, view.depth);
    XPutImage(display, view.owned.window, view.owned.gc, plain, 0, 0, x, y, width, height);
    XFlush(display);
  }
  XDestroyImage(plain);  // frees the data too
}

}  // namespace

NativeView::~NativeView() {
  if (!ownsWindow || !owned.window) return;
  // Dropped without being removed: the window still goes, on the UI thread.
  OwnedWindow resources = owned;
  dispatchMainAsync([resources]() mutable {
    threads::assertRole(gMainThread);
    destroyOwnedWindow(resources);
  });
}

void handleViewEvent(const XEvent& event) {
  if (event.type != Expose || event.xexpose.count != 0) return;
  auto found = gContainerViews.find(event.xexpose.window);
  if (found == gContainerViews.end()) return;
  if (NativeViewRef view = found->second.lock()) paint(*view);
}

PixelImageRef createPixelImage(int width, int height, size_t stride, const uint8_t* data) {
  if (width < 1 || height < 1 || !data) return nullptr;
  auto image = std::make_shared<PixelImage>();
  image->width = width;
  image->height = height;
  image->stride = stride;
  size_t size = stride * size_t(height);
  image->pixels.reset(new (std::nothrow) uint8_t[size]);
  if (!image->pixels) return nullptr;
  std::memcpy(image->pixels.get(), data, size);
  return image;
}

NativeHandleStatus readNativeWindowHandle(const uint8_t* data, size_t length, uint64_t& handle) {
  // An X11 window id in native byte order: 4 bytes from current hosts, 8 from
  // older ones.
  if (length < 4) return NativeHandleStatus::tooSmall;
  if (length >= 8) {
    std::memcpy(&handle, data, 8);
  } else {
    uint32_t id;
    std::memcpy(&id, data, 4);
    handle = id;
  }
  return handle == 0 ? NativeHandleStatus::null : NativeHandleStatus::ok;
}

NativeViewRef viewForNativeHandle(uint64_t handle) {
  Display* display = uiDisplay();
  if (!display || handle > 0xffffffffu) return nullptr;  // X ids are 32-bit
  XWindowAttributes attributes;
  XErrorTrap trap(display);
  Status status = XGetWindowAttributes(display, Window(handle), &attributes);
  if (trap.failed() || !status) return nullptr;
  auto view = std::make_shared<NativeView>();
  view->window = Window(handle);
  view->visual = attributes.visual;
  view->depth = attributes.depth;
  return view;
}

NativeViewRef hostViewFor(const NativeViewRef& nativeView) { return nativeView; }

NativeViewRef createChildView(const NativeViewRef& hostView, bool withLayer) {
  Display* display = uiDisplay();
  if (!display || !hostView) return nullptr;
  XSetWindowAttributes attributes{};
  attributes.background_pixel = hostView->depth == 32 ? 0xff000000 : 0;  // opaque black
  attributes.border_pixel = 0;
  attributes.event_mask = withLayer ? ExposureMask : NoEventMask;
  XErrorTrap trap(display);
  Window window =
      XCreateWindow(display, hostView->window, 0, 0, 1, 1, 0, hostView->depth, InputOutput,
                    hostView->visual, CWBackPixel | CWBorderPixel | CWEventMask, &attributes);
  // No input region at all: the pointer passes through to the window below.
  XShapeCombineRectangles(display, window, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
  GC gc = XCreateGC(display, window, 0, nullptr);
  if (trap.failed()) {  // also makes sure the window exists before others use its id
    if (gc) XFreeGC(display, gc);
    if (window) XDestroyWindow(display, window);
    return nullptr;
  }
  auto view = std::make_shared<NativeView>();
  view->window = window;
  view->ownsWindow = true;
  view->visual = hostView->visual;
  view->depth = hostView->depth;
  view->owned.window = window;
  view->owned.gc = gc;
  view->hasLayer = withLayer;
  if (withLayer) gContainerViews[window] = view;
  return view;
}

Window viewWindow(const NativeView& view) { return view.window; }

void setViewBeforeDestroy(NativeView& view, std::function<void()> task) {
  view.owned.beforeDestroy = std::move(task);
}

VisualID viewVisualId(const NativeView& view) {
  return view.visual ? XVisualIDFromVisual(view.visual) : 0;
}

NativeViewRef createContainerView(const NativeViewRef& hostView) {
  return createChildView(hostView, true);
}

void addSubviewAbove(const NativeViewRef&, const NativeViewRef& view) {
  Display* display = uiDisplay();
  if (!display || !view || !view->owned.window) return;
  view->inSuperview = true;
  XRaiseWindow(display, view->owned.window);
  XFlush(display);
}

void removeFromSuperview(const NativeViewRef& view) {
  if (!view || !view->ownsWindow) return;
  view->inSuperview = false;
  view->mapped = false;
  view->contents.reset();
  destroyOwnedWindow(view->owned);
}

bool viewIsFlipped(const NativeViewRef&) { return true; }  // X11's origin is the top left

ViewRect viewBounds(const NativeViewRef& view) {
  if (!view) return {};
  if (view->ownsWindow) return {0, 0, view->frame.width, view->frame.height};
  Display* display = uiDisplay();
  XWindowAttributes attributes;
  XErrorTrap trap(display);
  if (!display || !XGetWindowAttributes(display, view->window, &attributes) || trap.failed()) {
    return {};
  }
  return {0, 0, double(attributes.width), double(attributes.height)};
}

ViewRect convertRectFromView(const NativeViewRef&, const ViewRect& rect, const NativeViewRef&) {
  return rect;  // the native view and the host view are one window
}

void setViewFrame(const NativeViewRef& view, const ViewRect& frame) {
  Display* display = uiDisplay();
  if (!display || !view || !view->owned.window) return;
  view->frame = {clampCoordinate(frame.x, -kMaxCoordinate),
                 clampCoordinate(frame.y, -kMaxCoordinate), clampCoordinate(frame.width, 0),
                 clampCoordinate(frame.height, 0)};
  int width = int(std::lround(view->frame.width));
  int height = int(std::lround(view->frame.height));
  if (width < 1 || height < 1) {
    // X11 windows cannot be 0 wide: an empty frame hides the window.
    if (view->mapped) XUnmapWindow(display, view->owned.window);
    view->mapped = false;
  } else {
    XMoveResizeWindow(display, view->owned.window, int(std::lround(view->frame.x)),
                      int(std::lround(view->frame.y)), unsigned(width), unsigned(height));
    if (!view->mapped && view->inSuperview) {
      XMapWindow(display, view->owned.window);
      view->mapped = true;
    }
  }
  // Waits until the server has placed the window: an OpenGL view is drawn
  // through another connection, whose requests the server may take first.
  XSync(display, False);
}

void setViewNeedsDisplay(const NativeViewRef& view) {
  if (view) paint(*view);
}

ViewSize convertSizeToBacking(const NativeViewRef&, const ViewSize& size) {
  return size;  // X11 has no backing scale
}

double backingScaleFactor(const NativeViewRef&) { return 1.0; }

ViewSize maxLayerContentsSize(const NativeViewRef& view) {
  ViewSize size{double(kMaxLayerContentsSide), double(kMaxLayerContentsSide)};
  Display* display = uiDisplay();
  if (!display || !view) return size;
  // The root window's size now (RandR may have changed it since the
  // connection was opened): more than that is never on the screen at once.
  XErrorTrap trap(display);
  XWindowAttributes attributes;
  Window root;
  int x, y;
  unsigned width, height, border, depth;
  if (!XGetWindowAttributes(display, view->window, &attributes) ||
      !XGetGeometry(display, attributes.root, &root, &x, &y, &width, &height, &border, &depth) ||
      trap.failed()) {
    return size;
  }
  size.width = std::min(size.width, double(width));
  size.height = std::min(size.height, double(height));
  return size;
}

bool viewHasLayer(const NativeViewRef& view) { return view && view->hasLayer; }

void setLayerContentsScale(const NativeViewRef& view, double scale) {
  if (view && view->hasLayer) view->contentsScale = scale;
}

void setLayerContents(const NativeViewRef& view, const PixelImageRef& image, double scale) {
  if (!view || !view->hasLayer) return;
  view->contents = image;
  view->contentsScale = scale;
  paint(*view);
}

}  // namespace hosted_mpv
