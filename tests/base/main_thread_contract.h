// What every `MainThread` must do, as one set of cases that each implementation instantiates
// with a loop binding: `QueueMainThread` in tests/base/main_thread_test.cpp and `QtMainThread` in
// tests/app/qt_main_thread_test.cpp. A binding is a type with
//   using Thread = ...;                     the implementation, made on the test's thread
//   static void Prepare();                  what the process needs first (Qt's application)
//   static bool PumpUntil(Thread&, const std::function<bool()>& done,
//                         std::chrono::milliseconds timeout);   runs the loop until done()
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/event.h"
#include "base/main_thread.h"

namespace djkivo {

template <typename Binding>
class MainThreadContractTest : public ::testing::Test {
 protected:
  using Thread = typename Binding::Thread;

  void SetUp() override {
    Binding::Prepare();
    main_ = std::make_unique<Thread>();
  }

  Thread& main() { return *main_; }
  bool PumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return Binding::PumpUntil(*main_, done, timeout);
  }
  // Runs the loop for `time` with nothing to wait for.
  void PumpFor(std::chrono::milliseconds time) {
    Binding::PumpUntil(
        *main_, [] { return false; }, time);
  }

  std::unique_ptr<Thread> main_;
};

TYPED_TEST_SUITE_P(MainThreadContractTest);

TYPED_TEST_P(MainThreadContractTest, PostedCallsRunInPostingOrderPerThread) {
  constexpr int kThreads = 3;
  constexpr int kCalls = 200;
  std::vector<std::vector<int>> order(kThreads);
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([this, &order, t] {
      for (int i = 0; i < kCalls; ++i)
        this->main().Post([&order, t, i] { order[t].push_back(i); });
    });
  for (std::thread& poster : posters)
    poster.join();
  ASSERT_TRUE(this->PumpUntil([&] {
    for (const auto& calls : order)
      if (calls.size() < kCalls)
        return false;
    return true;
  }));
  for (const auto& calls : order)
    for (int i = 0; i < kCalls; ++i)
      ASSERT_EQ(calls[i], i);
}

TYPED_TEST_P(MainThreadContractTest, ACallPostedByARunningCallRunsAfterIt) {
  std::vector<int> order;
  this->main().Post([&] {
    this->main().Post([&] { order.push_back(2); });
    order.push_back(1);
  });
  ASSERT_TRUE(this->PumpUntil([&] { return order.size() == 2; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TYPED_TEST_P(MainThreadContractTest, CallWaitsForTheMainThreadAndRunsInlineThere) {
  EXPECT_TRUE(this->main().IsMainThread());
  std::thread::id ran_on;
  std::atomic<bool> returned{false};
  std::atomic<bool> caller_is_main{true};
  std::thread caller([&] {
    caller_is_main = this->main().IsMainThread();
    EXPECT_TRUE(this->main().Call([&] { ran_on = std::this_thread::get_id(); }));
    returned = true;
  });
  EXPECT_TRUE(this->PumpUntil([&] { return returned.load(); }));
  caller.join();
  EXPECT_FALSE(caller_is_main);
  EXPECT_EQ(ran_on, std::this_thread::get_id());

  // On the main thread, also inside a posted call, Call runs at once.
  bool inline_ran = false;
  EXPECT_TRUE(this->main().Call([&] { inline_ran = true; }));
  EXPECT_TRUE(inline_ran);
  bool nested_ran_first = false;
  bool posted_done = false;
  this->main().Post([&] {
    bool nested = false;
    this->main().Call([&] { nested = true; });
    nested_ran_first = nested;
    posted_done = true;
  });
  ASSERT_TRUE(this->PumpUntil([&] { return posted_done; }));
  EXPECT_TRUE(nested_ran_first);
}

// The output's synchronous stop waits on the main thread and keeps calling RunPending.
TYPED_TEST_P(MainThreadContractTest, RunPendingReleasesACallerWithoutTheLoop) {
  Event queued(true);
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    queued.Set();
    this->main().Call([] {});
    returned = true;
  });
  ASSERT_TRUE(queued.WaitFor(std::chrono::seconds(5)));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!returned && std::chrono::steady_clock::now() < deadline) {
    this->main().RunPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  caller.join();
  EXPECT_TRUE(returned);
}

// Either order of the blocked call and the close must end the wait, without running the call;
// calls after the close are refused, and posted ones are dropped.
TYPED_TEST_P(MainThreadContractTest, CloseReleasesABlockedCallAndRefusesNewOnes) {
  std::atomic<bool> ran{false};
  Event started(true);
  bool result = true;
  std::thread caller([&] {
    started.Set();
    result = this->main().Call([&] { ran = true; });
  });
  ASSERT_TRUE(started.WaitFor(std::chrono::seconds(5)));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  this->main().Close();
  caller.join();
  EXPECT_FALSE(result);
  bool late_result = true;
  std::thread late([&] { late_result = this->main().Call([&] { ran = true; }); });
  late.join();
  EXPECT_FALSE(late_result);
  this->main().Post([&] { ran = true; });
  this->PumpFor(std::chrono::milliseconds(20));
  EXPECT_FALSE(ran);
}

TYPED_TEST_P(MainThreadContractTest, TimersTickUntilStoppedAndMayStopThemselves) {
  int ticks = 0;
  int other_ticks = 0;
  MainThread::TimerId id = 0;
  id = this->main().StartTimer(std::chrono::milliseconds(1), [&] {
    if (++ticks == 3)
      this->main().StopTimer(id);
  });
  const MainThread::TimerId other =
      this->main().StartTimer(std::chrono::milliseconds(1), [&] { ++other_ticks; });
  EXPECT_NE(id, other);
  EXPECT_TRUE(this->PumpUntil([&] { return ticks == 3 && other_ticks >= 3; }));
  this->main().StopTimer(other);
  const int other_stopped_at = other_ticks;
  this->PumpFor(std::chrono::milliseconds(30));
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(other_ticks, other_stopped_at);
  this->main().StopTimer(id);  // already stopped: ignored
  this->main().StopTimer(12345);
}

REGISTER_TYPED_TEST_SUITE_P(MainThreadContractTest, PostedCallsRunInPostingOrderPerThread,
                            ACallPostedByARunningCallRunsAfterIt,
                            CallWaitsForTheMainThreadAndRunsInlineThere,
                            RunPendingReleasesACallerWithoutTheLoop,
                            CloseReleasesABlockedCallAndRefusesNewOnes,
                            TimersTickUntilStoppedAndMayStopThemselves);

}  // namespace djkivo
