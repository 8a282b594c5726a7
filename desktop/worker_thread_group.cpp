#include "desktop/worker_thread_group.h"

#include <algorithm>

namespace djkivo {

TWorkerThreadGroup::~TWorkerThreadGroup() {
  while (true) {
    TWorkerThreadBase* member;
    {
      std::lock_guard lock(lock_);
      if (members_.empty())
        break;
      member = members_.front();
    }
    member->SetThreadGroup(nullptr);
  }
  LeaveGroup();
}

int TWorkerThreadGroup::RunningCount() const {
  std::lock_guard lock(lock_);
  return running_;
}

void TWorkerThreadGroup::Start(void* data) {
  for (TWorkerThreadBase* member : std::vector(members_))
    member->Start(data);
}

void TWorkerThreadGroup::Stop() {
  for (TWorkerThreadBase* member : std::vector(members_))
    member->Stop();
}

void TWorkerThreadGroup::Suspend() {
  for (TWorkerThreadBase* member : std::vector(members_))
    member->Suspend();
}

void TWorkerThreadGroup::Resume() {
  for (TWorkerThreadBase* member : std::vector(members_))
    member->Resume();
}

void TWorkerThreadGroup::SendStarted(TWorkerThreadGroup& group) {
  for (TWorkerThreadBase* member : std::vector(members_))
    member->SendStarted(group);
}

void TWorkerThreadGroup::SendTerminated(TWorkerThreadGroup& group) {
  for (TWorkerThreadBase* member : std::vector(members_))
    member->SendTerminated(group);
}

bool TWorkerThreadGroup::Join(TWorkerThreadBase* item) {
  for (TWorkerThreadBase* parent = this; parent != nullptr; parent = parent->ThreadGroup())
    if (parent == item)
      return false;
  if (item->IsRunning())
    item->SendStarted(*this);
  std::lock_guard lock(lock_);
  members_.push_back(item);
  return true;
}

void TWorkerThreadGroup::Leave(TWorkerThreadBase* item) {
  if (item->IsRunning())
    item->SendTerminated(*this);
  std::lock_guard lock(lock_);
  members_.erase(std::remove(members_.begin(), members_.end(), item), members_.end());
}

void TWorkerThreadGroup::ThreadStarted(TWorkerThreadBase* thread, TWorkerExecuteThread& worker,
                                       void*& data) {
  int before;
  {
    std::lock_guard lock(lock_);
    before = running_++;
    if (OnThreadStart)
      OnThreadStart(thread, worker, data);
  }
  if (ThreadGroup())
    ThreadGroup()->ThreadStarted(thread, worker, data);
  if (before == 0 && OnStart)
    OnStart(thread, worker, data);
}

void TWorkerThreadGroup::ThreadTerminated(TWorkerThreadBase* thread, TWorkerExecuteThread& worker,
                                          void*& data) {
  int now;
  {
    std::lock_guard lock(lock_);
    if (running_ > 0)
      --running_;
    now = running_;
  }
  if (OnThreadTerminate)
    OnThreadTerminate(thread, worker, data);
  if (ThreadGroup())
    ThreadGroup()->ThreadTerminated(thread, worker, data);
  if (now == 0 && OnTerminate)
    OnTerminate(thread, worker, data);
}

void TWorkerThreadGroup::ThreadUpdate(TWorkerThreadBase* thread, TWorkerExecuteThread& worker,
                                      void*& data, int percent) {
  if (OnThreadUpdate)
    OnThreadUpdate(thread, worker, data, percent);
  if (!OnUpdate)
    return;
  {
    std::lock_guard lock(lock_);
    for (TWorkerThreadBase* member : members_)
      if (member->IsRunning() && member->UpdatePriority > thread->UpdatePriority)
        return;
  }
  OnUpdate(thread, worker, data, percent);
}

}  // namespace djkivo
