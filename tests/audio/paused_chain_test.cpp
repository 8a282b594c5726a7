// A paused chain costs nothing: none of its threads wakes on a timer while nothing plays (the
// output parks, the dispatcher waits for a record, the cache's fill waits for room, the null
// device's clock waits for the buffer to play again). Counted by the kernel's context switches.
#include <chrono>
#include <map>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "audio/audio_thread.h"
#include "base/main_thread.h"
#include "tests/support/play_chain.h"
#include "tests/support/test_media.h"
#include "tests/support/thread_tasks.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;

// Long enough that a thread ticking at ten times a second would show about twenty switches.
constexpr auto kQuietSpan = 2s;
// A wait that is not a timer may still end once in the span (the cache's long pause).
constexpr std::uint64_t kMostSwitches = 2;

TEST(PausedChainTest, NoThreadOfAPausedChainWakesOnATimer) {
  QueueMainThread main;
  MainThread::Install(&main);
  std::map<std::string, std::uint64_t> switches;
  {
    test::PlayChain chain("null");
    chain.stream.SetOrigin(AddressOrigin::kUser);
    chain.stream.SetFileName(test::TestMediaPath(test::TestMedia::kMp3Cbr128, 20));
    chain.out.Run();
    ASSERT_TRUE(main.PumpUntil([&] { return chain.out.Progress() > 0 || chain.done > 0; }, 20s));
    ASSERT_EQ(chain.done, 0) << chain.error;
    chain.out.Pause();
    ASSERT_TRUE(main.PumpUntil([&] { return chain.out.Thread().Paused(); }, 20s));
    main.Pump(200ms);  // the last block in flight settles
    const auto before = test::ListThreadTasks();
    std::this_thread::sleep_for(kQuietSpan);
    switches = test::SwitchesBetween(before, test::ListThreadTasks());
    chain.out.Resume();
    chain.out.Stop(false);
    EXPECT_EQ(chain.done, 0) << chain.error;
  }
  MainThread::Install(nullptr);
  for (const char* name : {"djk-output", "djk-dispatch", "djk-cachefill", "djk-nullclock"}) {
    ASSERT_TRUE(switches.count(name)) << name << " is not running";
    EXPECT_LE(switches[name], kMostSwitches) << name << " woke while the chain was paused";
  }
}

}  // namespace
}  // namespace djkivo
