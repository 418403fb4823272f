// Task queues: the loop the serial queues' workers and the UI thread share.
#include "platform/linux/task_queue.h"

#include <condition_variable>
#include <exception>
#include <utility>

namespace hosted_mpv {

void pushTask(TaskQueue& queue, std::function<void()> task) {
  {
    threads::MutexLock lock(queue.mutex);
    queue.tasks.push_back(std::move(task));
  }
  queue.wake.notify_one();
}

void stopTasks(TaskQueue& queue) {
  {
    threads::MutexLock lock(queue.mutex);
    queue.stopping = true;
  }
  queue.wake.notify_one();
}

void runTasks(TaskQueue& queue, bool waitForTasks) {
  for (;;) {
    std::function<void()> task;
    {
      threads::MutexLock lock(queue.mutex);
      while (waitForTasks && !queue.stopping && queue.tasks.empty()) queue.wake.wait(queue.mutex);
      if (queue.tasks.empty()) return;  // drained (and, when waiting, stopping)
      task = std::move(queue.tasks.front());
      queue.tasks.pop_front();
    }
    try {
      task();
    } catch (...) {
      // A task reports its own failures; nothing may end the worker.
    }
  }
}

namespace {

// How a task run for a waiting caller ended. On the caller's stack: the task
// notifies under the lock, so the caller cannot return and free it between
// the flag and the notification.
struct Completion {
  threads::Mutex mutex;
  std::condition_variable_any changed;  // pairs with mutex
  bool done GUARDED_BY(mutex) = false;
  std::exception_ptr failure GUARDED_BY(mutex);
};

}  // namespace

void runAndWait(const std::function<void(std::function<void()>)>& queueTask,
                const std::function<void()>& task) {
  Completion completion;
  queueTask([&] {
    std::exception_ptr failure;
    try {
      task();
    } catch (...) {
      failure = std::current_exception();
    }
    threads::MutexLock lock(completion.mutex);
    completion.failure = failure;
    completion.done = true;
    completion.changed.notify_one();
  });
  std::exception_ptr failure;
  {
    threads::MutexLock lock(completion.mutex);
    while (!completion.done) completion.changed.wait(completion.mutex);
    failure = completion.failure;
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace hosted_mpv
