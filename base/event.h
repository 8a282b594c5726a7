// A waitable event: the auto- or manual-reset signal the threads of the player hand over with.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace djkivo {

/// A signal one thread sets and others wait for, with an optional automatic reset.
///
/// An auto-reset event releases exactly one waiter per `Set` and clears itself as that waiter
/// returns; a manual-reset event stays set, releasing every waiter, until `Reset`.
/// Every method may be called from any thread.
class Event {
 public:
  explicit Event(bool manual_reset, bool initially_set = false)
      : manual_reset_(manual_reset), set_(initially_set) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();

  /// Waits until the event is set or `timeout` has passed; true when it was set.
  /// An auto-reset event is cleared by the wait that sees it set.
  bool WaitFor(std::chrono::milliseconds timeout);

  /// True when the event is set, without waiting or clearing it.
  bool IsSet() const;

 private:
  const bool manual_reset_;
  mutable std::mutex mutex_;
  std::condition_variable cond_;
  bool set_;  // guarded by mutex_
};

}  // namespace djkivo
