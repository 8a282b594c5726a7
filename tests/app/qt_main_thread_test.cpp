#include "app/qt_main_thread.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/event.h"
#include "tests/app/qt_test_application.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;
using app::ProcessEventsUntil;

class QtMainThreadTest : public testing::Test {
 protected:
  void SetUp() override { app::TestApplication(); }
};

TEST_F(QtMainThreadTest, PostedCallsRunFromQtsLoopInPostingOrder) {
  QtMainThread main;
  std::vector<int> order;
  std::thread poster([&] {
    for (int i = 0; i < 200; ++i)
      main.Post([&order, i] { order.push_back(i); });
  });
  poster.join();
  ASSERT_TRUE(ProcessEventsUntil([&] { return order.size() == 200; }, 5s));
  for (int i = 0; i < 200; ++i)
    ASSERT_EQ(order[i], i);
}

TEST_F(QtMainThreadTest, CallWaitsForTheGuiThreadAndRunsInlineThere) {
  QtMainThread main;
  EXPECT_TRUE(main.IsMainThread());
  std::thread::id ran_on;
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    EXPECT_FALSE(main.IsMainThread());
    EXPECT_TRUE(main.Call([&] { ran_on = std::this_thread::get_id(); }));
    returned = true;
  });
  EXPECT_TRUE(ProcessEventsUntil([&] { return returned.load(); }, 5s));
  caller.join();
  EXPECT_EQ(ran_on, std::this_thread::get_id());

  bool inline_ran = false;
  EXPECT_TRUE(main.Call([&] { inline_ran = true; }));
  EXPECT_TRUE(inline_ran);
}

TEST_F(QtMainThreadTest, RunPendingReleasesACallerWithoutQtsLoop) {
  // The output's synchronous stop waits on the GUI thread and keeps calling RunPending.
  QtMainThread main;
  Event queued(true);
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    queued.Set();
    main.Call([] {});
    returned = true;
  });
  ASSERT_TRUE(queued.WaitFor(5s));
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!returned && std::chrono::steady_clock::now() < deadline) {
    main.RunPending();
    std::this_thread::sleep_for(1ms);
  }
  caller.join();
  EXPECT_TRUE(returned);
}

TEST_F(QtMainThreadTest, CloseReleasesABlockedCallAndRefusesNewOnes) {
  QtMainThread main;
  std::atomic<bool> ran{false};
  Event started(true);
  bool result = true;
  std::thread caller([&] {
    started.Set();
    result = main.Call([&] { ran = true; });
  });
  ASSERT_TRUE(started.WaitFor(5s));
  main.Close();
  caller.join();
  EXPECT_FALSE(result);
  EXPECT_FALSE(ran);
  std::thread late([&] { EXPECT_FALSE(main.Call([&] { ran = true; })); });
  late.join();
  ProcessEventsUntil([] { return false; }, 20ms);
  EXPECT_FALSE(ran);
}

TEST_F(QtMainThreadTest, TimersTickUntilStoppedAndMayStopThemselves) {
  QtMainThread main;
  int ticks = 0;
  MainThread::TimerId id = 0;
  id = main.StartTimer(1ms, [&] {
    if (++ticks == 3)
      main.StopTimer(id);
  });
  EXPECT_TRUE(ProcessEventsUntil([&] { return ticks == 3; }, 5s));
  ProcessEventsUntil([] { return false; }, 30ms);
  EXPECT_EQ(ticks, 3);
  main.StopTimer(id);  // already stopped: ignored
  main.StopTimer(12345);
}

}  // namespace
}  // namespace djkivo
