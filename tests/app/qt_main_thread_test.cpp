#include "app/qt_main_thread.h"

#include <chrono>
#include <functional>

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include "tests/app/qt_test_application.h"
#include "tests/base/main_thread_contract.h"

namespace djkivo {
namespace {

using app::ProcessEventsUntil;

struct QtLoop {
  using Thread = QtMainThread;
  static void Prepare() { app::TestApplication(); }
  static bool PumpUntil(QtMainThread&, const std::function<bool()>& done,
                        std::chrono::milliseconds timeout) {
    return ProcessEventsUntil(done, timeout);
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, MainThreadContractTest, QtLoop);

// Posted calls also run from a nested Qt loop, such as the page load's wait.
TEST(QtMainThreadTest, PostedCallsRunFromANestedLoop) {
  app::TestApplication();
  QtMainThread main;
  bool ran = false;
  QEventLoop nested;
  QTimer::singleShot(0, [&] {
    main.Post([&] {
      ran = true;
      nested.quit();
    });
  });
  QTimer::singleShot(5000, &nested, &QEventLoop::quit);
  nested.exec();
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace djkivo
