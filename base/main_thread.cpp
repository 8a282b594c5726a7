#include "base/main_thread.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace djkivo {

namespace {
std::atomic<MainThread*> g_main_thread{nullptr};
}  // namespace

MainThread* MainThread::Current() { return g_main_thread.load(std::memory_order_acquire); }

void MainThread::Install(MainThread* main_thread) {
  g_main_thread.store(main_thread, std::memory_order_release);
}

QueueMainThread::QueueMainThread() : main_id_(std::this_thread::get_id()) {}

QueueMainThread::~QueueMainThread() { Close(); }

void QueueMainThread::Post(Task fn) { queue_.Push(std::move(fn)); }

bool QueueMainThread::Call(Task fn) {
  if (IsMainThread()) {
    fn();
    return true;
  }
  return queue_.PushAndWait(std::move(fn), [](bool) {});  // Pump wakes on any push
}

void QueueMainThread::RunPending() { RunDue(); }

bool QueueMainThread::IsMainThread() const { return std::this_thread::get_id() == main_id_; }

MainThread::TimerId QueueMainThread::StartTimer(std::chrono::milliseconds interval, Task fn) {
  TimerId id = next_timer_++;
  timers_[id] = Timer{interval, std::chrono::steady_clock::now() + interval, std::move(fn)};
  return id;
}

void QueueMainThread::StopTimer(TimerId id) { timers_.erase(id); }

int QueueMainThread::RunDue() {
  int ran = 0;
  for (auto& task : queue_.TakeAll()) {
    task();
    ++ran;
  }
  auto now = std::chrono::steady_clock::now();
  // A timer may stop itself or others while it runs, so look each one up again.
  std::vector<TimerId> due;
  for (auto& [id, timer] : timers_)
    if (timer.due <= now)
      due.push_back(id);
  for (TimerId id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end())
      continue;
    it->second.due = now + it->second.interval;
    Task fn = it->second.fn;  // a copy: the timer may be stopped by its own tick
    fn();
    ++ran;
  }
  return ran;
}

int QueueMainThread::Pump(std::chrono::milliseconds max_wait) {
  auto deadline = std::chrono::steady_clock::now() + max_wait;
  for (auto& [id, timer] : timers_)
    if (timer.due < deadline)
      deadline = timer.due;
  queue_.WaitUntil(deadline);
  return RunDue();
}

bool QueueMainThread::PumpUntil(const std::function<bool()>& done,
                                std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline)
      return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    Pump(std::min(left, std::chrono::milliseconds(10)));
  }
  return true;
}

void QueueMainThread::Close() { queue_.Close(); }

}  // namespace djkivo
