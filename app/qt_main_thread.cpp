#include "app/qt_main_thread.h"

#include <memory>

#include <QMetaObject>
#include <QTimer>

namespace djkivo {

QtMainThread::QtMainThread() : main_id_(std::this_thread::get_id()) {}

QtMainThread::~QtMainThread() {
  Close();
  for (auto& [id, timer] : timers_)
    delete timer;
}

bool QtMainThread::Enqueue(Task fn) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_)
      return false;
    queue_.push_back(std::move(fn));
    if (!wake_posted_) {
      wake_posted_ = true;
      wake = true;
    }
  }
  if (wake)
    QMetaObject::invokeMethod(this, [this] { RunPending(); }, Qt::QueuedConnection);
  return true;
}

void QtMainThread::Post(Task fn) { Enqueue(std::move(fn)); }

bool QtMainThread::Call(Task fn) {
  if (IsMainThread()) {
    fn();
    return true;
  }
  // The flag lives on the heap: a closed queue drops the task, and with it the last other owner.
  auto done = std::make_shared<bool>(false);
  bool queued = Enqueue([this, done, fn = std::move(fn)] {
    fn();
    std::lock_guard lock(mutex_);
    *done = true;
    call_done_.notify_all();
  });
  if (!queued)
    return false;
  std::unique_lock lock(mutex_);
  call_done_.wait(lock, [&] { return *done || closed_; });
  return *done;
}

void QtMainThread::RunPending() {
  std::deque<Task> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queue_);
    wake_posted_ = false;
  }
  for (Task& task : batch)
    task();
}

bool QtMainThread::IsMainThread() const { return std::this_thread::get_id() == main_id_; }

MainThread::TimerId QtMainThread::StartTimer(std::chrono::milliseconds interval, Task fn) {
  TimerId id = next_timer_++;
  auto* timer = new QTimer(this);
  timer->setInterval(interval);
  QObject::connect(timer, &QTimer::timeout, this, [fn = std::move(fn)] { fn(); });
  timer->start();
  timers_[id] = timer;
  return id;
}

void QtMainThread::StopTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end())
    return;
  it->second->stop();
  // A timer may stop itself from its own tick: delete it once that tick has returned.
  it->second->deleteLater();
  timers_.erase(it);
}

void QtMainThread::Close() {
  std::deque<Task> dropped;  // destroyed outside the lock: a task's captures may do anything
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped.swap(queue_);
  }
  call_done_.notify_all();
}

}  // namespace djkivo
