#include "platform/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace hosted_mpv;

TEST(SerialQueue, RunsTasksInOrderAndSyncWaits) {
  auto queue = createSerialQueue("test.serial");
  std::vector<int> order;  // touched only by queue tasks and after sync
  for (int i = 0; i < 100; ++i) dispatchAsync(*queue, [&order, i] { order.push_back(i); });
  dispatchSync(*queue, [&] { order.push_back(100); });
  ASSERT_EQ(order.size(), 101u);
  for (int i = 0; i <= 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(SerialQueue, SyncOnItsOwnThreadRunsInline) {
  auto queue = createSerialQueue("test.serial");
  bool ranInline = false;
  dispatchSync(*queue, [&] { dispatchSync(*queue, [&] { ranInline = true; }); });
  EXPECT_TRUE(ranInline);
}

TEST(SerialQueue, DrainsWhenTheLastReferenceGoes) {
  std::atomic<int> ran{0};
  {
    auto queue = createSerialQueue("test.serial");
    for (int i = 0; i < 10; ++i) {
      dispatchAsync(*queue, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ran.fetch_add(1);
      });
    }
  }
  EXPECT_EQ(ran.load(), 10);
}

TEST(SerialQueue, LastReferenceMayGoInsideItsOwnTask) {
  auto queue = createSerialQueue("test.serial");
  std::atomic<bool> done{false};
  auto* holder = new std::shared_ptr<SerialQueue>(queue);
  queue.reset();
  dispatchAsync(**holder, [holder, &done] {
    delete holder;  // the queue's last reference, dropped on its own thread
    done.store(true);
  });
  for (int i = 0; i < 500 && !done.load(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_TRUE(done.load());
}

TEST(SerialQueue, SyncRethrowsTheTasksException) {
  auto queue = createSerialQueue("test.serial");
  EXPECT_THROW(dispatchSync(*queue, [] { throw std::runtime_error("x"); }), std::runtime_error);
  bool stillRuns = false;
  dispatchSync(*queue, [&] { stillRuns = true; });
  EXPECT_TRUE(stillRuns);
}
