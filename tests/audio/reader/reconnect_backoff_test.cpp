// The reconnect schedule: at once, then 1, 2, 4 and 5 s apart, one last try on the limit.
#include "audio/reader/reconnect_backoff.h"

#include <vector>

#include <gtest/gtest.h>

namespace djkivo {
namespace {

using namespace std::chrono_literals;
using Clock = ReconnectBackoff::Clock;

// The attempt times, as offsets from the drop, when every attempt fails at once.
std::vector<std::chrono::milliseconds> Attempts(std::chrono::milliseconds limit) {
  const Clock::time_point dropped{};
  ReconnectBackoff backoff(dropped, limit);
  std::vector<std::chrono::milliseconds> times;
  while (auto next = backoff.NextAttempt()) {
    times.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(*next - dropped));
    backoff.Failed(*next);
    if (times.size() > 100)
      break;
  }
  return times;
}

TEST(ReconnectBackoffTest, DoublesFromOneSecondToFiveAndEndsOnTheLimit) {
  using V = std::vector<std::chrono::milliseconds>;
  EXPECT_EQ(Attempts(0ms), V({0ms}));
  EXPECT_EQ(Attempts(500ms), V({0ms, 500ms}));
  EXPECT_EQ(Attempts(10s), V({0ms, 1s, 3s, 7s, 10s}));
  EXPECT_EQ(Attempts(25s), V({0ms, 1s, 3s, 7s, 12s, 17s, 22s, 25s}));
  const V three_minutes = Attempts(3min);
  EXPECT_EQ(three_minutes.back(), 3min);
  for (std::size_t i = 4; i + 1 < three_minutes.size(); ++i)
    EXPECT_EQ(three_minutes[i] - three_minutes[i - 1], 5s) << i;
}

// An attempt that takes long (a connect that times out) is followed after the delay counted
// from its start, so a network that came back is tried again within 5 s.
TEST(ReconnectBackoffTest, TheDelayCountsFromTheFailedAttemptsStart) {
  const Clock::time_point dropped{};
  ReconnectBackoff backoff(dropped, 1min);
  backoff.Failed(dropped);
  backoff.Failed(dropped + 20s);  // started late: a slow attempt, or a retry the user asked for
  EXPECT_EQ(*backoff.NextAttempt(), dropped + 22s);
}

}  // namespace
}  // namespace djkivo
