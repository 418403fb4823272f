#include "signal_watch.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace frame_helper {

namespace {

sigset_t endSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void blockEndSignals() {
  const sigset_t set = endSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void watchEndSignals(SignalWatch& watch) {
  const sigset_t set = endSignals();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    threads::MutexLock lock(watch.mutex);
    if (watch.phase == ShutdownPhase::running) {
      watch.phase = ShutdownPhase::stopping;
      if (watch.onStop) watch.onStop();
      continue;
    }
    // Starting (main may be blocked reading the preamble) or already
    // stopping: the caller wants the process gone now. The engine and the
    // render thread go with it; only the ring's name would outlive it.
    unlinkRingsLocked(watch);
    // No flush: another thread may hold a stream's lock for good (the
    // command reader blocked reading stdin); every line went out whole.
    std::_Exit(128 + signal);
  }
}

void enterRunning(SignalWatch& watch, std::function<void()> onStop) {
  threads::MutexLock lock(watch.mutex);
  watch.onStop = std::move(onStop);
  if (watch.phase == ShutdownPhase::starting) watch.phase = ShutdownPhase::running;
}

void enterStopping(SignalWatch& watch) {
  threads::MutexLock lock(watch.mutex);
  watch.phase = ShutdownPhase::stopping;
  watch.onStop = nullptr;
}

bool changeRingExclusively(SignalWatch& watch, uint32_t generation,
                           const std::function<bool()>& create) {
  threads::MutexLock lock(watch.mutex);
  if (!create()) return false;
  watch.ringGeneration = generation;
  return true;
}

void unlinkRingsLocked(const SignalWatch& watch) {
  // Replaced rings were unlinked by the render thread already, and no new one
  // is made while the caller holds the lock.
  if (watch.ringGeneration == 0) return;
  const std::string name = watch.shmBase + "-g" + std::to_string(watch.ringGeneration);
  shm_unlink(name.c_str());
}

}  // namespace frame_helper
