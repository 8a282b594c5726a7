// A desktop service played by a test on its private bus (a notification server, a portal,
// logind, a tray host): it answers each call with the test's function for that member and
// keeps every call it got. And the fixture of tests whose session bus is a private one.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QString>
#include <QThread>

#include <gtest/gtest.h>

#include "tests/app/qt_test_application.h"
#include "tests/support/private_bus.h"

namespace djkivo::app {

/// The service, on a connection of its own, answering on a thread of its own: the code under
/// test may call it synchronously from the GUI thread, as Qt does when it looks for a tray
/// host. The answers and the record are guarded by a mutex, so a test may read the record and
/// add answers any time.
class BusStub final : public QDBusVirtualObject {
 public:
  /// The function answering one member: the reply (or error) to `call`.
  using Answer = std::function<QDBusMessage(const QDBusMessage& call)>;

  /// Takes `service` on the bus at `address` and answers for `path` and every path below it.
  BusStub(const std::string& address, const QString& service, const QString& path)
      : connection_(QDBusConnection::connectToBus(QString::fromStdString(address),
                                                  QStringLiteral("stub%1").arg(++count_))),
        path_(path) {
    // Registered before the move: registering gives the object a child, which must be made on
    // the object's own thread (made from another it has no parent and is never freed), and moves
    // with it. Qt delivers the calls to the object's thread; the name is taken last, so no call
    // comes before the move.
    const bool object = connection_.registerVirtualObject(path, this, QDBusConnection::SubPath);
    thread_.start();
    moveToThread(&thread_);
    registered_ = object && connection_.registerService(service);
  }

  ~BusStub() override {
    connection_.unregisterObject(path_);
    QDBusConnection::disconnectFromBus(connection_.name());
    thread_.quit();
    thread_.wait();
  }

  /// Whether the service and its object are on the bus.
  bool Registered() const { return registered_; }
  QDBusConnection& Connection() { return connection_; }

  /// Answers `member` (of any interface) with `answer` from now on; members without one get
  /// an UnknownMethod error.
  void On(const QString& member, Answer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[member] = std::move(answer);
  }

  /// The calls of `member` so far, oldest first.
  std::vector<QDBusMessage> Calls(const QString& member) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<QDBusMessage> calls;
    for (const QDBusMessage& call : calls_)
      if (call.member() == member)
        calls.push_back(call);
    return calls;
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    Answer answer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(message);
      const auto found = answers_.find(message.member());
      if (found != answers_.end())
        answer = found->second;
      // Qt hands a virtual object its introspection calls too.
      if (!answer && message.member() == QStringLiteral("Introspect"))
        answer = [xml = QStringLiteral("<node>%1</node>").arg(introspection_)](
                     const QDBusMessage& call) { return call.createReply(xml); };
    }
    QDBusMessage reply = answer ? answer(message)
                                : message.createErrorReply(QDBusError::UnknownMethod,
                                                           QStringLiteral("not played here"));
    if (!message.isReplyRequired())
      return true;
    QDBusConnection(connection).send(reply);
    return true;
  }

  /// The interfaces' XML that introspection returns (callers such as QDBusInterface read it
  /// before they call); none by default.
  void SetIntrospection(const QString& xml) {
    std::lock_guard<std::mutex> lock(mutex_);
    introspection_ = xml;
  }

  QString introspect(const QString&) const override { return {}; }  // see handleMessage

 private:
  static inline std::atomic<int> count_{0};
  QThread thread_;
  QDBusConnection connection_;
  const QString path_;
  bool registered_ = false;
  mutable std::mutex mutex_;
  std::map<QString, Answer> answers_;  // guarded by mutex_
  std::vector<QDBusMessage> calls_;    // guarded by mutex_
  QString introspection_;              // guarded by mutex_
};

/// Tests whose program's session bus is a dbus-daemon of their own, started before the
/// program's application (and so before Qt's connection to the session bus). `Base` is the
/// fixture it extends (testing::Test, or the window's).
template <class Base>
class OnPrivateBus : public Base {
 protected:
  static void SetUpTestSuite() {
    bus_ = new test::PrivateBus;
    Base::SetUpTestSuite();
    TestApplication();
  }
  static void TearDownTestSuite() {
    Base::TearDownTestSuite();
    delete bus_;
    bus_ = nullptr;
  }
  void SetUp() override {
    ASSERT_FALSE(bus_->Address().empty()) << "dbus-daemon did not start";
    Base::SetUp();
  }

  static inline test::PrivateBus* bus_ = nullptr;
};

using PrivateBusTest = OnPrivateBus<testing::Test>;

}  // namespace djkivo::app
