#include "app/qt_main_thread.h"

#include <QMetaObject>
#include <QTimer>

namespace djkivo {

QtMainThread::QtMainThread() : main_id_(std::this_thread::get_id()) {}

QtMainThread::~QtMainThread() {
  Close();
  for (auto& [id, timer] : timers_)
    delete timer;
}

void QtMainThread::Wake() {
  QMetaObject::invokeMethod(
      this, [this] { RunPending(); }, Qt::QueuedConnection);
}

void QtMainThread::Post(Task fn) {
  bool needs_wake = false;
  if (queue_.Push(std::move(fn), &needs_wake) && needs_wake)
    Wake();
}

bool QtMainThread::Call(Task fn) {
  if (IsMainThread()) {
    fn();
    return true;
  }
  return queue_.PushAndWait(std::move(fn), [this](bool needs_wake) {
    if (needs_wake)
      Wake();
  });
}

void QtMainThread::RunPending() {
  for (Task& task : queue_.TakeAll())
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

void QtMainThread::Close() { queue_.Close(); }

}  // namespace djkivo
