// Every thread a playing chain runs carries its name, so `top -H`, `perf` and a debugger tell
// them apart: the output, the dispatcher, the cache's fill, the stream reader and the null
// device's clock, listed from /proc while a song streams over HTTP.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/main_thread.h"
#include "base/thread_name.h"
#include "tests/support/media_peer.h"
#include "tests/support/play_chain.h"
#include "tests/support/test_media.h"
#include "tests/support/thread_tasks.h"

namespace djkivo {
namespace {

using namespace std::chrono_literals;

bool HasAll(const std::vector<std::string>& names, const std::vector<std::string>& wanted) {
  return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  });
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names)
    text += name + " ";
  return text;
}

TEST(ThreadNamesTest, APlayingChainNamesEachOfItsThreads) {
  std::ifstream file(test::TestMediaPath(test::TestMedia::kMp3Cbr128, 20), std::ios::binary);
  std::string body((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(body.empty());
  // The peer stops sending half way and keeps the connection open, so the reader is still
  // waiting on it while the first half plays.
  test::MediaPeer::Script script;
  script.stall_after = static_cast<std::int64_t>(body.size() / 2);
  test::MediaPeer peer(body, script);

  const std::vector<std::string> wanted = {"djk-output", "djk-dispatch", "djk-cachefill",
                                           "djk-reader", "djk-nullclock"};
  QueueMainThread main;
  MainThread::Install(&main);
  std::vector<std::string> names;
  {
    test::PlayChain chain("null");
    chain.stream.SetFileName(peer.Url("song.mp3"));
    chain.out.Run();
    main.PumpUntil(
        [&] {
          names = test::ThreadNames();
          return HasAll(names, wanted) || chain.done > 0;
        },
        20s);
    chain.out.Stop(false);
  }
  MainThread::Install(nullptr);
  EXPECT_TRUE(HasAll(names, wanted)) << "threads seen: " << Joined(names);
}

TEST(ThreadNamesTest, ANameLongerThanTheKernelKeepsIsCutNotRefused) {
  std::string seen;
  std::thread named([&] {
    NameThisThread("djk-a-name-far-too-long");
    seen = ThisThreadName();
  });
  named.join();
  EXPECT_EQ(seen, std::string("djk-a-name-far-too-long").substr(0, kThreadNameLimit));
}

}  // namespace
}  // namespace djkivo
