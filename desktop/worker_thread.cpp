#include "desktop/worker_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cassert>

#include "base/thread_name.h"
#include "desktop/worker_thread_group.h"

namespace djkivo {

// --- TWorkerThreadBase ---

void TWorkerThreadBase::SetThreadGroup(TWorkerThreadGroup* group) {
  if (group == thread_group_)
    return;
  if (thread_group_ != nullptr) {
    TWorkerThreadGroup* old = thread_group_;
    thread_group_ = nullptr;
    old->Leave(this);
  }
  if (group != nullptr && group->Join(this))
    thread_group_ = group;
}

// --- TWorkerExecuteThread ---

TWorkerExecuteThread::~TWorkerExecuteThread() {
  assert(!thread_.joinable() && "a worker is joined or detached before it is freed");
}

void TWorkerExecuteThread::CheckSuspended() {
  std::unique_lock lock(gate_mutex_);
  gate_.wait(lock, [this] { return !suspended_ || Terminated(); });
}

void TWorkerExecuteThread::Terminate() {
  {
    std::lock_guard lock(gate_mutex_);
    terminated_.store(true, std::memory_order_release);
  }
  gate_.notify_all();
}

void TWorkerExecuteThread::SetSuspended(bool suspended) {
  {
    std::lock_guard lock(gate_mutex_);
    suspended_ = suspended;
  }
  gate_.notify_all();
}

// --- TWorkerThread ---

TWorkerThread::TWorkerThread() : main_(*MainThread::Current()) {
  assert(MainThread::Current() != nullptr && "install the main thread before creating workers");
}

TWorkerThread::~TWorkerThread() {
  destroying_ = true;
  EnableTimer(false);
  // Leave the group while the worker still counts as running, so the group's running count
  // drops with it; a worker forgotten silently would keep the group "running" forever.
  LeaveGroup();
  if (worker_) {
    worker_->Terminate();
    worker_->SetSuspended(false);
    auto deadline = std::chrono::steady_clock::now() + kDestroyWaitLimit;
    while (worker_ && std::chrono::steady_clock::now() < deadline) {
      main_.RunPending();
      if (worker_)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (worker_) {
      // Abandon it: the worker thread frees itself when OnExecute finally returns.
      std::lock_guard lock(link_->mutex);
      worker_->thread_.detach();
      link_->owner = nullptr;
      worker_.release();
    }
  }
}

void TWorkerThread::SetRefreshInterval(unsigned milliseconds) {
  refresh_interval_ = milliseconds;
  if (timer_enabled_) {
    EnableTimer(false);
    EnableTimer(true);
  }
}

void TWorkerThread::SetPriority(TThreadPriority priority) {
  priority_ = priority;
  if (worker_)
    ApplyPriority(*worker_, priority);
}

void TWorkerThread::SetUpdateEnabled(bool enabled) {
  if (enabled == update_enabled_)
    return;
  update_enabled_ = enabled;
  EnableTimer(enabled);
}

void TWorkerThread::Start(void* data) {
  if (worker_)
    return;
  worker_.reset(new TWorkerExecuteThread());
  worker_->Data = data;
  link_ = std::make_shared<EndLink>();
  link_->owner = this;
  if (ThreadGroup())
    SendStarted(*ThreadGroup());
  TWorkerExecuteThread* worker = worker_.get();
  try {
    if (OnStart) {
      std::lock_guard lock(lock_);
      OnStart(this, *worker, worker->Data);
    }
    worker->thread_ = std::thread(&TWorkerThread::WorkerBody, link_, worker, OnExecute);
  } catch (...) {
    AbandonStart();
    throw;
  }
  ApplyPriority(*worker, priority_);
  if (update_enabled_)
    EnableTimer(true);
}

void TWorkerThread::AbandonStart() {
  std::unique_ptr<TWorkerExecuteThread> unstarted = std::move(worker_);
  link_.reset();
  if (ThreadGroup())
    ThreadGroup()->ThreadTerminated(this, *unstarted, unstarted->Data);
}

void TWorkerThread::Stop() {
  if (!worker_)
    return;
  worker_->SetSuspended(false);
  worker_->Terminate();
}

void TWorkerThread::Suspend() {
  if (worker_)
    worker_->SetSuspended(true);
}

void TWorkerThread::Resume() {
  if (worker_)
    worker_->SetSuspended(false);
}

void TWorkerThread::SendStarted(TWorkerThreadGroup& group) {
  if (worker_)
    group.ThreadStarted(this, *worker_, worker_->Data);
}

void TWorkerThread::SendTerminated(TWorkerThreadGroup& group) {
  if (worker_)
    group.ThreadTerminated(this, *worker_, worker_->Data);
}

void TWorkerThread::WorkerBody(std::shared_ptr<EndLink> link, TWorkerExecuteThread* worker,
                               TWorkerDataNotifyEvent on_execute) {
  NameThisThread("djk-worker");
  worker->tid_.store(static_cast<pid_t>(::syscall(SYS_gettid)), std::memory_order_release);
  TWorkerThreadBase* sender;
  MainThread* main;
  {
    std::lock_guard lock(link->mutex);
    sender = link->owner;
    main = sender ? &link->owner->main_ : nullptr;
  }
  if (on_execute && sender) {
    // An exception ends the worker; the end sequence runs as usual and nothing is shown.
    try {
      on_execute(sender, *worker, worker->Data);
    } catch (...) {
    }
  }
  std::lock_guard lock(link->mutex);
  if (link->owner == nullptr) {
    delete worker;  // abandoned by a destroyed owner, and detached by it
    return;
  }
  main->Post([link, worker] {
    std::unique_lock inner(link->mutex);
    TWorkerThread* owner = link->owner;
    if (owner == nullptr) {
      delete worker;  // abandoned after the end was posted
      return;
    }
    inner.unlock();
    owner->WorkerEnded(worker);
  });
}

void TWorkerThread::WorkerEnded([[maybe_unused]] TWorkerExecuteThread* worker) {
  assert(worker == worker_.get() && "the end of a worker this component did not start");
  EnableTimer(false);
  std::unique_ptr<TWorkerExecuteThread> ending = std::move(worker_);
  ending->thread_.join();  // it has posted its end and is returning
  if (destroying_)
    return;
  if (ThreadGroup())
    ThreadGroup()->ThreadTerminated(this, *ending, ending->Data);
  if (OnTerminate) {
    std::lock_guard lock(lock_);
    OnTerminate(this, *ending, ending->Data);
  }
  EnableTimer(update_enabled_);
}

void TWorkerThread::UpdateTimerTick() {
  if (!worker_)
    return;
  int percent = worker_->Percent();
  if (ThreadGroup())
    ThreadGroup()->ThreadUpdate(this, *worker_, worker_->Data, percent);
  if (OnUpdate && worker_) {
    std::lock_guard lock(lock_);
    OnUpdate(this, *worker_, worker_->Data, percent);
  }
}

void TWorkerThread::EnableTimer(bool enabled) {
  if (enabled == timer_enabled_)
    return;
  timer_enabled_ = enabled;
  if (enabled && refresh_interval_ == 0)
    timer_ = 0;  // like any timer with interval 0, it never fires
  else if (enabled)
    timer_ = main_.StartTimer(std::chrono::milliseconds(refresh_interval_),
                              [this] { UpdateTimerTick(); });
  else
    main_.StopTimer(timer_);
}

void TWorkerThread::ApplyPriority(TWorkerExecuteThread& worker, TThreadPriority priority) {
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -15};
  // Wait the few microseconds until the new thread has published its id.
  pid_t tid;
  while ((tid = worker.tid_.load(std::memory_order_acquire)) == 0 && worker.thread_.joinable())
    std::this_thread::yield();
  // Raising a thread above normal needs privileges; without them it stays where it is.
  if (tid != 0)
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kNice[static_cast<int>(priority)]);
}

}  // namespace djkivo
