#include "desktop/worker_thread.h"

#include <atomic>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/event.h"
#include "base/thread_name.h"
#include "desktop/worker_thread_group.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;

class WorkerThreadTest : public ::testing::Test {
 protected:
  WorkerThreadTest() { MainThread::Install(&main_); }
  ~WorkerThreadTest() override { MainThread::Install(nullptr); }

  bool PumpUntil(const std::function<bool()>& done) { return main_.PumpUntil(done, 10s); }

  QueueMainThread main_;
};

TEST_F(WorkerThreadTest, RunsExecuteOnWorkerThenTerminateOnMainWithData) {
  TWorkerThread worker;
  std::vector<std::string> events;
  std::thread::id execute_thread;
  std::string execute_thread_name;
  int payload = 7;
  int replaced = 8;
  worker.OnStart = [&](TWorkerThreadBase* sender, TWorkerExecuteThread&, void*& data) {
    EXPECT_EQ(sender, &worker);
    EXPECT_EQ(data, &payload);
    events.push_back("start");
  };
  worker.OnExecute = [&](TWorkerThreadBase*, TWorkerExecuteThread&, void*& data) {
    execute_thread = std::this_thread::get_id();
    execute_thread_name = ThisThreadName();
    EXPECT_EQ(data, &payload);
    data = &replaced;
  };
  worker.OnTerminate = [&](TWorkerThreadBase*, TWorkerExecuteThread&, void*& data) {
    EXPECT_TRUE(main_.IsMainThread());
    EXPECT_EQ(data, &replaced);
    events.push_back("terminate");
  };
  worker.Start(&payload);
  worker.Start(&payload);  // a second start while running does nothing
  EXPECT_TRUE(worker.IsRunning());
  ASSERT_TRUE(PumpUntil([&] { return !worker.IsRunning(); }));
  EXPECT_NE(execute_thread, std::this_thread::get_id());
  EXPECT_EQ(execute_thread_name, "djk-worker");
  EXPECT_EQ(events, (std::vector<std::string>{"start", "terminate"}));

  worker.Start(&payload);  // it can run again
  ASSERT_TRUE(PumpUntil([&] { return !worker.IsRunning(); }));
  EXPECT_EQ(events.size(), 4u);
}

TEST_F(WorkerThreadTest, UnassignedOrThrowingExecuteStillEndsWithTerminate) {
  TWorkerThread worker;
  int terminated = 0;
  worker.OnTerminate = [&](TWorkerThreadBase*, TWorkerExecuteThread&, void*&) { ++terminated; };
  worker.Start();
  ASSERT_TRUE(PumpUntil([&] { return terminated == 1; }));
  worker.OnExecute = [](TWorkerThreadBase*, TWorkerExecuteThread&, void*&) {
    throw std::runtime_error("version file unreadable");
  };
  worker.Start();
  ASSERT_TRUE(PumpUntil([&] { return terminated == 2; }));
  EXPECT_FALSE(worker.IsRunning());
}

