// The song notifier against a notification server played on a private session bus.
#include "app/song_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <gtest/gtest.h>

#include "tests/app/bus_stub.h"

namespace djkivo::app {
namespace {

using namespace std::chrono_literals;

const QString kService = QStringLiteral("org.freedesktop.Notifications");

class SongNotifierTest : public PrivateBusTest {
 protected:
  void SetUp() override {
    PrivateBusTest::SetUp();
    StartServer();
  }

  /// A server numbering its notifications from 40, keeping a replaced one's id.
  void StartServer() {
    server_ = std::make_unique<BusStub>(bus_->Address(), kService,
                                        QStringLiteral("/org/freedesktop/Notifications"));
    ASSERT_TRUE(server_->Registered());
    server_->On(QStringLiteral("Notify"), [this](const QDBusMessage& call) {
      const uint replaces = call.arguments().value(1).toUInt();
      return call.createReply(replaces != 0 ? replaces : ++last_id_);
    });
  }

  std::vector<QDBusMessage> Notified() const { return server_->Calls(QStringLiteral("Notify")); }
  bool WaitForCalls(std::size_t count) {
    return ProcessEventsUntil([&] { return Notified().size() >= count; }, 30s);
  }

  std::unique_ptr<BusStub> server_;
  std::atomic<uint> last_id_{39};
};

TEST_F(SongNotifierTest, EachSongReplacesTheLastNotification) {
  SongNotifier notifier;
  notifier.Show(QStringLiteral("第一首"), QStringLiteral("DJ <A> & B"));
  ASSERT_TRUE(WaitForCalls(1));
  ASSERT_TRUE(ProcessEventsUntil([&] { return notifier.NotificationId() == 40; }, 30s));
  // Two songs before the server answers: the second waits, and both replace the first.
  notifier.Show(QStringLiteral("第二首"), QStringLiteral("b"));
  notifier.Show(QStringLiteral("第三首"), QStringLiteral("c"));
  ASSERT_TRUE(WaitForCalls(3));
  ProcessEventsUntil([] { return false; }, 200ms);  // nothing more is sent

  const std::vector<QDBusMessage> calls = Notified();
  ASSERT_EQ(calls.size(), 3u);
  const struct {
    uint replaces;
    const char* summary;
    const char* body;
  } expected[] = {{0, "第一首", "DJ &lt;A&gt; &amp; B"}, {40, "第二首", "b"}, {40, "第三首", "c"}};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const QVariantList args = calls[i].arguments();
    ASSERT_EQ(args.size(), 8) << i;
    EXPECT_EQ(args[0].toString(), QStringLiteral("DJKivo云播放"));
    EXPECT_EQ(args[1].toUInt(), expected[i].replaces) << i;
    EXPECT_EQ(args[3].toString(), QString::fromUtf8(expected[i].summary)) << i;
    EXPECT_EQ(args[4].toString(), QString::fromUtf8(expected[i].body)) << i;
  }
  EXPECT_EQ(qdbus_cast<QVariantMap>(calls[0].arguments()[6])
                .value(QStringLiteral("desktop-entry"))
                .toString(),
            QStringLiteral("org.example.djkivo"));
}

TEST_F(SongNotifierTest, TheSettingTurnsItOffAndAMissingServerCostsNothing) {
  SongNotifier notifier;
  notifier.SetEnabled(false);
  notifier.Show(QStringLiteral("x"), QStringLiteral("y"));
  ProcessEventsUntil([] { return false; }, 200ms);
  EXPECT_TRUE(Notified().empty());

  server_.reset();  // no notification server on the desktop
  notifier.SetEnabled(true);
  notifier.Show(QStringLiteral("x"), QStringLiteral("y"));
  notifier.Show(QStringLiteral("z"), QStringLiteral("w"));
  ProcessEventsUntil([] { return false; }, 500ms);
  EXPECT_EQ(notifier.NotificationId(), 0u);

  // Nothing was left waiting: once a server is there, the next song reaches it.
  StartServer();
  notifier.Show(QStringLiteral("v"), QStringLiteral("u"));
  ASSERT_TRUE(WaitForCalls(1));
  EXPECT_EQ(Notified()[0].arguments().value(3).toString(), QStringLiteral("v"));
}

}  // namespace
}  // namespace djkivo::app
