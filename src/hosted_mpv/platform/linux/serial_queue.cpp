// Serial queues on Linux: one worker thread and a FIFO of tasks.
// Threads: any thread queues; the worker runs. The queue's mutex is a leaf
// lock; no task runs while it is held.
#include "platform/serial_queue.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace hosted_mpv {

struct SerialQueueState {
  std::mutex mutex;
  std::condition_variable wake;             // pairs with mutex
  std::deque<std::function<void()>> tasks;  // guarded by mutex
  bool stopping = false;                    // guarded by mutex
  std::thread::id workerId;                 // guarded by mutex
  std::thread worker;                       // owner's thread only
};

namespace {

void runQueue(const std::shared_ptr<SerialQueueState>& state) {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(state->mutex);
      state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
      if (state->tasks.empty()) return;  // stopping, and everything queued has run
      task = std::move(state->tasks.front());
      state->tasks.pop_front();
    }
    try {
      task();
    } catch (...) {
      // A task reports its own failures; nothing may end the worker.
    }
  }
}

}  // namespace

std::shared_ptr<SerialQueue> createSerialQueue(const char* label) {
  auto queue = std::make_shared<SerialQueue>();
  queue->state = std::make_shared<SerialQueueState>();
  std::lock_guard lock(queue->state->mutex);
  queue->state->worker = std::thread(runQueue, queue->state);
  queue->state->workerId = queue->state->worker.get_id();
  // Thread names are at most 15 bytes; the end of a reverse-DNS label says most.
  std::string name = label ? label : "serial-queue";
  if (name.size() > 15) name = name.substr(name.size() - 15);
  pthread_setname_np(queue->state->worker.native_handle(), name.c_str());
  return queue;
}

SerialQueue::~SerialQueue() {
  bool onWorker;
  {
    std::lock_guard lock(state->mutex);
    state->stopping = true;
    onWorker = std::this_thread::get_id() == state->workerId;
  }
  state->wake.notify_one();
  // The last reference can go inside one of the queue's own tasks; the worker
  // then finishes the queue by itself (it holds the state).
  if (onWorker) {
    state->worker.detach();
  } else {
    state->worker.join();
  }
}

void dispatchAsync(SerialQueue& queue, std::function<void()> task) {
  // The task may drop the queue's last handle before this call returns.
  std::shared_ptr<SerialQueueState> state = queue.state;
  {
    std::lock_guard lock(state->mutex);
    state->tasks.push_back(std::move(task));
  }
  state->wake.notify_one();
}

void dispatchSync(SerialQueue& queue, const std::function<void()>& task) {
  bool onWorker;
  {
    std::lock_guard lock(queue.state->mutex);
    onWorker = std::this_thread::get_id() == queue.state->workerId;
  }
  if (onWorker) {
    task();
    return;
  }
  std::mutex doneMutex;
  std::condition_variable doneChanged;  // pairs with doneMutex
  bool done = false;
  std::exception_ptr failure;
  dispatchAsync(queue, [&] {
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
