#include "app/load_waiter.h"

#include <atomic>
#include <thread>

#include <QTimer>

#include <gtest/gtest.h>

#include "base/event.h"
#include "tests/app/qt_test_application.h"

namespace djkivo::app {
namespace {

using namespace std::chrono_literals;

class QtLoadWaiterTest : public testing::Test {
 protected:
  void SetUp() override { TestApplication(); }
};

TEST_F(QtLoadWaiterTest, TheWindowKeepsHandlingEventsWhileALoadWaits) {
  int quit_calls = 0;
  QtLoadWaiter waiter([&] { ++quit_calls; });
  Event release(true);
  std::thread::id load_thread;
  int ticks_during_load = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (++ticks_during_load == 3)
      release.Set();  // the load ends only once the GUI thread has handled three ticks
  });
  ticker.start(1);
  waiter.Run([&] {
    load_thread = std::this_thread::get_id();
    release.WaitFor(10s);
  });
  ticker.stop();
  EXPECT_GE(ticks_during_load, 3);
  EXPECT_NE(load_thread, std::this_thread::get_id());
  EXPECT_EQ(waiter.ActiveLoads(), 0);
  EXPECT_EQ(quit_calls, 0);
}

TEST_F(QtLoadWaiterTest, AnotherLoadMayStartAndEndInsideAWait) {
  QtLoadWaiter waiter([] {});
  Event outer_release(true);
  std::atomic<bool> inner_done{false};
  int depth_seen = 0;
  QTimer::singleShot(0, [&] {
    depth_seen = waiter.ActiveLoads();
    waiter.Run([&] { inner_done = true; });
    outer_release.Set();
  });
  waiter.Run([&] { outer_release.WaitFor(10s); });
  EXPECT_TRUE(inner_done);
  EXPECT_EQ(depth_seen, 1);
}

TEST_F(QtLoadWaiterTest, OffTheGuiThreadALoadRunsInline) {
  QtLoadWaiter waiter([] {});
  std::thread other([&] {
    std::thread::id ran_on;
    waiter.Run([&] { ran_on = std::this_thread::get_id(); });
    EXPECT_EQ(ran_on, std::this_thread::get_id());
  });
  other.join();
}

TEST_F(QtLoadWaiterTest, QuittingDuringALoadCallsTheHookAtOnce) {
  Event release(true);
  std::chrono::steady_clock::time_point hook_time{};
  QtLoadWaiter waiter([&] {
    hook_time = std::chrono::steady_clock::now();
    release.Set();  // the program ends here; the test lets the load end instead
  });
  QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  auto start = std::chrono::steady_clock::now();
  waiter.Run([&] { release.WaitFor(30s); });
  ClearApplicationQuit();
  ASSERT_NE(hook_time, std::chrono::steady_clock::time_point{});
  EXPECT_LT(hook_time - start, 5s);
}

}  // namespace
}  // namespace djkivo::app
