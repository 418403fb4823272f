// The process main thread and its main queue, as the views need them: every
// view operation runs there. On Linux a module thread that owns the X
// connection stands in for it (platform/linux/ui_thread.cpp).
#pragma once

#include <functional>

#include "thread_check.h"

namespace hosted_mpv {

// Held by the thread that stands for the main thread, for its whole life:
// what only the main thread touches (a session's views) is GUARDED_BY it, and
// a task run there states it with threads::assertRole.
extern threads::ThreadRole gMainThread;

// True on the thread that stands for the main thread. Any thread.
bool isMainThread();

// Runs `task` on the main thread and waits for it; runs it inline when the
// caller already is the main thread. An exception thrown by the task is
// rethrown to the caller. Any thread.
void runOnMainThread(const std::function<void()>& task);

// Queues `task` for the main thread and returns at once. Any thread.
void dispatchMainAsync(std::function<void()> task);

}  // namespace hosted_mpv
