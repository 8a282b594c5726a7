#include "base/main_thread.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/event.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;

TEST(QueueMainThreadTest, PostedCallsRunOnPumpInOrder) {
  QueueMainThread main;
  std::vector<int> order;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i)
      main.Post([&order, i] { order.push_back(i); });
  });
  poster.join();
  EXPECT_TRUE(main.PumpUntil([&] { return order.size() == 100; }, 5s));
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(order[i], i);
}

TEST(QueueMainThreadTest, CallBlocksUntilRunOnMainThreadAndRunsInlineThere) {
  QueueMainThread main;
  std::thread::id ran_on;
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    EXPECT_TRUE(main.Call([&] { ran_on = std::this_thread::get_id(); }));
    returned = true;
  });
  EXPECT_TRUE(main.PumpUntil([&] { return returned.load(); }, 5s));
  caller.join();
  EXPECT_EQ(ran_on, std::this_thread::get_id());

  bool inline_ran = false;
  EXPECT_TRUE(main.Call([&] { inline_ran = true; }));
  EXPECT_TRUE(inline_ran);
}

TEST(QueueMainThreadTest, CloseReleasesABlockedCallWithoutRunningIt) {
  QueueMainThread main;
  std::atomic<bool> ran{false};
  Event started(true);
  bool result = true;
  std::thread caller([&] {
    started.Set();
    result = main.Call([&] { ran = true; });
  });
  ASSERT_TRUE(started.WaitFor(5s));
  std::this_thread::sleep_for(20ms);  // let the call queue up; either order must end the wait
  main.Close();
  caller.join();
  EXPECT_FALSE(result);
  EXPECT_FALSE(ran);
}

TEST(QueueMainThreadTest, TimersTickUntilStoppedAndMayStopThemselves) {
  QueueMainThread main;
  int ticks = 0;
  MainThread::TimerId id = 0;
  id = main.StartTimer(1ms, [&] {
    if (++ticks == 3)
      main.StopTimer(id);
  });
  EXPECT_TRUE(main.PumpUntil([&] { return ticks == 3; }, 5s));
  main.PumpUntil([] { return false; }, 30ms);
  EXPECT_EQ(ticks, 3);
}

TEST(EventTest, AutoResetReleasesOneWaitPerSetAndManualStaysSet) {
  Event automatic(false);
  EXPECT_FALSE(automatic.WaitFor(1ms));
  automatic.Set();
  EXPECT_TRUE(automatic.WaitFor(0ms));
  EXPECT_FALSE(automatic.WaitFor(0ms));

  Event manual(true);
  manual.Set();
  EXPECT_TRUE(manual.WaitFor(0ms));
  EXPECT_TRUE(manual.WaitFor(0ms));
  manual.Reset();
  EXPECT_FALSE(manual.IsSet());
}

TEST(EventTest, WaitReturnsWhenAnotherThreadSets) {
  Event event(false);
  std::thread setter([&] {
    std::this_thread::sleep_for(10ms);
    event.Set();
  });
  EXPECT_TRUE(event.WaitFor(10s));
  setter.join();
}

}  // namespace
}  // namespace djkivo
