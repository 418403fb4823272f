/*
 * A top-level X11 window for the hosted module's tests, driven by lines on
 * standard input; every command answers one line on standard output.
 *
 *   x_window_tool WIDTH HEIGHT RRGGBB
 *     makes and maps a top-level window of that size and background colour,
 *     then prints "window <id>" (decimal) and reads commands:
 *   capture PATH        writes the window's pixels (children included) as a
 *                       binary PPM to PATH; answers "ok"
 *   under X Y           moves the pointer to (X, Y) of the window and answers
 *                       "under <id>": the deepest window that takes the
 *                       pointer there (windows with an empty input shape
 *                       let it through)
 *   children            answers "children <id> <id> ..." (XQueryTree order,
 *                       bottom to top)
 *   quit                (or the end of input) destroys the window and exits
 */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mapped_window.h"
#include "window_capture.h"

static Display* display;
static Window window;

static void capture(const char* path) {
  printf(captureWindowPpm(display, window, path) ? "ok\n" : "error capture\n");
}

static void under(int x, int y) {
  XWarpPointer(display, None, window, 0, 0, 0, 0, x, y);
  XSync(display, False);
  Window current = DefaultRootWindow(display), root, child;
  int rootX, rootY, winX, winY;
  unsigned int mask;
  for (;;) {
    if (!XQueryPointer(display, current, &root, &child, &rootX, &rootY, &winX, &winY, &mask) ||
        child == None) {
      break;
    }
    current = child;
  }
  printf("under %lu\n", (unsigned long)current);
}

static void children(void) {
  Window root, parent, *list = NULL;
  unsigned int count = 0;
  printf("children");
  if (XQueryTree(display, window, &root, &parent, &list, &count)) {
    for (unsigned int i = 0; i < count; ++i) printf(" %lu", (unsigned long)list[i]);
    if (list) XFree(list);
  }
  printf("\n");
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: x_window_tool WIDTH HEIGHT RRGGBB\n");
    return 2;
  }
  display = XOpenDisplay(NULL);
  if (!display) {
    fprintf(stderr, "x_window_tool: cannot open display\n");
    return 1;
  }
  unsigned long colour = strtoul(argv[3], NULL, 16);
  window = createMappedWindow(display, (unsigned)atoi(argv[1]), (unsigned)atoi(argv[2]), colour);
  setvbuf(stdout, NULL, _IOLBF, 0);
  printf("window %lu\n", (unsigned long)window);

  char line[4096];
  while (fgets(line, sizeof line, stdin)) {
    line[strcspn(line, "\r\n")] = '\0';
    int x, y;
    if (strncmp(line, "capture ", 8) == 0) {
      capture(line + 8);
    } else if (sscanf(line, "under %d %d", &x, &y) == 2) {
      under(x, y);
    } else if (strcmp(line, "children") == 0) {
      children();
    } else if (strcmp(line, "quit") == 0) {
      break;
    } else {
      printf("error unknown command\n");
    }
  }
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  return 0;
}
