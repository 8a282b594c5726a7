// The queue of calls to the main thread that every main-thread loop shares.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace djkivo {

/// Calls waiting for the main thread: queued from any thread, taken in batches by the loop.
///
/// A loop (`QueueMainThread`, the window's `QtMainThread`) runs what `TakeAll` returns, in
/// order. `Close` drops what is queued and releases every thread blocked in `PushAndWait`, so a
/// thread never waits for a loop that is gone. Every method may be called from any thread,
/// except that `PushAndWait` must not be called by the loop's own thread.
class CallQueue {
 public:
  using Task = std::function<void()>;

  /// Queues `fn`. False, and `fn` dropped, when the queue is closed. `*needs_wake` (when given)
  /// is set when this is the first call queued since the last `TakeAll`: the loop has to be
  /// woken for it.
  bool Push(Task fn, bool* needs_wake = nullptr);

  /// Queues `fn` and waits until the loop has run it (true) or the queue closed first (false).
  /// `on_queued(needs_wake)` runs once the call is queued, to wake the loop.
  bool PushAndWait(Task fn, const std::function<void(bool needs_wake)>& on_queued);

  /// Takes every queued call, oldest first.
  std::deque<Task> TakeAll();

  /// Waits until a call is queued, the queue is closed, or `deadline` passes.
  void WaitUntil(std::chrono::steady_clock::time_point deadline);

  /// Drops the queued calls (outside the lock: their captures may do anything) and releases
  /// every waiter. Idempotent.
  void Close();

 private:
  std::mutex mutex_;
  std::condition_variable work_;       // a call was queued or the queue closed
  std::condition_variable call_done_;  // a PushAndWait call ran or the queue closed
  std::deque<Task> queue_;             // guarded by mutex_
  bool taken_since_push_ = true;       // guarded by mutex_: no call queued since the last TakeAll
  bool closed_ = false;                // guarded by mutex_
};

}  // namespace djkivo
