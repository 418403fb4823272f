// Ends the helper on SIGTERM, SIGINT and SIGHUP the way "quit" does, from a
// thread of its own that waits for them with sigwait: no code runs inside a
// signal handler.
//
// blockEndSignals must run on the main thread before any other thread exists
// (the engine starts threads of its own), so every thread inherits the mask
// and the signals reach only the watch thread.
//
// Phases: while starting, a signal ends the process at once; while running,
// the first one asks for the normal shutdown (onStop); once stopping, any
// further one ends the process at once. Ending at once still unlinks the
// frame ring, then exits with status 128 + the signal number.
//
// Threads: the watch thread runs watchLoop; main calls the other functions,
// the render thread changeRingExclusively. `mutex` is a leaf lock, except
// that onStop runs under it (so main never tears down what onStop uses while
// it runs) and a ring is made under it.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

#include "mutex.h"

namespace frame_helper {

enum class ShutdownPhase { starting, running, stopping };

struct SignalWatch {
  std::string shmBase;  // set before the thread starts, then read-only

  threads::Mutex mutex;
  ShutdownPhase phase GUARDED_BY(mutex) = ShutdownPhase::starting;
  // Asks the event loop to end; only called while running.
  std::function<void()> onStop GUARDED_BY(mutex);
  // Newest ring made (changeRingExclusively); 0 none.
  uint32_t ringGeneration GUARDED_BY(mutex) = 0;
};

// The signals that end the helper. Main thread, before any other thread.
void blockEndSignals();

// The watch thread's body: waits for the end signals for the rest of the
// process. Never returns.
[[noreturn]] void watchEndSignals(SignalWatch& watch);

// Main thread: the event loop is about to run; the first signal calls onStop.
void enterRunning(SignalWatch& watch, std::function<void()> onStop) EXCLUDES(watch.mutex);

// Main thread: the event loop has ended; a signal from now on ends the process
// at once. After this returns, onStop is never called again.
void enterStopping(SignalWatch& watch) EXCLUDES(watch.mutex);

// Render thread: runs `create`, which replaces the ring by the one of
// `generation`, under `mutex`, and notes the generation when it succeeds.
// Ending at once holds `mutex` from the unlink to the exit, so a ring is
// either made and noted before it, or never made: none outlives the process.
bool changeRingExclusively(SignalWatch& watch, uint32_t generation,
                           const std::function<bool()>& create) EXCLUDES(watch.mutex);

// What ending at once does, apart from exiting: unlinks the newest ring.
void unlinkRingsLocked(const SignalWatch& watch) REQUIRES(watch.mutex);

}  // namespace frame_helper
