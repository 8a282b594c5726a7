// A name lookup that never answers (a network that drops DNS packets): nothing in the player
// may wait for it. The system's resolver is replaced in this test program by one that hangs
// for a name of its own (every other name goes to the real one), since the lookup cannot be
// interrupted, only left behind.
#include <dlfcn.h>
#include <netdb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "audio/media_stream_in.h"
#include "base/main_thread.h"
#include "tests/support/play_chain.h"
#include "tests/support/poll.h"
#include "tests/support/test_audio_stages.h"
#include "tests/support/test_media.h"

namespace {

constexpr const char* kHangingName = "resolver-hangs.test";

// The hanging lookups: they wait until the test lets them go.
std::mutex hang_mutex;
std::condition_variable hang_changed;
bool hang_released = false;       // guarded by hang_mutex
std::atomic<int> hanging_now{0};  // lookups inside the hang

}  // namespace

// Replaces the C library's lookup for this program: the dynamic linker finds the program's own
// definition first, for FFmpeg's calls too.
extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** result) {
  using Lookup = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
  static const auto real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
  if (node != nullptr && std::string(node) == kHangingName) {
    ++hanging_now;
    std::unique_lock lock(hang_mutex);
    hang_changed.wait(lock, [] { return hang_released; });
    --hanging_now;
    return EAI_AGAIN;
  }
  return real(node, service, hints, result);
}

namespace djkivo {
namespace {

using namespace std::chrono_literals;

class StuckResolverTest : public ::testing::Test {
 protected:
  StuckResolverTest() {
    {
      std::lock_guard lock(hang_mutex);
      hang_released = false;
    }
    MainThread::Install(&main_);
    // A player that does wait for the lookup is caught by the time bounds below rather than
    // hanging the test: the lookups give up after this long.
    watchdog_ = std::thread([] {
      std::unique_lock lock(hang_mutex);
      hang_changed.wait_for(lock, kLookupGivesUp, [] { return hang_released; });
      hang_released = true;
      hang_changed.notify_all();
    });
  }
  ~StuckResolverTest() override {
    // Let the abandoned lookups return, and their threads end, before the program does.
    {
      std::lock_guard lock(hang_mutex);
      hang_released = true;
    }
    hang_changed.notify_all();
    watchdog_.join();
    test::PollUntil([] { return hanging_now.load() == 0; }, 10s);
    std::this_thread::sleep_for(200ms);
    MainThread::Install(nullptr);
  }

  static constexpr auto kLookupGivesUp = 15s;
  QueueMainThread main_;
  std::thread watchdog_;
};

// The open gives up after MaxWait, and neither it nor the close waits for the lookup.
TEST_F(StuckResolverTest, AnOpenStuckInTheLookupEndsAtItsLimit) {
  TMediaStreamIn input;
  input.SetFileName(std::string("http://") + kHangingName + "/song.mp3");
  input.SetMaxWaitMilliseconds(500);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(test::OpenMessage(input), "");
  input.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
  EXPECT_GE(hanging_now.load(), 1) << "the lookup is still stuck, and nobody waited for it";
}

// The next song while the last one hangs in its lookup: the stop returns at once, and the next
// run plays (no "Component is Busy").
TEST_F(StuckResolverTest, TheNextSongPlaysWhileTheLastOneIsStuckInItsLookup) {
  test::PlayChain chain("null");
  chain.stream.SetFileName(std::string("http://") + kHangingName + "/song.mp3");
  chain.out.Run();
  ASSERT_TRUE(test::PollUntil([] { return hanging_now.load() > 0; }, 10s));
  const auto before = std::chrono::steady_clock::now();
  chain.out.Stop(false);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
  chain.stream.SetOrigin(AddressOrigin::kUser);
  chain.stream.SetFileName(test::TestMediaPath(test::TestMedia::kWav16Mono));
  chain.out.Run();
  EXPECT_TRUE(main_.PumpUntil([&] { return chain.analyser.Position() > 0; }, 10s));
  chain.out.Stop(false);
  EXPECT_EQ(chain.error, "");
}

}  // namespace
}  // namespace djkivo
