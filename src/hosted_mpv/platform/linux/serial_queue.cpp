// Serial queues on Linux: one worker thread and a FIFO of tasks.
// Threads: any thread queues; the worker runs (platform/linux/task_queue.h).
#include "platform/serial_queue.h"

#include <pthread.h>

#include <string>
#include <thread>
#include <utility>

#include "platform/linux/task_queue.h"

namespace hosted_mpv {

struct SerialQueueState {
  TaskQueue queue;
  std::thread::id workerId GUARDED_BY(queue.mutex);
  std::thread worker;  // owner's thread only
  threads::ThreadRole workerRole;  // SerialQueue::worker
};

SerialQueue::SerialQueue(std::shared_ptr<SerialQueueState> queueState)
    : state(std::move(queueState)), worker(state->workerRole) {}

std::shared_ptr<SerialQueue> createSerialQueue(const char* label) {
  auto queue = std::make_shared<SerialQueue>(std::make_shared<SerialQueueState>());
  threads::MutexLock lock(queue->state->queue.mutex);
  // The worker holds the state: it may outlive the last handle (see below).
  queue->state->worker = std::thread([state = queue->state] {
    threads::RoleScope role(state->workerRole);
    runTasks(state->queue, true);
  });
  queue->state->workerId = queue->state->worker.get_id();
  // Thread names are at most 15 bytes; the end of a reverse-DNS label says most.
  std::string name = label ? label : "serial-queue";
  if (name.size() > 15) name = name.substr(name.size() - 15);
  pthread_setname_np(queue->state->worker.native_handle(), name.c_str());
  return queue;
}

bool runsOnQueue(const SerialQueue& queue) {
  threads::MutexLock lock(queue.state->queue.mutex);
  return std::this_thread::get_id() == queue.state->workerId;
}

SerialQueue::~SerialQueue() {
  const bool onWorker = runsOnQueue(*this);
  stopTasks(state->queue);
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
  pushTask(state->queue, std::move(task));
}

void dispatchSync(SerialQueue& queue, const std::function<void()>& task) {
  if (runsOnQueue(queue)) {
    task();
    return;
  }
  runAndWait([&](std::function<void()> wrapped) { dispatchAsync(queue, std::move(wrapped)); }, task);
}

}  // namespace hosted_mpv
