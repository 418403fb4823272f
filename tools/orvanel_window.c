/*
 * orvanel_window: an application window for orvanel-play --hosted, standing in
 * for the Electron window the in-window player draws into. Driven by lines on
 * standard input; reports on standard output.
 *
 *   orvanel_window WIDTH HEIGHT TITLE
 *     maps a top-level window and prints "window <id>" (decimal X11 id), then
 *     "size <w> <h>" whenever the window is resized and "closed" when the
 *     user closes it (the program then exits).
 *   capture PATH   writes the window's pixels as a binary PPM; answers "ok"
 *                  or "error capture"
 *   quit           (or the end of input) destroys the window and exits
 *
 * Without a display it prints "error no display" and exits with status 1.
 */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "window_capture.h"

static Display* display;
static Window window;

static void capture(const char* path) {
  printf(captureWindowPpm(display, window, path) ? "ok\n" : "error capture\n");
}

/* Handles one command line; returns 0 when the program should end. */
static int command(char* line) {
  line[strcspn(line, "\r\n")] = '\0';
  if (strncmp(line, "capture ", 8) == 0) {
    capture(line + 8);
  } else if (strcmp(line, "quit") == 0) {
    return 0;
  } else {
    printf("error unknown command\n");
  }
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: orvanel_window WIDTH HEIGHT TITLE\n");
    return 2;
  }
  setvbuf(stdout, NULL, _IOLBF, 0);
  display = XOpenDisplay(NULL);
  if (!display) {
    printf("error no display\n");
    return 1;
  }
  const int width = atoi(argv[1]) > 0 ? atoi(argv[1]) : 640;
  const int height = atoi(argv[2]) > 0 ? atoi(argv[2]) : 360;
  const int screen = DefaultScreen(display);
  window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, (unsigned)width,
                               (unsigned)height, 0, 0, 0x202020);
  XStoreName(display, window, argv[3]);
  Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, window, &deleteWindow, 1);
  XSelectInput(display, window, StructureNotifyMask);
  XMapWindow(display, window);
  XSync(display, False);
  printf("window %lu\n", (unsigned long)window);

  int lastWidth = width, lastHeight = height;
  /* Own line buffer: stdio buffering would hide lines from poll(). */
  char pending[4096];
  size_t used = 0;
  struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
  for (;;) {
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == ConfigureNotify &&
          (event.xconfigure.width != lastWidth || event.xconfigure.height != lastHeight)) {
        lastWidth = event.xconfigure.width;
        lastHeight = event.xconfigure.height;
        printf("size %d %d\n", lastWidth, lastHeight);
      } else if (event.type == ClientMessage &&
                 (Atom)event.xclient.data.l[0] == deleteWindow) {
        printf("closed\n");
        goto done;
      }
    }
    if (poll(fds, 2, -1) < 0) break;
    if (fds[0].revents & (POLLIN | POLLHUP)) {
      const ssize_t n = read(STDIN_FILENO, pending + used, sizeof pending - 1 - used);
      if (n <= 0) break;
      used += (size_t)n;
      pending[used] = '\0';
      char* newline;
      int keepGoing = 1;
      while (keepGoing && (newline = strchr(pending, '\n')) != NULL) {
        *newline = '\0';
        keepGoing = command(pending);
        used -= (size_t)(newline + 1 - pending);
        memmove(pending, newline + 1, used + 1);
      }
      if (!keepGoing) break;
      if (used == sizeof pending - 1) used = 0; /* an over-long line is dropped */
    }
  }
done:
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  return 0;
}
