#include "platform/display_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/linux/test_failures.h"

using namespace hosted_mpv;
using namespace std::chrono_literals;

namespace {

struct Ticks {
  std::atomic<int> count{0};
  std::atomic<bool> inside{false};
  std::chrono::milliseconds work{0};
};

void onTick(DisplayLink*, void* context) {
  auto* ticks = static_cast<Ticks*>(context);
  ticks->inside.store(true);
  std::this_thread::sleep_for(ticks->work);
  ticks->count.fetch_add(1);
  ticks->inside.store(false);
}

}  // namespace

TEST(DisplayLink, TicksAtMostOncePerRefreshUntilStopped) {
  Ticks ticks;
  DisplayLink* link = displayLinkCreateWithActiveDisplays();
  ASSERT_TRUE(link);
  displayLinkSetOutputCallback(link, onTick, &ticks);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(displayLinkStart(link));
  std::this_thread::sleep_for(500ms);
  displayLinkStop(link);
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int count = ticks.count.load();
  EXPECT_LE(count, int(elapsed * 60) + 1);  // 60 Hz without a context
  EXPECT_GE(count, 5);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(ticks.count.load(), count);  // nothing after stop
  ASSERT_TRUE(displayLinkStart(link));   // a stopped link starts again
  EXPECT_TRUE([&] {
    for (int i = 0; i < 200 && ticks.count.load() == count; ++i) std::this_thread::sleep_for(5ms);
    return ticks.count.load() > count;
  }());
  displayLinkRelease(link);
}

TEST(DisplayLink, StopWaitsForARunningCallbackAndSkipsMissedRefreshes) {
  Ticks ticks;
  ticks.work = 50ms;  // three refreshes long
  DisplayLink* link = displayLinkCreateWithActiveDisplays();
  displayLinkSetOutputCallback(link, onTick, &ticks);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(displayLinkStart(link));
  while (!ticks.inside.load()) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(320ms);
  displayLinkStop(link);
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_FALSE(ticks.inside.load());  // the callback that ran has returned
  int count = ticks.count.load();
  // Refreshes that went by during a callback are not made up afterwards.
  EXPECT_LE(count, int(elapsed / 0.05) + 1);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(ticks.count.load(), count);
  displayLinkRelease(link);
}

TEST(DisplayLink, ReleaseOfARunningLinkStopsIt) {
  Ticks ticks;
  DisplayLink* link = displayLinkCreateWithActiveDisplays();
  displayLinkSetOutputCallback(link, onTick, &ticks);
  ASSERT_TRUE(displayLinkStart(link));
  std::this_thread::sleep_for(40ms);
  displayLinkRelease(link);
  int count = ticks.count.load();
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(ticks.count.load(), count);
}

TEST(TestFailures, NamedFailuresOnlyAndNothingWhenUnset) {
  unsetenv("ORVANEL_TEST_FAIL");
  EXPECT_FALSE(testFailureRequested("display-link"));
  setenv("ORVANEL_TEST_FAIL", "render-context,display-link", 1);
  EXPECT_TRUE(testFailureRequested("render-context"));
  EXPECT_TRUE(testFailureRequested("display-link"));
  setenv("ORVANEL_TEST_FAIL", "display-links,render", 1);
  EXPECT_FALSE(testFailureRequested("display-link"));
  EXPECT_FALSE(testFailureRequested("render-context"));

  setenv("ORVANEL_TEST_FAIL", "display-link", 1);
  DisplayLink* link = displayLinkCreateWithActiveDisplays();
  EXPECT_FALSE(displayLinkStart(link));
  unsetenv("ORVANEL_TEST_FAIL");
  displayLinkRelease(link);  // never started
}
