// Thread roles and debug checks: the thread a function must run on, as a
// capability the thread-safety analysis follows, checked at run time where
// NDEBUG is not defined and in the sanitizer and fuzz builds
// (ORVANEL_DEBUG_CHECKS); in the normal build DCHECK compiles to nothing and
// a ThreadRole is empty.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "thread_annotations.h"

#if !defined(NDEBUG) || defined(ORVANEL_DEBUG_CHECKS)
#define ORVANEL_DCHECK_ON 1
#else
#define ORVANEL_DCHECK_ON 0
#endif

// Ends the process with the condition and where it failed when `condition`
// is false; the condition is not evaluated without debug checks.
#if ORVANEL_DCHECK_ON
#define DCHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::threads::failCheck(#condition, __FILE__, __LINE__))
#else
#define DCHECK(condition) static_cast<void>(sizeof(!(condition)))
#endif

namespace threads {

[[noreturn]] inline void failCheck(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

// A role one thread plays at a time (the helper's render thread, a session's
// event thread): a capability like a mutex, so that what only that thread may
// touch is GUARDED_BY the role and the compiler checks that code reaching for
// it holds the role (thread_annotations.h). The thread takes the role where it
// starts (RoleScope); code reached in ways the analysis cannot follow (through
// a function pointer, from a lambda run on the thread) states it with
// assertRole, which debug builds also check at run time. Nothing is locked:
// holding the role only means being that thread.
class CAPABILITY("role") ThreadRole {
 public:
  ThreadRole() = default;
  ThreadRole(const ThreadRole&) = delete;
  ThreadRole& operator=(const ThreadRole&) = delete;

#if ORVANEL_DCHECK_ON
  std::atomic<std::thread::id> holder{};
#endif
};

// Taking and leaving a role are the primitives the analysis trusts: nothing is
// locked, only the holder noted. A role has one holder at a time.
inline void takeRole([[maybe_unused]] ThreadRole& role) ACQUIRE(role) NO_THREAD_SAFETY_ANALYSIS {
#if ORVANEL_DCHECK_ON
  DCHECK(role.holder.load(std::memory_order_relaxed) == std::thread::id());
  role.holder.store(std::this_thread::get_id(), std::memory_order_relaxed);
#endif
}

inline void leaveRole([[maybe_unused]] ThreadRole& role) RELEASE(role) NO_THREAD_SAFETY_ANALYSIS {
#if ORVANEL_DCHECK_ON
  role.holder.store(std::thread::id(), std::memory_order_relaxed);
#endif
}

// Whether the calling thread holds `role`; always true without debug checks.
inline bool holdsRole([[maybe_unused]] const ThreadRole& role) {
#if ORVANEL_DCHECK_ON
  return role.holder.load(std::memory_order_relaxed) == std::this_thread::get_id();
#else
  return true;
#endif
}

// The calling thread holds `role`: the analysis takes it as held from here on,
// and debug builds end the process when it is not.
inline void assertRole([[maybe_unused]] const ThreadRole& role) ASSERT_CAPABILITY(role) {
  DCHECK(holdsRole(role));
}

// Holds `role` for its scope: a thread's entry function, or a test standing in
// for the thread.
class SCOPED_CAPABILITY RoleScope {
 public:
  explicit RoleScope(ThreadRole& role) ACQUIRE(role) : held(role) { takeRole(held); }
  ~RoleScope() RELEASE() { leaveRole(held); }
  RoleScope(const RoleScope&) = delete;
  RoleScope& operator=(const RoleScope&) = delete;

 private:
  ThreadRole& held;
};

}  // namespace threads
