#include "base/main_thread.h"

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/event.h"
#include "tests/base/main_thread_contract.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;

struct QueueLoop {
  using Thread = QueueMainThread;
  static void Prepare() {}
  static bool PumpUntil(QueueMainThread& main, const std::function<bool()>& done,
                        std::chrono::milliseconds timeout) {
    return main.PumpUntil(done, timeout);
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Queue, MainThreadContractTest, QueueLoop);

TEST(QueueMainThreadTest, PumpRunsDueCallsAndTicksAndSaysHowMany) {
  QueueMainThread main;
  main.Post([] {});
  main.Post([] {});
  EXPECT_EQ(main.Pump(0ms), 2);
  EXPECT_EQ(main.Pump(0ms), 0);
  int ticks = 0;
  main.StartTimer(1ms, [&] { ++ticks; });
  EXPECT_EQ(main.Pump(1s), 1);  // returns at the timer's tick, long before the second
  EXPECT_EQ(ticks, 1);
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