// A start handler that throws stops the start: the caller gets the exception (the window shows
// it in its error box), the worker never runs, its group hears it end again, and the component
// can be started again and destroyed at once. It used to keep a worker that never ran, counted
// as running for ever, and ended the program when destroyed.
TEST_F(WorkerThreadTest, AThrowingStartHandlerLeavesTheComponentIdle) {
  TWorkerThreadGroup group;
  int group_starts = 0;
  int group_ends = 0;
  group.OnStart = [&](TWorkerThreadBase*, TWorkerExecuteThread&, void*&) { ++group_starts; };
  group.OnTerminate = [&](TWorkerThreadBase*, TWorkerExecuteThread&, void*&) { ++group_ends; };
  const auto refuse = [](TWorkerThreadBase*, TWorkerExecuteThread&, void*&) {
    throw std::runtime_error("start refused");
  };
  std::atomic<int> executed{0};
  int terminated = 0;
  const auto started = std::chrono::steady_clock::now();
  {
    TWorkerThread worker;
    worker.SetThreadGroup(&group);
    worker.OnExecute = [&](TWorkerThreadBase*, TWorkerExecuteThread&, void*&) { ++executed; };
    worker.OnTerminate = [&](TWorkerThreadBase*, TWorkerExecuteThread&, void*&) { ++terminated; };
    worker.OnStart = refuse;
    EXPECT_THROW(worker.Start(), std::runtime_error);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(group.IsRunning());
    EXPECT_EQ(group_starts, 1);
    EXPECT_EQ(group_ends, 1);

    worker.OnStart = nullptr;
    worker.Start();
    ASSERT_TRUE(PumpUntil([&] { return terminated == 1; }));
    EXPECT_EQ(executed, 1);

    worker.OnStart = refuse;
    EXPECT_THROW(worker.Start(), std::runtime_error);
  }
  EXPECT_EQ(executed, 1);
  EXPECT_EQ(terminated, 1);
  EXPECT_EQ(group_starts, 3);
  EXPECT_EQ(group_ends, 3);
  // Nothing was left to wait for (the destructor waits up to 5 s for a running worker).
  EXPECT_LT(std::chrono::steady_clock::now() - started, TWorkerThread::kDestroyWaitLimit);
}

TEST_F(WorkerThreadTest, UpdatesTickOnlyWhileRunningAndOnlyWhenEnabled) {
  TWorkerThread worker;
  Event release(true);
  std::atomic<int> updates{0};
  int last_percent = -1;
  worker.OnExecute = [&](TWorkerThreadBase*, TWorkerExecuteThread& thread, void*&) {
    thread.SetPercent(42);
    release.WaitFor(10s);
  };
  worker.OnUpdate = [&](TWorkerThreadBase*, TWorkerExecuteThread&, void*&, int percent) {
    ++updates;
    last_percent = percent;
  };
  worker.SetRefreshInterval(5);
  worker.Start();  // UpdateEnabled is off: the program's setting
  main_.PumpUntil([] { return false; }, 50ms);
  EXPECT_EQ(updates, 0);

  worker.SetUpdateEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return updates >= 3; }));
  EXPECT_EQ(last_percent, 42);
  release.Set();
  ASSERT_TRUE(PumpUntil([&] { return !worker.IsRunning(); }));
  int after_end = updates;
  main_.PumpUntil([] { return false; }, 50ms);
  EXPECT_EQ(updates, after_end);
}

TEST_F(WorkerThreadTest, StopSetsTerminatedAndReleasesASuspendedWorker) {
  TWorkerThread worker;
  Event inside(true);
  std::atomic<bool> saw_terminated{false};
  worker.OnExecute = [&](TWorkerThreadBase*, TWorkerExecuteThread& thread, void*&) {
    inside.Set();
    while (!thread.Terminated())
      thread.CheckSuspended();
    saw_terminated = true;
  };
  worker.Start();
  ASSERT_TRUE(inside.WaitFor(10s));
  worker.Suspend();
  worker.Stop();
  ASSERT_TRUE(PumpUntil([&] { return !worker.IsRunning(); }));
  EXPECT_TRUE(saw_terminated);
  worker.Stop();  // without a worker: no effect
  worker.Suspend();
  worker.Resume();
}

TEST_F(WorkerThreadTest, DestroyWhileRunningWaitsForTheWorkerWithoutTerminateEvent) {
  int terminated = 0;
  std::atomic<bool> finished{false};
  {
    TWorkerThread worker;
    Event inside(true);
    worker.OnExecute = [&](TWorkerThreadBase*, TWorkerExecuteThread& thread, void*&) {
      inside.Set();
      while (!thread.Terminated())
        std::this_thread::sleep_for(1ms);
      std::this_thread::sleep_for(20ms);
      finished = true;
    };
    worker.OnTerminate = [&](TWorkerThreadBase*, TWorkerExecuteThread&, void*&) { ++terminated; };
    worker.Start();
    ASSERT_TRUE(inside.WaitFor(10s));
  }
  EXPECT_TRUE(finished);
  main_.PumpUntil([] { return false; }, 20ms);
  EXPECT_EQ(terminated, 0);
}

