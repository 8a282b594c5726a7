#include "base/event.h"

namespace djkivo {

void Event::Set() {
  // Notify under the lock: a waiter that wakes may destroy the event at once, so Set must not
  // touch it after the waiter can see `set_`.
  std::lock_guard lock(mutex_);
  set_ = true;
  if (manual_reset_)
    cond_.notify_all();
  else
    cond_.notify_one();
}

void Event::Reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool Event::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!cond_.wait_for(lock, timeout, [this] { return set_; }))
    return false;
  if (!manual_reset_)
    set_ = false;
  return true;
}

bool Event::IsSet() const {
  std::lock_guard lock(mutex_);
  return set_;
}

}  // namespace djkivo
