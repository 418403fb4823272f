// An Xvfb server of the test's own and a top-level window on it, for tests
// that need a display. Xvfb picks a free display itself (-displayfd), so tests
// running at the same time never collide. The module opens its X
// connections from DISPLAY once per process, so a test process uses one
// server for all its tests.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../tools/mapped_window.h"

extern char** environ;

namespace hosted_test {

struct XTestServer {
  pid_t pid = -1;
  std::string display;
  Display* connection = nullptr;  // the test's own
  Window window = 0;

  // Starts Xvfb, points DISPLAY at it and maps a width × height window of
  // `background` (0xRRGGBB). False when no server could be started. The
  // server ends when the test process does: the module keeps its X
  // connections for the life of the process, and a server that went away
  // under them would only test Xlib's handling of a lost connection.
  bool start(int width, int height, unsigned long background) {
    std::string program;
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
      if (access((std::string(dir) + "Xvfb").c_str(), X_OK) == 0) {
        program = std::string(dir) + "Xvfb";
        break;
      }
    }
    if (program.empty()) return false;
    std::vector<std::string> args = {program, "-displayfd",  "3",         "-screen",
                                     "0",     "1280x800x24", "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    // Programs of the tests run without a preloaded sanitizer runtime.
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) {
      if (std::string(*e).rfind("LD_PRELOAD=", 0) != 0) env.push_back(*e);
    }
    env.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t parent = getpid();
    pid = fork();
    if (pid == 0) {  // only async-signal-safe calls until exec
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(1);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      dup2(fds[1], 3);
      execve(argv[0], argv.data(), env.data());
      _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
      close(fds[0]);
      return false;
    }
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return false;
    display = ":" + number;
    setenv("DISPLAY", display.c_str(), 1);

    XInitThreads();
    connection = XOpenDisplay(display.c_str());
    if (!connection) return false;
    window = createMappedWindow(connection, unsigned(width), unsigned(height), background);
    return true;
  }

  // The window's pixel at (x, y) as 0xRRGGBB, children included.
  unsigned long pixel(int x, int y) {
    XImage* image = XGetImage(connection, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return ~0UL;
    unsigned long value = XGetPixel(image, 0, 0) & 0xffffff;
    XDestroyImage(image);
    return value;
  }

  // Closes the test's own connection; the server stays until the process
  // ends.
  void stop() {
    if (connection) XCloseDisplay(connection);
    connection = nullptr;
  }
};

}  // namespace hosted_test
