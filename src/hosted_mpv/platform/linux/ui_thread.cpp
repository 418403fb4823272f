// The UI thread: stands in for the process main thread and its main queue.
// It owns the module's X connection, runs view tasks in the order they were
// queued, and handles the connection's events between tasks.
// Threads: any thread queues tasks (platform/linux/task_queue.h); only the UI
// thread touches X.
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <thread>

#include "platform/linux/task_queue.h"
#include "platform/linux/x_connection.h"
#include "platform/main_thread.h"

namespace hosted_mpv {

threads::ThreadRole gMainThread;

namespace {

struct UiThread {
  TaskQueue queue;           // drained between X events; the thread waits in poll()
  int wakeFd = -1;           // eventfd, written when a task is queued
  std::thread::id threadId;  // immutable once started
};

// Set once on the UI thread when the connection opens. The error handlers,
// which Xlib calls on whichever thread reads an error of any connection in
// the process, read them (an error of gDisplay is read on the UI thread).
Display* gDisplay = nullptr;
XErrorHandler gPreviousErrorHandler = nullptr;
XIOErrorHandler gPreviousIoErrorHandler = nullptr;
// UI thread only.
bool gConnectionLost GUARDED_BY(gMainThread) = false;
unsigned long gErrorCount GUARDED_BY(gMainThread) = 0;

int onXError(Display* display, XErrorEvent* event) {
  if (display == gDisplay) {
    threads::assertRole(gMainThread);
    ++gErrorCount;
    return 0;
  }
  return gPreviousErrorHandler ? gPreviousErrorHandler(display, event) : 0;
}

int onXIoError(Display* display) {
  if (display == gDisplay) return 0;  // the exit handler below decides
  return gPreviousIoErrorHandler ? gPreviousIoErrorHandler(display) : 0;
}

// A lost X server must not end the application: views just stop working.
void onConnectionLost(Display*, void*) {
  threads::assertRole(gMainThread);  // only the UI thread uses the connection
  gConnectionLost = true;
}

void runUiThread(UiThread* ui) {
  threads::RoleScope role(gMainThread);
  pthread_setname_np(pthread_self(), "hosted-mpv-ui");
  for (;;) {
    runTasks(ui->queue, false);
    Display* display = gConnectionLost ? nullptr : gDisplay;
    while (display && !gConnectionLost && XPending(display) > 0) {  // XPending also flushes
      XEvent event;
      XNextEvent(display, &event);
      handleViewEvent(event);
    }
    if (gConnectionLost) display = nullptr;
    pollfd fds[2] = {{ui->wakeFd, POLLIN, 0},
                     {display ? ConnectionNumber(display) : -1, POLLIN, 0}};
    if (poll(fds, display ? 2 : 1, -1) > 0 && (fds[0].revents & POLLIN)) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = read(ui->wakeFd, &count, sizeof count);
    }
  }
}

// Started on first use and never stopped: like the main thread, it lives as
// long as the process.
UiThread& uiThread() {
  static UiThread* ui = [] {
    XInitThreads();  // before any other Xlib call of the process
    auto* created = new UiThread;
    created->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::thread thread(runUiThread, created);
    created->threadId = thread.get_id();
    thread.detach();
    return created;
  }();
  return *ui;
}

}  // namespace

Display* uiDisplay() {
  if (gConnectionLost) return nullptr;
  if (!gDisplay) {
    gDisplay = XOpenDisplay(nullptr);
    if (gDisplay) {
      gPreviousErrorHandler = XSetErrorHandler(onXError);
      gPreviousIoErrorHandler = XSetIOErrorHandler(onXIoError);
      XSetIOErrorExitHandler(gDisplay, onConnectionLost, nullptr);
    }
  }
  return gDisplay;
}

XErrorTrap::XErrorTrap(Display* display) : display(display), errorsAtStart(gErrorCount) {}

bool XErrorTrap::failed() {
  if (display && !gConnectionLost) XSync(display, False);
  return gConnectionLost || gErrorCount != errorsAtStart;
}

bool isMainThread() { return std::this_thread::get_id() == uiThread().threadId; }

void dispatchMainAsync(std::function<void()> task) {
  UiThread& ui = uiThread();
  pushTask(ui.queue, std::move(task));
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(ui.wakeFd, &one, sizeof one);
}

void runOnMainThread(const std::function<void()>& task) {
  if (isMainThread()) {
    task();
    return;
  }
  runAndWait(dispatchMainAsync, task);
}

}  // namespace hosted_mpv
