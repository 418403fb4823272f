// The worker loop under both of the module's task threads: the serial queues'
// workers and the UI thread. A FIFO of tasks, run one at a time in the order
// they were queued, and a way to queue a task and wait for it.
// Threads: any thread pushes; one worker thread runs. The mutex is a leaf
// lock; no task runs while it is held.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>

#include "mutex.h"

namespace hosted_mpv {

struct TaskQueue {
  threads::Mutex mutex;
  std::condition_variable_any wake;  // pairs with mutex; notified on every push and stop
  std::deque<std::function<void()>> tasks GUARDED_BY(mutex);
  bool stopping GUARDED_BY(mutex) = false;
};

// Queues `task` behind the others and wakes a worker waiting in runTasks. Any thread.
void pushTask(TaskQueue& queue, std::function<void()> task) EXCLUDES(queue.mutex);

// Makes a worker waiting in runTasks return once everything queued has run. Any thread.
void stopTasks(TaskQueue& queue) EXCLUDES(queue.mutex);

// Worker thread: runs the queued tasks in order. Returns when the queue is
// empty; with `waitForTasks`, waits for more instead and returns only when
// stopTasks was called and everything queued has run. A task that throws is
// passed over: tasks report their own failures, and nothing may end the worker.
void runTasks(TaskQueue& queue, bool waitForTasks) EXCLUDES(queue.mutex);

// Hands `task` to `queueTask` and blocks until it has run; rethrows what the
// task threw. The caller must not be the thread that runs the task.
void runAndWait(const std::function<void(std::function<void()>)>& queueTask,
                const std::function<void()>& task);

}  // namespace hosted_mpv
