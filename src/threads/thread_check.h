// Debug checks of what the lock annotations cannot say: the thread a function
// must run on. On where NDEBUG is not defined and in the sanitizer and fuzz
// builds (ORVANEL_DEBUG_CHECKS); in the normal build DCHECK compiles to
// nothing and a ThreadRole is empty.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

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

// A role one thread plays at a time (the helper's render thread): the thread
// takes it, and code only that thread may run checks it holds it.
struct ThreadRole {
#if ORVANEL_DCHECK_ON
  std::atomic<std::thread::id> holder{};
#endif
};

inline void takeRole([[maybe_unused]] ThreadRole& role) {
#if ORVANEL_DCHECK_ON
  role.holder.store(std::this_thread::get_id(), std::memory_order_relaxed);
#endif
}

inline void leaveRole([[maybe_unused]] ThreadRole& role) {
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

}  // namespace threads
