// TWorkerThreadGroup: gathers worker threads and nested groups and fans their events out.
// Main thread only, like the threads it gathers (see worker_thread.h).
#pragma once

#include <mutex>
#include <vector>

#include "desktop/worker_thread.h"

namespace djkivo {

/// A group of TWorkerThreads and nested groups.
///
/// Its own `OnStart` fires when the first worker below it starts and `OnTerminate` when the
/// last one ends; `OnThreadStart`/`OnThreadTerminate`/`OnThreadUpdate` fire for each worker.
/// `OnUpdate` hears only the reports of the running direct members with the highest
/// `UpdatePriority`. `Start`, `Stop`, `Suspend` and `Resume` go to each direct member in order.
class TWorkerThreadGroup : public TWorkerThreadBase {
 public:
  TWorkerThreadGroup() = default;
  /// Every direct member leaves the group first.
  ~TWorkerThreadGroup() override;

  TWorkerUpdateNotifyEvent OnThreadUpdate;
  TWorkerDataNotifyEvent OnThreadStart;
  TWorkerDataNotifyEvent OnThreadTerminate;

  /// Workers running below this group, nested groups included.
  int RunningCount() const;

  bool IsRunning() const override { return RunningCount() > 0; }
  using TWorkerThreadBase::Start;
  void Start(void* data) override;
  void Stop() override;
  void Suspend() override;
  void Resume() override;

 protected:
  void SendStarted(TWorkerThreadGroup& group) override;
  void SendTerminated(TWorkerThreadGroup& group) override;

 private:
  friend class TWorkerThreadBase;
  friend class TWorkerThread;

  /// Adds `item` as a direct member; false when that would make a cycle.
  bool Join(TWorkerThreadBase* item);
  void Leave(TWorkerThreadBase* item);

  // A worker of `thread` (a member here or below) started, ended or reports progress.
  void ThreadStarted(TWorkerThreadBase* thread, TWorkerExecuteThread& worker, void*& data);
  void ThreadTerminated(TWorkerThreadBase* thread, TWorkerExecuteThread& worker, void*& data);
  void ThreadUpdate(TWorkerThreadBase* thread, TWorkerExecuteThread& worker, void*& data,
                    int percent);

  std::vector<TWorkerThreadBase*> members_;  // guarded by lock_; direct members in join order
  int running_ = 0;                          // guarded by lock_
  // Held around changes of the member list and the running count and around OnThreadStart.
  mutable std::recursive_mutex lock_;
};

}  // namespace djkivo
