#include "base/call_queue.h"

#include <memory>

namespace djkivo {

bool CallQueue::Push(Task fn, bool* needs_wake) {
  {
    std::lock_guard lock(mutex_);
    if (closed_)
      return false;
    queue_.push_back(std::move(fn));
    if (needs_wake != nullptr)
      *needs_wake = taken_since_push_;
    taken_since_push_ = false;
  }
  work_.notify_all();
  return true;
}

bool CallQueue::PushAndWait(Task fn, const std::function<void(bool needs_wake)>& on_queued) {
  // The flag lives on the heap: a closed queue drops the task, and with it the last other owner.
  auto done = std::make_shared<bool>(false);
  bool needs_wake = false;
  bool queued = Push(
      [this, done, fn = std::move(fn)] {
        fn();
        std::lock_guard lock(mutex_);
        *done = true;
        call_done_.notify_all();
      },
      &needs_wake);
  if (!queued)
    return false;
  on_queued(needs_wake);
  std::unique_lock lock(mutex_);
  call_done_.wait(lock, [&] { return *done || closed_; });
  return *done;
}

std::deque<CallQueue::Task> CallQueue::TakeAll() {
  std::deque<Task> batch;
  std::lock_guard lock(mutex_);
  batch.swap(queue_);
  taken_since_push_ = true;
  return batch;
}

void CallQueue::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  work_.wait_until(lock, deadline, [this] { return !queue_.empty() || closed_; });
}

void CallQueue::Close() {
  std::deque<Task> dropped;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped.swap(queue_);
  }
  work_.notify_all();
  call_done_.notify_all();
}

}  // namespace djkivo
