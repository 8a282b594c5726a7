// The program's main (window) thread as the Qt-free core sees it: a queue of calls and timers.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <thread>

#include "base/call_queue.h"

namespace djkivo {

/// The thread that runs every window handler and every audio and worker event.
///
/// The window binds it to Qt's event loop; the command-line tool and the tests use
/// `QueueMainThread`, a loop they pump themselves. Components that must run code on the main
/// thread (the audio event dispatcher, the worker thread's update timer) reach it through
/// `MainThread::Current()`, which the program installs once before it creates them.
class MainThread {
 public:
  using Task = std::function<void()>;
  using TimerId = std::uint64_t;

  virtual ~MainThread() = default;

  /// Queues `fn` to run on the main thread and returns at once. Any thread. Calls posted from
  /// one thread run in the order they were posted.
  virtual void Post(Task fn) = 0;

  /// Runs `fn` on the main thread and returns once it has run: at once when called on the main
  /// thread, otherwise after the main thread picked it up. Returns false, without running
  /// `fn`, when the main thread's loop has shut down, so a caller never waits for a loop that
  /// is gone. A main thread that waits for the caller must keep calling `RunPending`.
  virtual bool Call(Task fn) = 0;

  /// Runs the calls queued so far (posted or from `Call`). Main thread only; used by waits on
  /// the main thread (an output's synchronous stop) so a thread blocked in `Call` is released.
  virtual void RunPending() = 0;

  /// True on the main thread.
  virtual bool IsMainThread() const = 0;

  /// Calls `fn` on the main thread every `interval` until `StopTimer`. Main thread only.
  virtual TimerId StartTimer(std::chrono::milliseconds interval, Task fn) = 0;
  /// Stops a timer; a timer that is unknown or already stopped is ignored. Main thread only.
  virtual void StopTimer(TimerId id) = 0;

  /// The main thread installed for this process, or nullptr before `Install`.
  static MainThread* Current();
  /// Installs (or, with nullptr, removes) the process's main thread. Call it on the main
  /// thread before creating components that deliver events, and remove it after destroying them.
  static void Install(MainThread* main_thread);
};

/// A main-thread loop pumped by its owner: the command-line tool's main loop and the tests'.
///
/// Constructed on the thread that becomes the main thread. `Close` (or the destructor) shuts
/// the loop down: queued calls are dropped and every thread blocked in `Call` is released.
class QueueMainThread final : public MainThread {
 public:
  QueueMainThread();
  ~QueueMainThread() override;

  void Post(Task fn) override;
  bool Call(Task fn) override;
  void RunPending() override;
  bool IsMainThread() const override;
  TimerId StartTimer(std::chrono::milliseconds interval, Task fn) override;
  void StopTimer(TimerId id) override;

  /// Waits up to `max_wait` for a queued call or a due timer, then runs everything that is
  /// due. Returns how many calls and timer ticks ran. Main thread only.
  int Pump(std::chrono::milliseconds max_wait);

  /// Pumps until `done()` is true or `timeout` has passed; returns `done()`. Main thread only.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  /// Shuts the loop down (see the class comment). Any thread; idempotent.
  void Close();

 private:
  struct Timer {
    std::chrono::milliseconds interval;
    std::chrono::steady_clock::time_point due;
    Task fn;
  };

  int RunDue();

  const std::thread::id main_id_;
  CallQueue queue_;
  // Main thread only.
  std::map<TimerId, Timer> timers_;
  TimerId next_timer_ = 1;
};

}  // namespace djkivo
