// The network watcher against a NetworkManager played on a private bus standing in for the
// system bus: which state changes count as the network coming back.
#include "app/network_watcher.h"

#include <QDBusMessage>

#include <gtest/gtest.h>

#include "tests/app/bus_stub.h"

namespace djkivo::app {
namespace {

using namespace std::chrono_literals;

// NetworkManager's states (NMState).
constexpr uint kAsleep = 10;
constexpr uint kDisconnected = 20;
constexpr uint kConnecting = 40;
constexpr uint kConnectedSite = 60;
constexpr uint kConnectedGlobal = NetworkWatcher::kConnectedGlobal;

class NetworkWatcherTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    system_ = new test::PrivateBus(nullptr);
    TestApplication();
  }
  static void TearDownTestSuite() {
    delete system_;
    system_ = nullptr;
  }

  void SetUp() override {
    ASSERT_FALSE(system_->Address().empty()) << "dbus-daemon did not start";
    manager_ = std::make_unique<BusStub>(system_->Address(),
                                         QStringLiteral("org.freedesktop.NetworkManager"),
                                         QStringLiteral("/org/freedesktop/NetworkManager"));
    ASSERT_TRUE(manager_->Registered());
  }

  QDBusConnection SystemBus() {
    return QDBusConnection::connectToBus(QString::fromStdString(system_->Address()),
                                         QStringLiteral("system-stand-in"));
  }

  void Send(uint state) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/NetworkManager"),
        QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("StateChanged"));
    signal << state;
    manager_->Connection().send(signal);
  }

  static inline test::PrivateBus* system_ = nullptr;
  std::unique_ptr<BusStub> manager_;
};

TEST_F(NetworkWatcherTest, OnlyAReturnToFullConnectivityCounts) {
  const struct {
    const char* name;
    std::vector<uint> states;
    int backs;
  } kCases[] = {
      {"still connected", {kConnectedGlobal, kConnectedGlobal}, 0},
      {"a drop and its return", {kDisconnected, kConnecting, kConnectedGlobal}, 1},
      {"a resume from suspend", {kAsleep, kConnectedGlobal}, 1},
      {"the internet lost behind the access point", {kConnectedSite, kConnectedGlobal}, 1},
      {"two drops", {kDisconnected, kConnectedGlobal, kConnecting, kConnectedGlobal}, 2},
      {"lost and not back", {kDisconnected, kConnecting, kConnectedSite}, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    int backs = 0;
    NetworkWatcher watcher([&backs] { ++backs; }, SystemBus());
    ASSERT_TRUE(watcher.Watching());
    for (uint state : c.states)
      Send(state);
    // A last drop and return marks the end: once it is heard, everything before it was.
    Send(kDisconnected);
    Send(kConnectedGlobal);
    ASSERT_TRUE(ProcessEventsUntil([&] { return backs >= c.backs + 1; }, 30s));
    ProcessEventsUntil([] { return false; }, 100ms);
    EXPECT_EQ(backs, c.backs + 1);
  }
}

TEST_F(NetworkWatcherTest, ASignalFromAnotherSenderIsNotHeard) {
  int backs = 0;
  NetworkWatcher watcher([&backs] { ++backs; }, SystemBus());
  BusStub impostor(system_->Address(), QStringLiteral("org.example.Impostor"),
                   QStringLiteral("/org/freedesktop/NetworkManager"));
  for (uint state : {kDisconnected, kConnectedGlobal}) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/NetworkManager"),
        QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("StateChanged"));
    signal << state;
    impostor.Connection().send(signal);
  }
  Send(kDisconnected);
  Send(kConnectedGlobal);
  ASSERT_TRUE(ProcessEventsUntil([&] { return backs >= 1; }, 30s));
  ProcessEventsUntil([] { return false; }, 100ms);
  EXPECT_EQ(backs, 1);
}

TEST_F(NetworkWatcherTest, WithoutABusNothingIsWatched) {
  NetworkWatcher watcher([] {}, QDBusConnection(QStringLiteral("no such connection")));
  EXPECT_FALSE(watcher.Watching());
}

}  // namespace
}  // namespace djkivo::app
