// One QApplication for a window test program, on the offscreen platform unless the caller chose
// another (the screenshot script runs under Xvfb).
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QtGlobal>

#include <chrono>
#include <functional>

#include "app/core/heap_policy.h"

namespace djkivo::app {

/// Creates the process's QApplication on first use, with the allocator set up as the program
/// sets it up. Call it from each test (or fixture) that needs Qt; the application lives until
/// the program ends.
inline QApplication& TestApplication() {
  static QApplication* application = [] {
    LimitHeapGrowth();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
      qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "djkivo-test";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *application;
}

/// Processes Qt events until `done()` or `timeout`; returns `done()`.
inline bool ProcessEventsUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() >= timeout.count())
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

/// After a test made the application quit (`QCoreApplication::exit`), Qt refuses to start
/// event loops until its main loop has run once more: run it and end it at once.
inline void ClearApplicationQuit() {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  QCoreApplication::exec();
}

}  // namespace djkivo::app
