// Covers audio/event_handler: posting order, urgent calls first and on the dispatcher thread,
// removal, blocking, one shared dispatcher, and no delivery without a main thread.
#include "audio/event_handler.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_audio_stages.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;

class EventHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override { MainThread::Install(&watched_); }
  void TearDown() override { MainThread::Install(nullptr); }

  // A handler that logs `name` with the thread it ran on.
  TAudioEvent Log(std::string name) {
    return [this, name](TComponent*) {
      std::lock_guard lock(mutex_);
      log_.push_back(name + (main_.IsMainThread() ? "" : "@dispatcher"));
    };
  }
  std::vector<std::string> Logged() {
    std::lock_guard lock(mutex_);
    return log_;
  }

  QueueMainThread main_;
  test::WatchedMainThread watched_{main_};
  std::mutex mutex_;
  std::vector<std::string> log_;  // guarded by mutex_
};

TEST_F(EventHandlerTest, OrderUrgentCallsRemovalAndBlocking) {
  auto events = TEventHandler::Acquire();
  TComponent a, b;
  events->PostEvent(&a, Log("a1"));
  // The dispatcher is now waiting for the main thread with a1; everything below queues.
  ASSERT_TRUE(watched_.WaitForCall(5s));
  events->PostProgress(&a, Log("a2"));
  events->PostEvent(&b, Log("b1"));
  events->PostEvent(&b, Log("b2"));
  events->PostUrgentCall(&b, Log("urgent"));
  events->PostEvent(&a, Log("a3"));
  events->RemoveEvents(&b);  // drops b1 and b2 (and the urgent call of b)
  events->PostUrgentCall(&a, Log("urgent"));
  events->BlockEvents(&a);
  events->PostEvent(&a, Log("blocked"));
  events->UnblockEvents(&a);
  events->PostEvent(&a, Log("a4"));
  ASSERT_TRUE(main_.PumpUntil([&] { return Logged().size() == 5; }, 5s));
  main_.PumpUntil([] { return false; }, 30ms);
  EXPECT_EQ(Logged(), (std::vector<std::string>{"a1", "urgent@dispatcher", "a2", "a3", "a4"}));
}

TEST_F(EventHandlerTest, ABlockedSendersEventOnItsWayIsNotRun) {
  auto events = TEventHandler::Acquire();
  TComponent a;
  events->PostEvent(&a, Log("late"));
  ASSERT_TRUE(watched_.WaitForCall(5s));
  events->BlockEvents(&a);
  EXPECT_FALSE(events->Idle(&a)) << "the record is in hand, its handler not started";
  main_.PumpUntil([&] { return events->Idle(&a); }, 5s);
  EXPECT_TRUE(Logged().empty());
  events->UnblockEvents(&a);
}

TEST_F(EventHandlerTest, OneDispatcherWhileReferencesLast) {
  auto first = TEventHandler::Acquire();
  auto second = TEventHandler::Acquire();
  EXPECT_EQ(first.get(), second.get());
  first.reset();
  second.reset();  // the dispatcher ends here
  auto fresh = TEventHandler::Acquire();
  TComponent a;
  fresh->PostEvent(&a, Log("x"));
  EXPECT_TRUE(main_.PumpUntil([&] { return Logged().size() == 1; }, 5s));
}

TEST_F(EventHandlerTest, EventsAreDroppedWithoutAMainThread) {
  MainThread::Install(nullptr);
  auto events = TEventHandler::Acquire();
  TComponent a;
  events->PostEvent(&a, Log("nowhere"));
  events->PostUrgentCall(&a, Log("urgent"));
  ASSERT_TRUE(main_.PumpUntil([&] { return Logged().size() == 1; }, 5s));
  main_.PumpUntil([] { return false; }, 30ms);
  EXPECT_EQ(Logged(), std::vector<std::string>{"urgent@dispatcher"})
      << "nothing falls back to running on the dispatcher thread";
}

}  // namespace
}  // namespace djkivo
