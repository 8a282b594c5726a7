// Waiting in a test for a condition that nothing signals: ask it again every few milliseconds
// until it holds or the time is up.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace djkivo::test {

/// Calls `done` every `step` until it returns true (then true) or `timeout` has passed (then
/// false).
inline bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                      std::chrono::milliseconds step = std::chrono::milliseconds(1)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(step);
  }
  return true;
}

}  // namespace djkivo::test
