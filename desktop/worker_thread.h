// TWorkerThread: runs a handler on a fresh worker thread per start and reports the worker's
// start, progress and end as events on the main thread. The window uses one for its once-per-run
// version check.
//
// Threads: every method is called on the main thread (`MainThread::Current()`, which must be
// installed before a TWorkerThread is created), except the TWorkerExecuteThread methods a running
// `OnExecute` calls on the worker thread. `OnStart` runs on the thread that calls `Start`;
// `OnUpdate` and `OnTerminate` run on the main thread; `OnExecute` runs on the worker thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "base/main_thread.h"

namespace djkivo {

class TWorkerExecuteThread;
class TWorkerThreadBase;
class TWorkerThreadGroup;

/// (Sender, Thread, Data): Data is passed by reference so a handler can replace it.
using TWorkerDataNotifyEvent =
    std::function<void(TWorkerThreadBase* sender, TWorkerExecuteThread& thread, void*& data)>;
/// (Sender, Thread, Data, Percent).
using TWorkerUpdateNotifyEvent = std::function<void(
    TWorkerThreadBase* sender, TWorkerExecuteThread& thread, void*& data, int percent)>;

/// Scheduling priority of a worker. On Linux it maps to the thread's nice value; raising a
/// thread above normal needs privileges, and without them the worker stays at normal.
enum class TThreadPriority {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

/// What a TWorkerThread and a TWorkerThreadGroup share: the three events, membership of a
/// group, and the start/stop operations (a group applies them to its direct members in order).
class TWorkerThreadBase {
 public:
  TWorkerThreadBase() = default;
  TWorkerThreadBase(const TWorkerThreadBase&) = delete;
  TWorkerThreadBase& operator=(const TWorkerThreadBase&) = delete;
  virtual ~TWorkerThreadBase() = default;

  TWorkerUpdateNotifyEvent OnUpdate;   ///< progress report (main thread)
  TWorkerDataNotifyEvent OnStart;      ///< a worker started
  TWorkerDataNotifyEvent OnTerminate;  ///< a worker has ended (main thread)

  /// Precedence of this item's progress reports inside its group: a group's `OnUpdate` hears
  /// only the running members of the highest `UpdatePriority`.
  int UpdatePriority = 0;

  TWorkerThreadGroup* ThreadGroup() const { return thread_group_; }
  /// Leaves the old group and joins `group` (nullptr: none). Joining a group that is this item
  /// itself or one of its parents is refused silently, leaving no group set.
  void SetThreadGroup(TWorkerThreadGroup* group);

  virtual bool IsRunning() const = 0;
  void Start() { Start(nullptr); }
  virtual void Start(void* data) = 0;
  virtual void Stop() = 0;
  virtual void Suspend() = 0;
  virtual void Resume() = 0;

 protected:
  friend class TWorkerThreadGroup;
  /// Sends a started (terminated) notification to `group` for every running worker of this
  /// item: a thread for itself, a group for each direct member.
  virtual void SendStarted(TWorkerThreadGroup& group) = 0;
  virtual void SendTerminated(TWorkerThreadGroup& group) = 0;

  /// Leaves the current group, if any; for destructors of derived classes.
  void LeaveGroup() { SetThreadGroup(nullptr); }

 private:
  TWorkerThreadGroup* thread_group_ = nullptr;
};

/// One run of a TWorkerThread: the worker thread and what it shares with the main thread.
///
/// POSIX threads cannot be suspended from outside, so `Suspend` is cooperative: it closes a
/// gate that the worker passes by calling `CheckSuspended` at points where pausing is safe.
/// `Stop` (the terminated flag) opens the gate again so a suspended worker can end.
class TWorkerExecuteThread {
 public:
  ~TWorkerExecuteThread();

  /// The start argument, passed by reference to every event. Written by the worker while
  /// `OnExecute` runs and read by the main-thread events without a lock: handlers that change
  /// it from both sides must bring their own synchronisation.
  void* Data = nullptr;

  /// Progress in percent, read by the update timer. Any thread.
  int Percent() const { return percent_.load(std::memory_order_relaxed); }
  void SetPercent(int percent) { percent_.store(percent, std::memory_order_relaxed); }

