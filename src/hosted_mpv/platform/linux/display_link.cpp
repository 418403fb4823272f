// The display link on Linux: a ticker thread that calls the output callback
// once per refresh of the screen that shows the OpenGL view (its rate comes
// with the context; 60 Hz where the screen reports none).
// Threads: the owner (creation and teardown) sets up, starts, stops and
// releases; the ticker thread calls the callback. The link's mutex is a leaf
// lock and is never held while the callback runs.
#include "platform/display_link.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <system_error>
#include <thread>

#include "mutex.h"
#include "platform/linux/opengl_context.h"
#include "platform/linux/test_failures.h"

namespace hosted_mpv {

using Clock = std::chrono::steady_clock;

struct DisplayLink {
  // Owner's thread; set before start and left alone while the ticker runs.
  Clock::duration period = std::chrono::nanoseconds(1'000'000'000 / 60);
  DisplayLinkOutputCallback callback = nullptr;
  void* context = nullptr;
  std::thread ticker;

  threads::Mutex mutex;
  std::condition_variable_any wake;  // pairs with mutex
  bool stopping GUARDED_BY(mutex) = false;
};

namespace {

void runTicker(DisplayLink* link) {
  pthread_setname_np(pthread_self(), "hosted-mpv-link");
  Clock::time_point next = Clock::now() + link->period;
  link->mutex.lock();
  for (;;) {
    while (!link->stopping) {
      if (link->wake.wait_until(link->mutex, next) == std::cv_status::timeout) break;
    }
    if (link->stopping) break;
    link->mutex.unlock();
    if (link->callback) link->callback(link, link->context);
    link->mutex.lock();
    // Refreshes that went by while the callback ran are skipped, as a
    // display skips them; the phase is kept.
    next += link->period;
    Clock::time_point now = Clock::now();
    if (next <= now) next += ((now - next) / link->period + 1) * link->period;
  }
  link->mutex.unlock();
}

}  // namespace

DisplayLink* displayLinkCreateWithActiveDisplays() { return new DisplayLink; }

bool displayLinkSetCurrentDisplayFromGlContext(DisplayLink* link, GlContext& context,
                                               GlPixelFormat&) {
  if (!link) return false;
  double rate = glContextRefreshRate(context);
  link->period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1 / rate));
  return true;
}

void displayLinkSetOutputCallback(DisplayLink* link, DisplayLinkOutputCallback callback,
                                  void* context) {
  if (!link) return;
  link->callback = callback;
  link->context = context;
}

bool displayLinkStart(DisplayLink* link) {
  if (!link) return false;
  if (link->ticker.joinable()) return true;  // already running
  if (testFailureRequested("display-link")) return false;
  {
    threads::MutexLock lock(link->mutex);
    link->stopping = false;
  }
  try {
    link->ticker = std::thread(runTicker, link);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void displayLinkStop(DisplayLink* link) {
  if (!link) return;
  {
    threads::MutexLock lock(link->mutex);
    link->stopping = true;
  }
  link->wake.notify_one();
  // From the callback itself the ticker ends once the callback returns.
  if (link->ticker.joinable() && link->ticker.get_id() != std::this_thread::get_id()) {
    link->ticker.join();
  }
}

void displayLinkRelease(DisplayLink* link) {
  if (!link) return;
  displayLinkStop(link);
  delete link;
}

}  // namespace hosted_mpv
