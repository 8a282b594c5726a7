#include "app/load_waiter.h"

#include <atomic>
#include <memory>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include "base/thread_name.h"

namespace djkivo::app {

QtLoadWaiter::QtLoadWaiter(std::function<void()> on_quit_during_load)
    : gui_thread_(std::this_thread::get_id()),
      on_quit_during_load_(std::move(on_quit_during_load)) {}

void QtLoadWaiter::Run(const std::function<void()>& load) {
  QCoreApplication* application = QCoreApplication::instance();
  if (std::this_thread::get_id() != gui_thread_ || application == nullptr) {
    load();
    return;
  }
  // Shared with the load thread's wake-up, which may be delivered after this call returned.
  struct Shared {
    std::atomic<bool> done{false};
    QEventLoop* loop = nullptr;  // GUI thread only; null once the wait is over
  };
  auto shared = std::make_shared<Shared>();
  QEventLoop loop;
  shared->loop = &loop;
  ++active_loads_;
  std::thread load_thread([&load, shared, application] {
    NameThisThread("djk-load");
    load();
    shared->done.store(true, std::memory_order_release);
    QMetaObject::invokeMethod(
        application,
        [shared] {
          if (shared->loop != nullptr)
            shared->loop->quit();
        },
        Qt::QueuedConnection);
  });
  while (!shared->done.load(std::memory_order_acquire)) {
    loop.exec();
    if (!shared->done.load(std::memory_order_acquire)) {
      // Only an application quit ends the loop before the load: leave it to the program.
      if (on_quit_during_load_)
        on_quit_during_load_();
      break;
    }
  }
  shared->loop = nullptr;
  load_thread.join();
  --active_loads_;
}

}  // namespace djkivo::app