  /// True once the owner asked the worker to end; `OnExecute` is expected to watch it.
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

  /// Worker thread: blocks while the thread is suspended and not terminated.
  void CheckSuspended();

 private:
  friend class TWorkerThread;
  TWorkerExecuteThread() = default;

  void Terminate();
  void SetSuspended(bool suspended);

  std::atomic<int> percent_{0};
  std::atomic<bool> terminated_{false};
  std::thread thread_;
  std::atomic<pid_t> tid_{0};  // the kernel's id of the worker, for its priority
  std::mutex gate_mutex_;
  std::condition_variable gate_;
  bool suspended_ = false;  // guarded by gate_mutex_
};

/// The worker-thread component. See the file comment for the threads.
class TWorkerThread : public TWorkerThreadBase {
 public:
  TWorkerThread();
  /// Stops the update timer and, when a worker runs, sets its terminated flag and waits for
  /// it to end, running the main thread's pending calls meanwhile; no `OnTerminate` and no
  /// group notification follow. The wait is bounded by `kDestroyWaitLimit`: a worker still
  /// running then is abandoned to finish on its own (its `OnExecute` must not use objects
  /// destroyed with the component), so closing the program never hangs on a slow handler.
  ~TWorkerThread() override;

  /// Worker thread: the work of one run. Unassigned: the worker ends at once.
  TWorkerDataNotifyEvent OnExecute;

  /// The update timer's interval in ms (default 100).
  unsigned RefreshInterval() const { return refresh_interval_; }
  void SetRefreshInterval(unsigned milliseconds);

  TThreadPriority Priority() const { return priority_; }
  /// Stored, and applied at once to a running worker.
  void SetPriority(TThreadPriority priority);

  bool UpdateEnabled() const { return update_enabled_; }
  /// Enables or disables the update timer to match when the value changes.
  void SetUpdateEnabled(bool enabled);

  bool IsRunning() const override { return worker_ != nullptr; }
  using TWorkerThreadBase::Start;
  /// Starts a worker with `data` unless one is running. When `OnStart` throws (or the thread
  /// cannot be made) the worker never runs: its group hears it end again, the component is idle
  /// as before, and the exception reaches the caller.
  void Start(void* data) override;
  /// Asks the running worker to end (resuming it first); no effect without one.
  void Stop() override;
  void Suspend() override;
  void Resume() override;

  /// Longest wait of the destructor for a running worker.
  static constexpr std::chrono::milliseconds kDestroyWaitLimit{5000};

 protected:
  void SendStarted(TWorkerThreadGroup& group) override;
  void SendTerminated(TWorkerThreadGroup& group) override;

 private:
  // What the worker thread reports its end to. Shared, so a worker abandoned by the
  // destructor reports to a link whose owner is gone instead of to freed memory.
  struct EndLink {
    std::mutex mutex;
    TWorkerThread* owner = nullptr;  // guarded by mutex; nullptr once abandoned
  };

  // Undoes a start that failed before its thread ran: forgets the worker and balances the
  // group's started notification.
  void AbandonStart();
  void UpdateTimerTick();
  void WorkerEnded(TWorkerExecuteThread* worker);
  void EnableTimer(bool enabled);
  static void ApplyPriority(TWorkerExecuteThread& worker, TThreadPriority priority);
  static void WorkerBody(std::shared_ptr<EndLink> link, TWorkerExecuteThread* worker,
                         TWorkerDataNotifyEvent on_execute);

  // Main thread only.
  MainThread& main_;
  std::unique_ptr<TWorkerExecuteThread> worker_;
  std::shared_ptr<EndLink> link_;
  unsigned refresh_interval_ = 100;
  TThreadPriority priority_ = TThreadPriority::tpNormal;
  bool update_enabled_ = false;
  bool timer_enabled_ = false;
  MainThread::TimerId timer_ = 0;
  bool destroying_ = false;

  // Held around the calls of OnUpdate, OnStart and OnTerminate.
  std::recursive_mutex lock_;
};

}  // namespace djkivo
