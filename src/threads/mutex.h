// The mutex the players' locks are made of: std::mutex as a capability the
// thread-safety analysis follows (thread_annotations.h), and its scoped lock.
//
// A Mutex is itself lockable, so std::condition_variable_any waits on it
// directly: `while (!ready) cv.wait(mutex);` inside a MutexLock's scope. The
// wait gives the lock back before it returns, so the analysis, which does not
// look into the wait, stays right. A predicate lambda would be checked as a
// function of its own that holds no lock: write the loop out instead.
//
// Engine calls under locks
// ------------------------
// A player never makes a synchronous engine call while holding its state
// lock (the helper's stateMutex; in hosted_mpv a session's stateMutex or a
// registry's mutex). Synchronous means anything that waits for the engine's
// core: mpv_command, mpv_set_property*, mpv_get_property*, mpv_render_*,
// mpv_destroy / mpv_terminate_destroy and the like. The core may itself be
// waiting for a callback or an event handler that takes the same lock.
// Allowed under it: requests that wait for nothing (mpv_command_async,
// mpv_set_property_async, mpv_wakeup) and mpv_error_string. A function that
// makes a synchronous call says EXCLUDES(the state lock), so calling it under
// the lock does not compile.
#pragma once

#include <mutex>

#include "thread_annotations.h"

namespace threads {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { impl.lock(); }
  void unlock() RELEASE() { impl.unlock(); }

 private:
  std::mutex impl;
};

// Holds `mutex` for its scope. A Mutex as a rule (`threads::MutexLock
// lock(mutex);` deduces it); code generic over a record's lock (the shared
// event turn) takes whatever lockable the record has, and the analysis
// follows those that are capabilities.
template <typename Lockable = Mutex>
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Lockable& mutex) ACQUIRE(mutex) : held(mutex) { held.lock(); }
  ~MutexLock() RELEASE() { held.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Lockable& held;
};

}  // namespace threads