TEST_F(WorkerThreadTest, GroupEventsFollowFirstStartLastEndAndUpdatePriority) {
  TWorkerThreadGroup group;
  TWorkerThread low;
  TWorkerThread high;
  low.UpdatePriority = 1;
  high.UpdatePriority = 2;
  Event release(true);
  for (TWorkerThread* t : {&low, &high}) {
    t->OnExecute = [&](TWorkerThreadBase*, TWorkerExecuteThread&, void*&) { release.WaitFor(10s); };
    t->SetRefreshInterval(5);
    t->SetUpdateEnabled(true);
    t->SetThreadGroup(&group);
  }
  std::vector<TWorkerThreadBase*> group_starts, group_ends, thread_starts, group_updates;
  std::set<TWorkerThreadBase*> thread_updates;
  group.OnStart = [&](TWorkerThreadBase* t, TWorkerExecuteThread&, void*&) {
    group_starts.push_back(t);
  };
  group.OnTerminate = [&](TWorkerThreadBase* t, TWorkerExecuteThread&, void*&) {
    group_ends.push_back(t);
  };
  group.OnThreadStart = [&](TWorkerThreadBase* t, TWorkerExecuteThread&, void*&) {
    thread_starts.push_back(t);
  };
  group.OnUpdate = [&](TWorkerThreadBase* t, TWorkerExecuteThread&, void*&, int) {
    group_updates.push_back(t);
  };
  group.OnThreadUpdate = [&](TWorkerThreadBase* t, TWorkerExecuteThread&, void*&, int) {
    thread_updates.insert(t);
  };

  group.Start();
  EXPECT_EQ(group.RunningCount(), 2);
  EXPECT_EQ(group_starts, (std::vector<TWorkerThreadBase*>{&low}));
  EXPECT_EQ(thread_starts, (std::vector<TWorkerThreadBase*>{&low, &high}));
  ASSERT_TRUE(PumpUntil([&] { return thread_updates.size() == 2 && group_updates.size() >= 4; }));
  for (TWorkerThreadBase* t : group_updates)
    EXPECT_EQ(t, &high);

  release.Set();
  ASSERT_TRUE(PumpUntil([&] { return !group.IsRunning(); }));
  ASSERT_EQ(group_ends.size(), 1u);
}

TEST_F(WorkerThreadTest, GroupMembershipRefusesCyclesAndCountsRunningJoiners) {
  TWorkerThreadGroup outer;
  TWorkerThreadGroup inner;
  inner.SetThreadGroup(&outer);
  outer.SetThreadGroup(&inner);  // would make a cycle
  EXPECT_EQ(outer.ThreadGroup(), nullptr);
  inner.SetThreadGroup(&inner);
  EXPECT_EQ(inner.ThreadGroup(), nullptr);
  inner.SetThreadGroup(&outer);

  TWorkerThread worker;
  Event release(true);
  worker.OnExecute = [&](TWorkerThreadBase*, TWorkerExecuteThread&, void*&) {
    release.WaitFor(10s);
  };
  worker.Start();
  worker.SetThreadGroup(&inner);  // joining while running counts it in the whole chain
  EXPECT_EQ(inner.RunningCount(), 1);
  EXPECT_EQ(outer.RunningCount(), 1);
  worker.SetThreadGroup(nullptr);
  EXPECT_EQ(outer.RunningCount(), 0);
  worker.SetThreadGroup(&inner);
  release.Set();
  ASSERT_TRUE(PumpUntil([&] { return !outer.IsRunning(); }));
  EXPECT_EQ(inner.RunningCount(), 0);
}

}  // namespace
}  // namespace djkivo
