// The sleep inhibitor against a desktop portal on a private session bus, and against logind
// on a second private bus standing in for the system bus.
#include "app/sleep_inhibitor.h"

#include <poll.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>

#include <gtest/gtest.h>

#include "tests/app/bus_stub.h"

namespace djkivo::app {
namespace {

using namespace std::chrono_literals;
using Holder = SleepInhibitor::Holder;

constexpr char kHandle[] = "/org/freedesktop/portal/desktop/request/1_1/djkivo";

class SleepInhibitorTest : public PrivateBusTest {
 protected:
  static void SetUpTestSuite() {
    system_ = new test::PrivateBus(nullptr);
    PrivateBusTest::SetUpTestSuite();
  }
  static void TearDownTestSuite() {
    PrivateBusTest::TearDownTestSuite();
    delete system_;
    system_ = nullptr;
  }

  void SetUp() override {
    PrivateBusTest::SetUp();
    ASSERT_FALSE(system_->Address().empty()) << "dbus-daemon did not start";
  }

  void TearDown() override {
    for (int fd : lock_ends_)
      ::close(fd);
  }

  /// The desktop portal: each Inhibit answers with the same request handle.
  void StartPortal() {
    portal_ =
        std::make_unique<BusStub>(bus_->Address(), QStringLiteral("org.freedesktop.portal.Desktop"),
                                  QStringLiteral("/org/freedesktop/portal/desktop"));
    ASSERT_TRUE(portal_->Registered());
    portal_->On(QStringLiteral("Inhibit"), [](const QDBusMessage& call) {
      return call.createReply(QVariant::fromValue(QDBusObjectPath(kHandle)));
    });
    portal_->On(QStringLiteral("Close"),
                [](const QDBusMessage& call) { return call.createReply(); });
  }

  /// logind: each Inhibit answers with the write end of a new pipe, whose read end the test
  /// keeps, so the lock's release shows as the pipe's hang-up.
  void StartLogind() {
    logind_ =
        std::make_unique<BusStub>(system_->Address(), QStringLiteral("org.freedesktop.login1"),
                                  QStringLiteral("/org/freedesktop/login1"));
    ASSERT_TRUE(logind_->Registered());
    logind_->On(QStringLiteral("Inhibit"), [this](const QDBusMessage& call) {
      int ends[2];
      if (::pipe(ends) != 0)
        return call.createErrorReply(QDBusError::Failed, QStringLiteral("no pipe"));
      QDBusMessage reply = call.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[1])));
      ::close(ends[1]);  // the reply holds its own copy
      std::lock_guard<std::mutex> lock(mutex_);
      lock_ends_.push_back(ends[0]);
      return reply;
    });
  }

  /// Whether every copy of lock `index`'s descriptor has been closed.
  bool LockReleased(std::size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    pollfd end{lock_ends_.at(index), POLLIN, 0};
    return ::poll(&end, 1, 0) == 1 && (end.revents & POLLHUP) != 0;
  }

  QDBusConnection SystemBus() {
    return QDBusConnection::connectToBus(QString::fromStdString(system_->Address()),
                                         QStringLiteral("system-stand-in"));
  }

  bool Wait(const std::function<bool()>& done) { return ProcessEventsUntil(done, 30s); }
  void Settle() {
    ProcessEventsUntil([] { return false; }, 200ms);
  }

  static inline test::PrivateBus* system_ = nullptr;
  std::unique_ptr<BusStub> portal_;
  std::unique_ptr<BusStub> logind_;
  std::mutex mutex_;
  std::vector<int> lock_ends_;  // guarded by mutex_
};

TEST_F(SleepInhibitorTest, ThePortalHoldsOffSuspendingOnlyWhilePlaying) {
  StartPortal();
  StartLogind();
  SleepInhibitor inhibitor(QDBusConnection::sessionBus(), SystemBus());
  inhibitor.SetPlaying(true);
  ASSERT_TRUE(Wait([&] { return inhibitor.Held() == Holder::kPortal; }));
  inhibitor.SetPlaying(true);  // still playing: nothing new is asked
  Settle();
  const std::vector<QDBusMessage> asked = portal_->Calls(QStringLiteral("Inhibit"));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].interface(), QStringLiteral("org.freedesktop.portal.Inhibit"));
  EXPECT_EQ(asked[0].arguments().value(1).toUInt(), 4u) << "suspend only; idle blanking stays";

  inhibitor.SetPlaying(false);  // pause, stop or the end of a song
  ASSERT_TRUE(Wait([&] { return portal_->Calls(QStringLiteral("Close")).size() == 1; }));
  EXPECT_EQ(portal_->Calls(QStringLiteral("Close"))[0].path(), QString::fromLatin1(kHandle));
  EXPECT_EQ(inhibitor.Held(), Holder::kNone);
  EXPECT_TRUE(logind_->Calls(QStringLiteral("Inhibit")).empty());

  // Playing again asks again; a release asked for before the portal answered follows the
  // answer at once.
  inhibitor.SetPlaying(true);
  inhibitor.SetPlaying(false);
  ASSERT_TRUE(Wait([&] { return portal_->Calls(QStringLiteral("Close")).size() == 2; }));
  EXPECT_EQ(portal_->Calls(QStringLiteral("Inhibit")).size(), 2u);
  EXPECT_EQ(inhibitor.Held(), Holder::kNone);
}

TEST_F(SleepInhibitorTest, WithoutAPortalLogindHoldsItUntilPauseOrExit) {
  StartLogind();
  {
    SleepInhibitor inhibitor(QDBusConnection::sessionBus(), SystemBus());
    inhibitor.SetPlaying(true);
    ASSERT_TRUE(Wait([&] { return inhibitor.Held() == Holder::kLogind; }));
    const std::vector<QDBusMessage> asked = logind_->Calls(QStringLiteral("Inhibit"));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].arguments(),
              (QVariantList{QStringLiteral("sleep"), QStringLiteral("DJKivo云播放"),
                            QStringLiteral("Playing music"), QStringLiteral("block")}));
    EXPECT_FALSE(LockReleased(0));
    inhibitor.SetPlaying(false);
    // The stand-in's own copy of the descriptor goes with its sent reply, on its thread.
    EXPECT_TRUE(Wait([&] { return LockReleased(0); }));

    inhibitor.SetPlaying(true);
    ASSERT_TRUE(Wait([&] { return inhibitor.Held() == Holder::kLogind; }));
    EXPECT_FALSE(LockReleased(1));
  }  // exit while playing
  EXPECT_TRUE(Wait([&] { return LockReleased(1); }));
}

TEST_F(SleepInhibitorTest, WithNeitherServicePlayingGoesOn) {
  SleepInhibitor inhibitor(QDBusConnection::sessionBus(), SystemBus());
  inhibitor.SetPlaying(true);
  ASSERT_TRUE(Wait([&] { return !inhibitor.Requesting(); }));
  EXPECT_EQ(inhibitor.Held(), Holder::kNone);
  inhibitor.SetPlaying(false);
  // A service that comes later is asked at the next song.
  StartPortal();
  inhibitor.SetPlaying(true);
  ASSERT_TRUE(Wait([&] { return inhibitor.Held() == Holder::kPortal; }));
}

}  // namespace
}  // namespace djkivo::app
