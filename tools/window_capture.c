#include "window_capture.h"

#include <X11/Xutil.h>
#include <stdio.h>

int captureWindowPpm(Display* display, Window window, const char* path) {
  XWindowAttributes attributes;
  XGetWindowAttributes(display, window, &attributes);
  XImage* image = XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes,
                            ZPixmap);
  FILE* file = image ? fopen(path, "wb") : NULL;
  if (!file) {
    if (image) XDestroyImage(image);
    return 0;
  }
  fprintf(file, "P6\n%d %d\n255\n", image->width, image->height);
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      const unsigned char rgb[3] = {(pixel >> 16) & 0xff, (pixel >> 8) & 0xff, pixel & 0xff};
      fwrite(rgb, 1, 3, file);
    }
  }
  fclose(file);
  XDestroyImage(image);
  return 1;
}
