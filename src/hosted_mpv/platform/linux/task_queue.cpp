// Task queues: the loop the serial queues' workers and the UI thread share.
#include "platform/linux/task_queue.h"

#include <condition_variable>
#include <exception>
#include <mutex>
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

void runAndWait(const std::function<void(std::function<void()>)>& queueTask,
                const std::function<void()>& task) {
  std::mutex doneMutex;
  std::condition_variable doneChanged;  // pairs with doneMutex
  bool done = false;
  std::exception_ptr failure;
  queueTask([&] {
    try {
      task();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard lock(doneMutex);
    done = true;
    doneChanged.notify_one();
  });
  std::unique_lock lock(doneMutex);
  doneChanged.wait(lock, [&] { return done; });
  if (failure) std::rethrow_exception(failure);
}

}  // namespace hosted_mpv
