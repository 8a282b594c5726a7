// The program's main thread bound to Qt's event loop.
#pragma once

#include <map>
#include <thread>

#include <QObject>

#include "base/call_queue.h"
#include "base/main_thread.h"

class QTimer;

namespace djkivo {

/// `MainThread` on the Qt GUI thread: posted calls run from Qt's event loop (also from a
/// nested loop, such as the page-load wait), timers are `QTimer`s.
///
/// Construct it on the GUI thread after the `QApplication`, install it with
/// `MainThread::Install`, and destroy it after every component that posts to it. `Close` (or
/// the destructor) drops queued calls and releases every thread blocked in `Call`, so a worker
/// never waits for a loop that is gone.
class QtMainThread final : public QObject, public MainThread {
 public:
  QtMainThread();
  ~QtMainThread() override;

  /// Any thread.
  void Post(Task fn) override;
  /// Any thread; inline on the GUI thread.
  bool Call(Task fn) override;
  /// GUI thread only.
  void RunPending() override;
  bool IsMainThread() const override;
  /// GUI thread only.
  TimerId StartTimer(std::chrono::milliseconds interval, Task fn) override;
  /// GUI thread only.
  void StopTimer(TimerId id) override;

  /// Shuts the queue down (see the class comment). Any thread; idempotent.
  void Close();

 private:
  // Posts one wake-up to Qt's loop for a batch of queued calls.
  void Wake();

  const std::thread::id main_id_;
  CallQueue queue_;
  // GUI thread only.
  std::map<TimerId, QTimer*> timers_;
  TimerId next_timer_ = 1;
};

}  // namespace djkivo
