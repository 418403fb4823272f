// Serial task queues (stand in for serial dispatch queues): one worker thread
// runs the tasks one at a time in the order they were queued.
#pragma once

#include <functional>
#include <memory>

#include "thread_check.h"

namespace hosted_mpv {

struct SerialQueueState;

// A queue handle. When the last reference goes, the queue runs what is still
// queued and its thread ends (joined, or left to finish by itself when the
// last reference goes on the queue's own thread).
struct SerialQueue {
  explicit SerialQueue(std::shared_ptr<SerialQueueState> queueState);
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;
  ~SerialQueue();

  std::shared_ptr<SerialQueueState> state;
  // Held by the queue's worker thread for its whole life, so by every task
  // the queue runs: what only the queue's tasks touch is GUARDED_BY it, and a
  // task states it with threads::assertRole. Lives in `state`, as long as
  // the worker.
  threads::ThreadRole& worker;
};

std::shared_ptr<SerialQueue> createSerialQueue(const char* label);

// True on the queue's own thread. Any thread.
bool runsOnQueue(const SerialQueue& queue);

// Queues `task` and returns at once. Any thread.
void dispatchAsync(SerialQueue& queue, std::function<void()> task);

// Queues `task` and waits until it has run; runs it inline when called on the
// queue's own thread (waiting there would never end). Any thread.
void dispatchSync(SerialQueue& queue, const std::function<void()>& task);

}  // namespace hosted_mpv
